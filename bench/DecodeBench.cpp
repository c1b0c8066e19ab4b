// What decoding a 5120x2880 JPEG costs on each road: libjpeg-turbo alone into
// a reused or a fresh buffer, TJPEGImage into its 24-bit view, straight into a
// TBitmap32, and LoadPictureFile from a file.
//
//   bench_decode [--jpeg=FILE] [benchmark options]
//
// Without --jpeg the photo is made as bench_stretch makes it: the middle
// 2560x1440 of the boats-at-dusk photo of plasma-workspace-wallpapers four
// times, mirrored, encoded by TJPEGImage at quality 92 (baseline, 4:2:0).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchPhoto.h"
#include "imageio/Bitmap.h"
#include "imageio/JPEGImage.h"
#include "imageio/Streams.h"
#include "imageio/PictureRows.h"
#include "imageio/decoders/FileFormatList.h"
#include "platform/LargeBlock.h"
#include "raster/Bitmap32.h"

namespace {

using namespace palvex;
using namespace palvex::bench;

std::vector<uint8_t> g_jpeg;
std::string g_file; // g_jpeg written out, for LoadPictureFile

std::unique_ptr<TJPEGImage> Load(const std::vector<uint8_t>& bytes)
{
    TMemoryStream stream(bytes);
    auto image = std::make_unique<TJPEGImage>();
    image->LoadStream(stream);
    return image;
}

// libjpeg-turbo alone with TJPEGImage's settings (float DCT, BGRA rows) into
// pixels, which must hold the whole picture.
bool DecodeRaw(const std::vector<uint8_t>& bytes, uint8_t* pixels, size_t capacity)
{
    return DecodeWithLibjpeg(bytes, JCS_EXT_BGRA, true,
                             [&](size_t need, int, int) { return need <= capacity ? pixels : nullptr; });
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
    g_jpeg = LoadBenchPhoto(path);
    if (g_jpeg.empty())
        return 1;
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("bench-decode-" + std::to_string(std::random_device{}()) + ".jpg");
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(g_jpeg.data()), static_cast<std::streamsize>(g_jpeg.size()));
    std::error_code error;
    if (std::filesystem::file_size(file, error) != g_jpeg.size()) {
        std::fprintf(stderr, "cannot write a temporary copy of the photo\n");
        return 1;
    }
    g_file = file.string();
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove(file);
    return 0;
}
