// Embedded colour profiles: converted to sRGB as Little CMS converts them,
// the same from every format, and ignored (not fatal) when broken.
#include <algorithm>
#include <cstring>

#include <lcms2.h>

#include "TestMain.h"
#include "decoders/DecoderTestUtil.h"
#include "imageio/ColorProfile.h"
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

} // namespace
} // namespace palvex::test
