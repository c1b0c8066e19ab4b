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

#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchPhoto.h"
#include "imageio/Bitmap.h"
#include "imageio/JPEGImage.h"
#include "imageio/Streams.h"
#include "raster/Bitmap32.h"
#include "raster/Stretch.h"
#include "raster/StretchInternals.h"

namespace {

using namespace palvex;
using namespace palvex::bench;

std::string g_jpegPath;
std::string g_savePath;
std::vector<uint8_t> g_jpegBytes;

// TJPEGImage's own decoding: float DCT, blue-green-red rows into a 24-bit view.
void DecodeLikeTheBatchRun(const std::vector<uint8_t>& bytes, TBitmap32* into)
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

const TBitmap32& Photo()
{
    static TBitmap32* photo = [] {
        auto* b = new TBitmap32;
        if (!DecodeWithLibjpeg(g_jpegBytes, JCS_EXT_BGRA, false, [&](size_t, int w, int h) {
                b->SetSize(w, h);
                return reinterpret_cast<uint8_t*>(b->PixelData());
            }))
            throw std::runtime_error("cannot decode " + g_jpegPath);
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
    std::vector<uint8_t> pixels;
    int w = 0, h = 0;
    for (auto _ : state) {
        if (!DecodeWithLibjpeg(g_jpegBytes, JCS_EXT_BGR, true, [&](size_t bytes, int width, int height) {
                pixels.resize(bytes);
                w = width;
                h = height;
                return pixels.data();
            }))
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
    g_jpegBytes = LoadBenchPhoto(g_jpegPath);
    if (g_jpegBytes.empty())
        return 1;
    if (!g_savePath.empty())
        std::ofstream(g_savePath, std::ios::binary)
            .write(reinterpret_cast<const char*>(g_jpegBytes.data()), static_cast<std::streamsize>(g_jpegBytes.size()));
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
