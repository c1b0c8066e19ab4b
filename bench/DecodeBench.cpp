// What decoding a 5120x2880 JPEG costs on each road: libjpeg-turbo alone into
// a reused or a fresh buffer, TJPEGImage into its 24-bit view, straight into a
// TBitmap32, and TBitmap32::LoadPictureFile from a file.
//
//   bench_decode [--jpeg=FILE] [benchmark options]
//
// Without --jpeg the photo is made as bench_stretch makes it: the middle
// 2560x1440 of the boats-at-dusk photo of plasma-workspace-wallpapers four
// times, mirrored, encoded by TJPEGImage at quality 92 (baseline, 4:2:0).
#include <benchmark/benchmark.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include <jpeglib.h>

#include "imageio/Bitmap.h"
#include "imageio/JPEGImage.h"
#include "imageio/Streams.h"
#include "imageio/PictureRows.h"
#include "imageio/decoders/FileFormatList.h"
#include "platform/LargeBlock.h"
#include "raster/Bitmap32.h"

namespace {

using namespace palvex;

const char* const kPhotoSource = "/usr/share/wallpapers/EveningGlow/contents/images/2560x1600.jpg";
std::vector<uint8_t> g_jpeg;
std::string g_file; // g_jpeg written out, for LoadPictureFile

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::unique_ptr<TJPEGImage> Load(const std::vector<uint8_t>& bytes)
{
    TMemoryStream stream(bytes);
    auto image = std::make_unique<TJPEGImage>();
    image->LoadStream(stream);
    return image;
}

std::vector<uint8_t> MakePhoto()
{
    const std::vector<uint8_t> source = ReadBytes(kPhotoSource);
    if (source.empty())
        throw std::runtime_error(std::string("cannot read ") + kPhotoSource +
                                 " (install plasma-workspace-wallpapers or pass --jpeg=FILE)");
    TBitmap32 small, large;
    Load(source)->DecodeInto(small);
    if (small.Width() < 2560 || small.Height() < 1440)
        throw std::runtime_error(std::string(kPhotoSource) + " is smaller than 2560x1440");
    large.SetSize(5120, 2880);
    const int top = (small.Height() - 1440) / 2;
    for (int y = 0; y < 2880; ++y) {
        const TColor32* in = small.RowAddress(top + (y < 1440 ? y : 2879 - y));
        TColor32* out = large.RowAddress(y);
        for (int x = 0; x < 5120; ++x)
            out[x] = in[x < 2560 ? x : 5119 - x];
    }
    TJPEGImage jpeg;
    jpeg.SetEncodingQuality(92);
    jpeg.CompressPixels(large);
    return std::vector<uint8_t>(jpeg.Data().Data->begin(), jpeg.Data().Data->end());
}

struct TJumpError {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
};

void OnError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<TJumpError*>(info->err)->Jump, 1);
}

// libjpeg-turbo alone with TJPEGImage's settings (float DCT, BGRA rows) into
// pixels, which must hold the whole picture. No C++ object lives in the scope
// that longjmp leaves.
bool DecodeRaw(const std::vector<uint8_t>& bytes, uint8_t* pixels, size_t capacity)
{
    jpeg_decompress_struct info;
    TJumpError error;
    info.err = jpeg_std_error(&error.Base);
    error.Base.error_exit = OnError;
    if (setjmp(error.Jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRA;
    info.dct_method = JDCT_FLOAT;
    jpeg_start_decompress(&info);
    const size_t stride = size_t(info.output_width) * 4;
    if (stride * info.output_height > capacity)
        longjmp(error.Jump, 1);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels + size_t(info.output_scanline) * stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

size_t PictureBytes()
{
    auto image = Load(g_jpeg);
    return size_t(image->Width()) * size_t(image->Height()) * 4;
}

// The floor: decoding into memory that earlier iterations already touched.
void BM_RawReusedBuffer(benchmark::State& state)
{
    std::vector<uint8_t> pixels(PictureBytes());
    for (auto _ : state) {
        if (!DecodeRaw(g_jpeg, pixels.data(), pixels.size()))
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(pixels.data());
    }
}

// The same into a fresh picture-sized block, as any one-picture process has.
void BM_RawFreshBlock(benchmark::State& state)
{
    const size_t bytes = PictureBytes();
    for (auto _ : state) {
        void* block = AllocateLargeBlock(bytes);
        if (!DecodeRaw(g_jpeg, static_cast<uint8_t*>(block), bytes))
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(block);
        FreeLargeBlock(block);
    }
}

// TJPEGImage's 24-bit view, then drawn into a TBitmap32: the earlier road.
void BM_ViewThenDraw(benchmark::State& state)
{
    for (auto _ : state) {
        auto image = Load(g_jpeg);
        image->DecodedBitmap();
        TBitmap32 pixels;
        pixels.AssignFrom(*image);
        benchmark::DoNotOptimize(pixels.PixelData());
    }
}

// Straight into a fresh TBitmap32.
void BM_DecodeInto32(benchmark::State& state)
{
    for (auto _ : state) {
        auto image = Load(g_jpeg);
        TBitmap32 pixels;
        image->DecodeInto(pixels);
        benchmark::DoNotOptimize(pixels.PixelData());
    }
}

// The whole load of the batch run: file, registry, decoding.
void BM_LoadPictureFile(benchmark::State& state)
{
    TPictureFormatsScope formats;
    for (auto _ : state) {
        TBitmap32 pixels;
        LoadPictureFile(pixels, g_file);
        benchmark::DoNotOptimize(pixels.PixelData());
    }
}

BENCHMARK(BM_RawReusedBuffer)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_RawFreshBlock)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ViewThenDraw)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_DecodeInto32)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_LoadPictureFile)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

} // namespace

int main(int argc, char** argv)
{
    std::vector<char*> rest;
    std::string path;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--jpeg=", 7) == 0)
            path = argv[i] + 7;
        else
            rest.push_back(argv[i]);
    }
    try {
        g_jpeg = path.empty() ? MakePhoto() : ReadBytes(path);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    if (g_jpeg.empty()) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    char name[] = "/tmp/bench-decode-XXXXXX.jpg";
    const int fd = ::mkstemps(name, 4);
    if (fd < 0 || ::write(fd, g_jpeg.data(), g_jpeg.size()) != static_cast<ssize_t>(g_jpeg.size())) {
        std::fprintf(stderr, "cannot write a temporary copy of the photo\n");
        return 1;
    }
    ::close(fd);
    g_file = name;
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ::unlink(name);
    return 0;
}
