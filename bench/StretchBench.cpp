// The resampler's cost next to decoding the photo it works on: each filter
// reducing a 5120x2880 picture and enlarging a 640x480 one, and TJPEGImage
// decoding a 5120x2880 JPEG into memory as the batch run does, in one run.
//
//   bench_stretch [--jpeg=FILE] [--no-wide] [--no-simd] [benchmark options]
//
// --no-wide leaves out the 512-bit forms, --no-simd every SIMD form.
//
// Without --jpeg the photo is made from the boats-at-dusk photo of Debian's
// plasma-workspace-wallpapers (2560x1600): its middle 2560x1440 four times,
// mirrored, to 5120x2880, encoded by TJPEGImage at quality 92 (baseline,
// 4:2:0, as a camera writes). None of that package's 5120x2880 pictures is a
// photo. --save-photo=FILE writes the bytes used.
#include <benchmark/benchmark.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "imageio/Bitmap.h"
#include "imageio/JPEGImage.h"
#include "imageio/Streams.h"
#include "raster/Bitmap32.h"
#include "raster/Stretch.h"
#include "raster/StretchInternals.h"

namespace {

using namespace palvex;

const char* const kPhotoSource = "/usr/share/wallpapers/EveningGlow/contents/images/2560x1600.jpg";
std::string g_jpegPath;
std::string g_savePath;
std::vector<unsigned char> g_jpegBytes;

std::vector<unsigned char> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// TJPEGImage's own decoding: float DCT, blue-green-red rows into a 24-bit view.
void DecodeLikeTheBatchRun(const std::vector<unsigned char>& bytes, TBitmap32* into)
{
    TMemoryStream stream(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    TJPEGImage image;
    image.LoadStream(stream);
    const TBitmap& view = image.DecodedBitmap();
    if (into) {
        into->SetSize(view.Width(), view.Height());
        for (int y = 0; y < view.Height(); ++y)
            view.ReadRow32(y, into->RowAddress(y));
        into->MakeOpaque();
    }
}

std::vector<unsigned char> MakePhoto()
{
    const std::vector<unsigned char> source = ReadBytes(kPhotoSource);
    if (source.empty())
        throw std::runtime_error(std::string("cannot read ") + kPhotoSource +
                                 " (install plasma-workspace-wallpapers or pass --jpeg=FILE)");
    TBitmap32 small, large;
    DecodeLikeTheBatchRun(source, &small);
    if (small.Width() < 2560 || small.Height() < 1440)
        throw std::runtime_error(std::string(kPhotoSource) + " is smaller than 2560x1440");
    // Four mirrored copies of the middle 2560x1440: the photo's own detail at
    // every pixel, so the entropy decoder has as much to do as on a camera's
    // picture of this size (an enlargement would be smoother and decode faster).
    large.SetSize(5120, 2880);
    const int top = (small.Height() - 1440) / 2;
    for (int y = 0; y < 2880; ++y) {
        const int sy = top + (y < 1440 ? y : 2879 - y);
        TColor32* out = large.RowAddress(y);
        const TColor32* in = small.RowAddress(sy);
        for (int x = 0; x < 5120; ++x)
            out[x] = in[x < 2560 ? x : 5119 - x];
    }
    TBitmap bitmap;
    large.CopyTo(bitmap);
    TJPEGImage jpeg;
    jpeg.AssignFrom(bitmap);
    jpeg.SetEncodingQuality(92);
    TMemoryStream out;
    jpeg.SaveStream(out);
    return std::vector<unsigned char>(out.Bytes().begin(), out.Bytes().end());
}

struct JumpError {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void OnJpegError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JumpError*>(info->err)->jump, 1);
}

// Decodes into BGRA rows, or with TJPEGImage's settings (float DCT, BGR rows)
// when asked; false on a library error. No C++ object lives in the scope that
// longjmp leaves.
bool DecodeInto(const std::vector<unsigned char>& bytes, std::vector<unsigned char>& pixels, int& width, int& height,
                bool likeTJPEGImage)
{
    jpeg_decompress_struct info;
    JumpError error;
    info.err = jpeg_std_error(&error.base);
    error.base.error_exit = OnJpegError;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = likeTJPEGImage ? JCS_EXT_BGR : JCS_EXT_BGRA;
    if (likeTJPEGImage)
        info.dct_method = JDCT_FLOAT;
    const size_t bytesPerPixel = likeTJPEGImage ? 3 : 4;
    jpeg_start_decompress(&info);
    width = static_cast<int>(info.output_width);
    height = static_cast<int>(info.output_height);
    pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * bytesPerPixel);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + static_cast<size_t>(info.output_scanline) * static_cast<size_t>(width) * bytesPerPixel;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

const TBitmap32& Photo()
{
    static TBitmap32* photo = [] {
        std::vector<unsigned char> pixels;
        int w = 0, h = 0;
        if (!DecodeInto(g_jpegBytes, pixels, w, h, false))
            throw std::runtime_error("cannot decode " + g_jpegPath);
        auto* b = new TBitmap32;
        b->SetSize(w, h);
        std::memcpy(b->PixelData(), pixels.data(), pixels.size());
        return b;
    }();
    return *photo;
}

// A 640x480 picture cut from the middle of the photo.
const TBitmap32& SmallPhoto()
{
    static TBitmap32* small = [] {
        const TBitmap32& photo = Photo();
        auto* b = new TBitmap32;
        b->SetSize(640, 480);
        const int x0 = (photo.Width() - 640) / 2, y0 = (photo.Height() - 480) / 2;
        for (int y = 0; y < 480; ++y)
            std::memcpy(b->RowAddress(y), photo.PixelAddress(x0, y0 + y), 640 * 4);
        return b;
    }();
    return *small;
}

// The decoding itself, with TJPEGImage's settings, into a buffer that is
// reused from one iteration to the next.
void BM_DecodeJpeg(benchmark::State& state)
{
    std::vector<unsigned char> pixels;
    int w = 0, h = 0;
    for (auto _ : state) {
        if (!DecodeInto(g_jpegBytes, pixels, w, h, true))
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetLabel(std::to_string(w) + "x" + std::to_string(h));
}

// What the batch run pays per picture: a new TJPEGImage over the bytes and
// its decoded 24-bit view, allocated afresh each time.
void BM_DecodeJpegTJPEGImage(benchmark::State& state)
{
    for (auto _ : state)
        DecodeLikeTheBatchRun(g_jpegBytes, nullptr);
}

void Stretch(benchmark::State& state, const TBitmap32& source, int width, int height)
{
    const auto filter = static_cast<TStretchFilter>(state.range(0));
    TBitmap32 target;
    target.SetSize(width, height);
    const TRect full = target.FullRect();
    for (auto _ : state) {
        StretchCopy(&target, full, full, &source, source.FullRect(), filter, dmOpaque, {});
        benchmark::DoNotOptimize(target.PixelData());
    }
}

void BM_Reduce1536(benchmark::State& state) { Stretch(state, Photo(), 1536, 864); }
void BM_Reduce800(benchmark::State& state) { Stretch(state, Photo(), 800, 450); }
void BM_Enlarge1600(benchmark::State& state) { Stretch(state, SmallPhoto(), 1600, 1200); }

// The kernel path's weight lists alone, both axes of the 1536x864 reduction.
void BM_Weights1536(benchmark::State& state)
{
    const auto filter = static_cast<TStretchFilter>(state.range(0));
    std::vector<TContributionList> across, down;
    for (auto _ : state) {
        BuildContributionsXY(TRect{0, 0, 1536, 864}, TRect{0, 0, 1536, 864}, TRect{0, 0, 5120, 2880}, filter, across,
                             down);
        benchmark::DoNotOptimize(across.data());
        benchmark::DoNotOptimize(down.data());
    }
}

BENCHMARK(BM_DecodeJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Weights1536)->DenseRange(2, 6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeJpegTJPEGImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reduce1536)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reduce800)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Enlarge1600)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--jpeg=", 7) == 0)
            g_jpegPath = argv[i] + 7;
        else if (std::strncmp(argv[i], "--save-photo=", 13) == 0)
            g_savePath = argv[i] + 13;
        else if (std::strcmp(argv[i], "--no-wide") == 0)
            SetWideVectorPathsEnabled(false);
        else if (std::strcmp(argv[i], "--no-simd") == 0)
            SetVectorPathsEnabled(false);
        else
            rest.push_back(argv[i]);
    }
    try {
        if (g_jpegPath.empty()) {
            g_jpegBytes = MakePhoto();
            std::fprintf(stderr, "photo: %s, mirrored to 5120x2880, %zu bytes\n", kPhotoSource, g_jpegBytes.size());
        } else {
            g_jpegBytes = ReadBytes(g_jpegPath);
            std::fprintf(stderr, "photo: %s, %zu bytes\n", g_jpegPath.c_str(), g_jpegBytes.size());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    if (g_jpegBytes.empty()) {
        std::fprintf(stderr, "cannot read %s\n", g_jpegPath.c_str());
        return 1;
    }
    if (!g_savePath.empty())
        std::ofstream(g_savePath, std::ios::binary)
            .write(reinterpret_cast<const char*>(g_jpegBytes.data()), static_cast<std::streamsize>(g_jpegBytes.size()));
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
