// Helpers for the reader tests: loading through the registry, ImageMagick's
// decoding of the same file for comparison, and the mutation sweep.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestMain.h"

#include "imageio/FileFormats.h"
#include "imageio/Picture.h"
#include "imageio/Streams.h"
#include "imageio/decoders/FileFormatList.h"
#include "platform/Errors.h"
#include "raster/Bitmap32.h"

namespace palvex::test {

inline void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Registers the picture kinds for the fixture's lifetime.
class RegisteredFormats : public ::testing::Test {
protected:
    TPictureFormatsScope m_formats;
};

// The picture kind for an extension, empty, ready to LoadStream.
inline std::unique_ptr<TGraphic> CreateGraphic(const std::string& extension)
{
    const TGraphicClass* cls = FileFormats().FindClassForExtension(extension);
    if (!cls || !cls->Create)
        throw std::runtime_error("no picture kind for " + extension);
    return cls->Create();
}

// Decodes bytes with the kind of extension and copies the result into 32-bit
// pixels the way a batch run does.
inline void DecodeBytes(const std::string& extension, const std::vector<uint8_t>& bytes, TBitmap32& out)
{
    TMemoryStream stream(bytes);
    TPicture picture;
    std::unique_ptr<TGraphic> graphic = CreateGraphic(extension);
    graphic->LoadStream(stream);
    picture.SetGraphic(std::move(graphic));
    out.AssignFrom(&picture);
}

struct MagickPicture {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint8_t> RGBA; // 4 bytes a pixel, rows top to bottom
};

// ImageMagick's decoding of the first picture of a file (/usr/bin/convert; the
// first convert on some PATHs is not ImageMagick), with options applied first.
inline MagickPicture MagickDecode(const std::filesystem::path& path, const std::string& options = "")
{
    MagickPicture result;
    const std::string quoted = "'" + path.string() + "[0]' " + options;
    {
        const std::string cmd = "/usr/bin/convert " + quoted + " -format '%w %h' info: 2>/dev/null";
        FILE* p = ::popen(cmd.c_str(), "r");
        if (!p)
            return result;
        if (std::fscanf(p, "%d %d", &result.Width, &result.Height) != 2)
            result.Width = result.Height = 0;
        ::pclose(p);
    }
    const std::string cmd = "/usr/bin/convert " + quoted + " -depth 8 rgba:- 2>/dev/null";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return result;
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        result.RGBA.insert(result.RGBA.end(), buffer, buffer + n);
    ::pclose(p);
    return result;
}

// The largest per-channel difference between a decoded bitmap and
// ImageMagick's decoding; alpha is compared only when withAlpha is set.
// Returns -1 when the sizes differ.
inline int MaxChannelDifference(const TBitmap32& bitmap, const MagickPicture& magick, bool withAlpha)
{
    if (bitmap.Width() != magick.Width || bitmap.Height() != magick.Height ||
        magick.RGBA.size() != bitmap.PixelCount() * 4)
        return -1;
    int worst = 0;
    for (size_t i = 0; i < bitmap.PixelCount(); ++i) {
        const TColor32 c = bitmap.PixelData()[i];
        const uint8_t* m = &magick.RGBA[4 * i];
        const int d[4] = {std::abs(int(RedComponent(c)) - m[0]), std::abs(int(GreenComponent(c)) - m[1]),
                          std::abs(int(BlueComponent(c)) - m[2]),
                          withAlpha ? std::abs(int(AlphaComponent(c)) - m[3]) : 0};
        for (int v : d)
            worst = std::max(worst, v);
    }
    return worst;
}

// The largest and the mean difference of the colour channels of two
// pictures of one size (255 for both when the sizes differ).
struct ColourDifference {
    int most = 255;
    double mean = 255;
};

inline ColourDifference Difference(const TBitmap32& a, const TBitmap32& b)
{
    EXPECT_EQ(a.Width(), b.Width());
    EXPECT_EQ(a.Height(), b.Height());
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelCount() == 0)
        return {};
    int most = 0;
    double sum = 0;
    for (size_t i = 0; i < a.PixelCount(); ++i)
        for (int shift : {0, 8, 16}) {
            const int d = std::abs(int((a.PixelData()[i] >> shift) & 0xFF) - int((b.PixelData()[i] >> shift) & 0xFF));
            most = std::max(most, d);
            sum += d;
        }
    return {most, sum / (3.0 * double(a.PixelCount()))};
}

// Every prefix length (or every step-th one) and every byte flipped in the
// first headerBytes: each must give a picture or the system's own exception.
inline void MutationSweep(const std::string& extension, const std::vector<uint8_t>& bytes, size_t headerBytes = 64,
                          size_t truncateStep = 1)
{
    auto attempt = [&](const std::vector<uint8_t>& data) {
        try {
            TBitmap32 out;
            DecodeBytes(extension, data, out);
        } catch (const Exception&) {
        }
    };
    for (size_t len = 0; len < bytes.size(); len += truncateStep)
        attempt(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(len)));
    for (size_t i = 0; i < std::min(headerBytes, bytes.size()); ++i) {
        for (uint8_t mask : {uint8_t(0xFF), uint8_t(0x80), uint8_t(0x01)}) {
            std::vector<uint8_t> flipped = bytes;
            flipped[i] ^= mask;
            attempt(flipped);
        }
    }
}

} // namespace palvex::test
