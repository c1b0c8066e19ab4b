// The resampler's cost next to decoding the photo it works on: each filter
// reducing a 5120x2880 picture and enlarging a 640x480 one, and libjpeg-turbo
// decoding a 5120x2880 JPEG into memory, in one run.
//
//   bench_stretch [--jpeg=FILE] [benchmark options]
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

#include "raster/Bitmap32.h"
#include "raster/Stretch.h"

namespace {

using namespace palvex;

// A photo of the right size from Debian's plasma-workspace-wallpapers.
std::string g_jpegPath = "/usr/share/wallpapers/Volna/contents/images/5120x2880.jpg";
std::vector<unsigned char> g_jpegBytes;

struct JumpError {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void OnJpegError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JumpError*>(info->err)->jump, 1);
}

// Decodes into BGRA rows; false on a library error. No C++ object lives in
// the scope that longjmp leaves.
bool DecodeInto(const std::vector<unsigned char>& bytes, std::vector<unsigned char>& pixels, int& width, int& height)
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
    info.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&info);
    width = static_cast<int>(info.output_width);
    height = static_cast<int>(info.output_height);
    pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + static_cast<size_t>(info.output_scanline) * static_cast<size_t>(width) * 4;
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
        if (!DecodeInto(g_jpegBytes, pixels, w, h))
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

void BM_DecodeJpeg(benchmark::State& state)
{
    std::vector<unsigned char> pixels;
    int w = 0, h = 0;
    for (auto _ : state) {
        if (!DecodeInto(g_jpegBytes, pixels, w, h))
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetLabel(std::to_string(w) + "x" + std::to_string(h));
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

BENCHMARK(BM_DecodeJpeg)->Unit(benchmark::kMillisecond);
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
        else
            rest.push_back(argv[i]);
    }
    std::ifstream in(g_jpegPath, std::ios::binary);
    g_jpegBytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (g_jpegBytes.empty()) {
        std::fprintf(stderr, "cannot read %s (install plasma-workspace-wallpapers or pass --jpeg=FILE)\n",
                     g_jpegPath.c_str());
        return 1;
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
