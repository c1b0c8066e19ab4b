// Embedded colour profiles: converted to sRGB as Little CMS converts them,
// the same from every format, and ignored (not fatal) when broken.
#include <algorithm>
#include <cstring>

#include <lcms2.h>
#include <zlib.h>

#include "TestMain.h"
#include "decoders/DecoderTestUtil.h"
#include "imageio/ByteReader.h"
#include "imageio/ColorProfile.h"
#include "imageio/JPEGMetadata.h"
#include "imageio/PictureRows.h"
#include "imageio/decoders/FileFormatList.h"
#include "platform/Errors.h"

namespace palvex::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

using ColorProfile = RegisteredFormats;

std::unique_ptr<TBitmap32> Load(const fs::path& path, TPictureLoadOptions options = {})
{
    auto pixels = std::make_unique<TBitmap32>();
    LoadPictureFile(*pixels, path.string(), options);
    return pixels;
}

Bytes Saved(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    Bytes bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

TEST_F(ColorProfile, EveryFormatConvertsItsProfileAsLittleCMSDoes)
{
    const Bytes adobe = ReadFileBytes(DataDir() / "icc" / "gen__adobe_rgb.icc");
    cmsHPROFILE in = cmsOpenProfileFromMem(adobe.data(), cmsUInt32Number(adobe.size()));
    cmsHPROFILE out = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = cmsCreateTransform(in, TYPE_RGB_8, out, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    ASSERT_NE(transform, nullptr);
    // The same stored pixels in three formats.
    const auto stored = Load(DataDir() / "tif" / "gen__tif_adobe_rgb.tif", kPixelsAsStored);
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i < stored->PixelCount(); ++i) {
        const TColor32 c = stored->PixelData()[i];
        rgb.insert(rgb.end(), {uint8_t(RedComponent(c)), uint8_t(GreenComponent(c)), uint8_t(BlueComponent(c))});
    }
    cmsDoTransform(transform, rgb.data(), rgb.data(), cmsUInt32Number(stored->PixelCount()));
    cmsDeleteTransform(transform);
    cmsCloseProfile(in);
    cmsCloseProfile(out);
    for (const char* sample : {"tif/gen__tif_adobe_rgb.tif", "png/gen__png_adobe_rgb.png", "psd/gen__psd_adobe_rgb.psd"}) {
        SCOPED_TRACE(sample);
        EXPECT_TRUE(Load(DataDir() / sample, kPixelsAsStored)->PixelCount() == stored->PixelCount());
        const auto converted = Load(DataDir() / sample);
        ASSERT_EQ(converted->PixelCount(), stored->PixelCount());
        int most = 0, changed = 0;
        for (size_t i = 0; i < converted->PixelCount(); ++i) {
            const TColor32 c = converted->PixelData()[i];
            const int got[3] = {int(RedComponent(c)), int(GreenComponent(c)), int(BlueComponent(c))};
            for (int k = 0; k < 3; ++k)
                most = std::max(most, std::abs(got[k] - rgb[3 * i + k]));
            changed += c != stored->PixelData()[i];
            EXPECT_EQ(AlphaComponent(c), 255u);
        }
        EXPECT_LE(most, 1);
        EXPECT_GT(changed, int(stored->PixelCount() / 2));
    }
}

TEST_F(ColorProfile, BrokenOrPartialProfilesLoadThePixelsAsStored)
{
    const Bytes original = ReadFileBytes(DataDir() / "jpeg" / "gen__jpeg_adobe_rgb.jpg");
    const size_t chunk = std::search(original.begin(), original.end(), std::begin("ICC_PROFILE"),
                                     std::end("ICC_PROFILE") - 1) - original.begin();
    ASSERT_LT(chunk, original.size());
    TempDir dir;
    const auto write = [&](const std::string& name, const Bytes& bytes) {
        std::ofstream(dir.Path() / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                                  std::streamsize(bytes.size()));
        return dir.Path() / name;
    };
    Bytes noTags = original; // a profile whose tag table runs past its end
    noTags[chunk + 14 + 128] = 0x7F;
    Bytes tooLong = original; // the header claims more bytes than there are
    tooLong[chunk + 14] = 0x7F;
    Bytes halfOfTwo = original; // chunk 1 of 2, the other missing
    halfOfTwo[chunk + 13] = 2;
    Bytes gray = original; // a colour picture with its profile's space changed to gray
    std::memcpy(&gray[chunk + 14 + 16], "GRAY", 4);
    for (const auto& [name, bytes] : {std::pair{"tags.jpg", noTags}, std::pair{"long.jpg", tooLong},
                                      std::pair{"half.jpg", halfOfTwo}, std::pair{"gray.jpg", gray}}) {
        SCOPED_TRACE(name);
        const fs::path path = write(name, bytes);
        const auto asStored = Load(path, kPixelsAsStored);
        std::unique_ptr<TBitmap32> loaded;
        ASSERT_NO_THROW(loaded = Load(path));
        ASSERT_EQ(loaded->PixelCount(), asStored->PixelCount());
        EXPECT_EQ(std::memcmp(loaded->PixelData(), asStored->PixelData(), loaded->PixelCount() * 4), 0);
    }
}

TEST_F(ColorProfile, SRGBByItsEffectOrNameNeedsNothingOtherSpacesAreConverted)
{
    // Little CMS's sRGB under another name: it moves no colour, so nothing to do.
    cmsHPROFILE renamed = cmsCreate_sRGBProfile();
    cmsMLU* text = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(text, "en", "US", "Camera RGB");
    cmsWriteTag(renamed, cmsSigProfileDescriptionTag, text);
    cmsMLUfree(text);
    EXPECT_EQ(TColorConversion::ToSRGB(Saved(renamed), TColorModel::RGB), nullptr);
    // Linear gray: mid gray (128) is brighter in sRGB, 188; alpha stays.
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    const Bytes grayProfile = Saved(cmsCreateGrayProfile(cmsD50_xyY(), linear));
    cmsFreeToneCurve(linear);
    const auto gray = TColorConversion::ToSRGB(grayProfile, TColorModel::Gray);
    ASSERT_NE(gray, nullptr);
    TColor32 pixels[2] = {Color32(128, 128, 128, 77), Color32(0, 0, 0)};
    gray->ConvertPixels(pixels, 2);
    EXPECT_NEAR(int(GreenComponent(pixels[0])), 188, 1);
    EXPECT_EQ(AlphaComponent(pixels[0]), 77u);
    EXPECT_EQ(pixels[1], Color32(0, 0, 0));
    // A profile for other pixels, or cut short, is not used.
    EXPECT_EQ(TColorConversion::ToSRGB(grayProfile, TColorModel::RGB), nullptr);
    const Bytes p3 = ReadFileBytes(DataDir() / "icc" / "gen__display_p3.icc");
    EXPECT_NE(TColorConversion::ToSRGB(p3, TColorModel::RGB), nullptr);
    EXPECT_EQ(TColorConversion::ToSRGB(std::span(p3).first(p3.size() / 2), TColorModel::RGB), nullptr);
    EXPECT_EQ(TColorConversion::ToSRGB(p3, TColorModel::CMYK), nullptr);
}

// An uncompressed CMYK TIFF of one strip (little-endian): channels 8-bit
// samples a pixel, the inks first, and profile in its ICC Profile field.
Bytes CmykTiff(uint16_t width, uint16_t height, uint16_t channels, const Bytes& samples, const Bytes& profile)
{
    Bytes b = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto u16 = [&b](uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    const auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    const uint32_t entries = 12, bitsAt = 8 + 2 + entries * 12 + 4, profileAt = bitsAt + 2 * channels;
    const uint32_t pixelsAt = profileAt + uint32_t(profile.size() + profile.size() % 2);
    const uint32_t table[entries][4] = {
        {256, 3, 1, width},    {257, 3, 1, height}, {258, 3, channels, bitsAt},
        {259, 3, 1, 1},        {262, 3, 1, 5},      {273, 4, 1, pixelsAt},
        {277, 3, 1, channels}, {278, 3, 1, height}, {279, 4, 1, uint32_t(samples.size())},
        {284, 3, 1, 1},        {332, 3, 1, 1},      {34675, 7, uint32_t(profile.size()), profileAt}};
    u16(entries);
    for (const auto& [tag, type, count, value] : table) {
        u16(tag), u16(type), u32(count);
        type == 3 && count == 1 ? (u16(value), u16(0)) : u32(value);
    }
    u32(0);
    for (uint16_t c = 0; c < channels; ++c)
        u16(8);
    b.insert(b.end(), profile.begin(), profile.end());
    b.resize(pixelsAt);
    b.insert(b.end(), samples.begin(), samples.end());
    return b;
}

TEST_F(ColorProfile, CmykTiffIsConvertedAsTificcConvertsItWithSpotChannelsOrWithout)
{
    // The YCCK photo's printing profile on inks of every mix, as four
    // channels and with a fifth (a spot colour the file does not declare).
    const Bytes jpeg = ReadFileBytes(DataDir() / "jpeg" / "jpegdec__ycck.jpg");
    TByteReader in(jpeg, nullptr);
    const Bytes printing = ReadJPEGMetadata(in).ColorProfile;
    ASSERT_FALSE(printing.empty());
    const uint16_t width = 48, height = 16;
    Bytes inks, spot;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t cmyk[4] = {uint8_t(x * 5), uint8_t(y * 15), uint8_t((x * 3 + y * 7) * 3), uint8_t((x + y) * 2)};
            inks.insert(inks.end(), cmyk, cmyk + 4);
            spot.insert(spot.end(), cmyk, cmyk + 4);
            spot.push_back(uint8_t(255 - x));
        }
    TempDir dir;
    const auto write = [&](const char* name, const Bytes& bytes) {
        std::ofstream(dir.Path() / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                                  std::streamsize(bytes.size()));
        return dir.Path() / name;
    };
    const fs::path four = write("cmyk.tif", CmykTiff(width, height, 4, inks, printing));
    const fs::path five = write("spot.tif", CmykTiff(width, height, 5, spot, printing));
    const fs::path back = dir.Path() / "back.tif";
    const std::string command = "/usr/bin/tificc -w8 '" + four.string() + "' '" + back.string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const auto theirs = Load(back, kPixelsAsStored);
    const auto ours = Load(four);
    EXPECT_LE(Difference(*ours, *theirs).most, 1);
    const auto spotted = Load(five);
    ASSERT_EQ(spotted->PixelCount(), ours->PixelCount());
    EXPECT_EQ(std::memcmp(spotted->PixelData(), ours->PixelData(), ours->PixelCount() * 4), 0);
    // The naive mix is far off.
    EXPECT_GE(Difference(*Load(four, kPixelsAsStored), *theirs).mean, 5.0);
}

void AppendChunk(Bytes& png, const char* type, const Bytes& body)
{
    const auto u32 = [&png](uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            png.push_back(uint8_t(v >> shift));
    };
    u32(uint32_t(body.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), body.begin(), body.end());
    u32(uint32_t(crc32(0, &png[start], uInt(png.size() - start))));
}

Bytes Deflated(const Bytes& bytes)
{
    uLongf size = compressBound(uLong(bytes.size()));
    Bytes out(size);
    compress(out.data(), &size, bytes.data(), uLong(bytes.size()));
    out.resize(size);
    return out;
}

TEST_F(ColorProfile, SixteenBitSamplesAreConvertedBeforeTheyAreNarrowed)
{
    // Dark ramps of 16-bit linear light, where 8 bits would leave steps of a
    // dozen sRGB levels: a PNG with a linear profile, and the same as TIFF.
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    cmsToneCurve* curves[3] = {linear, linear, linear};
    cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
    cmsCIExyY white = {0.3127, 0.3290, 1};
    const Bytes profile = Saved(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(linear);
    const uint32_t width = 240, height = 3;
    std::vector<uint16_t> samples;
    Bytes rows;
    for (uint32_t y = 0; y < height; ++y) {
        rows.push_back(0);
        for (uint32_t x = 0; x < width; ++x)
            for (uint32_t c = 0; c < 3; ++c) {
                const auto v = uint16_t(x * (7 + 5 * ((y + c) % 3)));
                samples.push_back(v);
                rows.insert(rows.end(), {uint8_t(v >> 8), uint8_t(v)});
            }
    }
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    AppendChunk(png, "IHDR", {0, 0, 0, uint8_t(width), 0, 0, 0, uint8_t(height), 16, 2, 0, 0, 0});
    Bytes iccp = {'l', 'i', 'n', 'e', 'a', 'r', 0, 0};
    const Bytes packed = Deflated(profile);
    iccp.insert(iccp.end(), packed.begin(), packed.end());
    AppendChunk(png, "iCCP", iccp);
    AppendChunk(png, "IDAT", Deflated(rows));
    AppendChunk(png, "IEND", {});
    TempDir dir;
    const fs::path pngPath = dir.Path() / "linear.png", tiffPath = dir.Path() / "linear.tif";
    std::ofstream(pngPath, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    const std::string command = "/usr/bin/convert '" + pngPath.string() + "' -compress none '" + tiffPath.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);

    // Little CMS from the 16-bit samples straight to 8-bit sRGB.
    cmsHPROFILE in = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
    cmsHPROFILE out = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = cmsCreateTransform(in, TYPE_RGB_16, out, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    Bytes expected(samples.size());
    cmsDoTransform(transform, samples.data(), expected.data(), cmsUInt32Number(width * height));
    cmsDeleteTransform(transform);
    cmsCloseProfile(in);
    cmsCloseProfile(out);
    for (const fs::path& path : {pngPath, tiffPath}) {
        SCOPED_TRACE(path.filename().string());
        const auto loaded = Load(path);
        ASSERT_EQ(loaded->PixelCount(), size_t(width * height));
        int most = 0;
        for (size_t i = 0; i < loaded->PixelCount(); ++i) {
            const TColor32 c = loaded->PixelData()[i];
            const int got[3] = {int(RedComponent(c)), int(GreenComponent(c)), int(BlueComponent(c))};
            for (size_t k = 0; k < 3; ++k)
                most = std::max(most, std::abs(got[k] - int(expected[3 * i + k])));
        }
        EXPECT_LE(most, 1);
    }
}

} // namespace
} // namespace palvex::test
