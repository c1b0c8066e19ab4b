#include "BenchPhoto.h"

#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "imageio/JPEGImage.h"
#include "imageio/Streams.h"
#include "raster/Bitmap32.h"

namespace palvex::bench {

namespace {

struct TJumpError {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
};

void OnJpegError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<TJumpError*>(info->err)->Jump, 1);
}

} // namespace

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> MakeBenchPhoto()
{
    const std::vector<uint8_t> source = ReadFileBytes(kPhotoSource);
    if (source.empty())
        throw std::runtime_error(std::string("cannot read ") + kPhotoSource +
                                 " (install plasma-workspace-wallpapers or pass --jpeg=FILE)");
    TMemoryStream stream(source);
    TJPEGImage decoder;
    decoder.LoadStream(stream);
    TBitmap32 small, large;
    decoder.DecodeInto(small);
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

std::vector<uint8_t> LoadBenchPhoto(const std::string& path)
{
    std::vector<uint8_t> bytes;
    try {
        bytes = path.empty() ? MakeBenchPhoto() : ReadFileBytes(path);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return {};
    }
    if (bytes.empty())
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
    else if (path.empty())
        std::fprintf(stderr, "photo: %s, mirrored to 5120x2880, %zu bytes\n", kPhotoSource, bytes.size());
    else
        std::fprintf(stderr, "photo: %s, %zu bytes\n", path.c_str(), bytes.size());
    return bytes;
}

// No C++ object lives in the scope that longjmp leaves.
bool DecodeWithLibjpeg(const std::vector<uint8_t>& bytes, J_COLOR_SPACE space, bool floatDct,
                       const TDecodeTarget& target)
{
    jpeg_decompress_struct info;
    TJumpError error;
    info.err = jpeg_std_error(&error.Base);
    error.Base.error_exit = OnJpegError;
    if (setjmp(error.Jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = space;
    if (floatDct)
        info.dct_method = JDCT_FLOAT;
    jpeg_start_decompress(&info);
    const size_t stride = size_t(info.output_width) * static_cast<size_t>(info.output_components);
    uint8_t* pixels = target(stride * info.output_height, static_cast<int>(info.output_width),
                             static_cast<int>(info.output_height));
    if (!pixels)
        longjmp(error.Jump, 1);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels + size_t(info.output_scanline) * stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace palvex::bench
