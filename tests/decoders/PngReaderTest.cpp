// The PNG reader against ImageMagick's decoding of the sample suite, the
// suite's broken files, and cut or damaged data.
#include <filesystem>
#include <string>
#include <vector>

#include <zlib.h>

#include "TestMain.h"
#include "imageio/decoders/PNGGraphic.h"
#include "tests/decoders/DecoderTestUtil.h"

namespace palvex::test {
namespace {

namespace fs = std::filesystem;

fs::path PngDir() { return DataDir() / "png"; }

void PutU32BE(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

void AppendChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& body)
{
    PutU32BE(out, static_cast<uint32_t>(body.size()));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    PutU32BE(out, static_cast<uint32_t>(crc32(0, out.data() + typeAt, static_cast<uInt>(body.size() + 4))));
}

// A whole PNG file: signature, IHDR, the extra chunks, one IDAT of rows, IEND.
std::vector<uint8_t> BuildPng(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType,
                              const std::vector<uint8_t>& rawRows,
                              const std::vector<std::pair<const char*, std::vector<uint8_t>>>& extra = {})
{
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    PutU32BE(ihdr, width);
    PutU32BE(ihdr, height);
    ihdr.insert(ihdr.end(), {depth, colorType, 0, 0, 0});
    AppendChunk(out, "IHDR", ihdr);
    for (const auto& [type, body] : extra)
        AppendChunk(out, type, body);
    uLongf packedSize = compressBound(static_cast<uLong>(rawRows.size()));
    std::vector<uint8_t> packed(packedSize);
    compress(packed.data(), &packedSize, rawRows.data(), static_cast<uLong>(rawRows.size()));
    packed.resize(packedSize);
    AppendChunk(out, "IDAT", packed);
    AppendChunk(out, "IEND", {});
    return out;
}

// ImageMagick's decoding with the samples as stored: it would otherwise turn a
// file marked linear (gAMA 1.0) into sRGB, which this reader does not do.
MagickPicture MagickDecodeAsStored(const fs::path& path)
{
    TempDir temp;
    const fs::path stored = temp.Path() / "as-stored.png";
    const std::string cmd = "/usr/bin/convert '" + path.string() + "' -set colorspace sRGB '" + stored.string() + "'";
    if (std::system(cmd.c_str()) != 0)
        return {};
    return MagickDecode(stored);
}

class PngReader : public RegisteredFormats {};

TEST_F(PngReader, SuiteMatchesImageMagick)
{
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(PngDir())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("pngsuite_x", 0) == 0)
            continue; // the broken files have their own test
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = ReadFileBytes(entry.path());
        TBitmap32 ours;
        ASSERT_NO_THROW(DecodeBytes("png", bytes, ours));
        const MagickPicture magick = MagickDecodeAsStored(entry.path());
        ASSERT_GT(magick.Width, 0);
        // ImageMagick reduces 16-bit samples its own way, at most one step
        // from the rounding here (which SixteenBitSamplesAreRounded pins).
        const bool sixteenBit = bytes.size() > 24 && bytes[24] == 16;
        EXPECT_LE(MaxChannelDifference(ours, magick, true), sixteenBit ? 1 : 0);
        ++compared;
    }
    EXPECT_GT(compared, 150);
}

TEST_F(PngReader, KeepsAlphaOnlyWhereThePictureHasIt)
{
    auto formatOf = [](const char* name) {
        TPNGGraphic png;
        png.LoadFile((PngDir() / name).string());
        return png.PixelFormat();
    };
    EXPECT_EQ(formatOf("pngsuite_basn2c08.png"), TPixelFormat::pf24bit);
    EXPECT_EQ(formatOf("pngsuite_basn0g01.png"), TPixelFormat::pf24bit);
    EXPECT_EQ(formatOf("pngsuite_basn6a16.png"), TPixelFormat::pf32bit);
    EXPECT_EQ(formatOf("pngsuite_tbbn3p08.png"), TPixelFormat::pf32bit); // palette with tRNS
    EXPECT_EQ(formatOf("pngsuite_tbrn2c08.png"), TPixelFormat::pf32bit); // RGB with tRNS
}

TEST_F(PngReader, SixteenBitSamplesAreRounded)
{
    // One gray+alpha pixel row: 0x0080 rounds down to 0, 0x0081 up to 1,
    // 0xFF7E to 254, 0xFF7F to 255; the 16-bit alpha rounds the same way.
    const std::vector<uint8_t> rows = {0, 0x00, 0x80, 0xFF, 0x7F, 0x00, 0x81, 0x00, 0x81,
                                       0xFF, 0x7E, 0xFF, 0x7E, 0xFF, 0x7F, 0x00, 0x80};
    TBitmap32 out;
    DecodeBytes("png", BuildPng(4, 1, 16, 4, rows), out);
    ASSERT_EQ(out.Width(), 4);
    EXPECT_EQ(out.Pixel(0, 0), Color32(0, 0, 0, 255));
    EXPECT_EQ(out.Pixel(1, 0), Color32(1, 1, 1, 1));
    EXPECT_EQ(out.Pixel(2, 0), Color32(254, 254, 254, 254));
    EXPECT_EQ(out.Pixel(3, 0), Color32(255, 255, 255, 0));
}

TEST_F(PngReader, BrokenSuiteFilesGiveTheirErrors)
{
    const std::string invalid = "Cannot load image. Invalid or unexpected PNG image format.";
    const std::string crc = "Cannot load image. CRC error found in PNG file.";
    const std::pair<const char*, std::string> cases[] = {
        {"pngsuite_xs1n0g01.png", invalid}, {"pngsuite_xs2n0g01.png", invalid},
        {"pngsuite_xs4n0g01.png", invalid}, {"pngsuite_xs7n0g01.png", invalid},
        {"pngsuite_xcrn0g04.png", invalid}, {"pngsuite_xlfn0g04.png", invalid},
        {"pngsuite_xc1n0g08.png", invalid}, {"pngsuite_xc9n2c08.png", invalid},
        {"pngsuite_xd0n2c08.png", invalid}, {"pngsuite_xd3n2c08.png", invalid},
        {"pngsuite_xd9n2c08.png", invalid}, {"pngsuite_xdtn0g01.png", invalid},
        {"pngsuite_xhdn0g08.png", crc},     {"pngsuite_xcsn0g01.png", crc},
    };
    for (const auto& [name, message] : cases) {
        SCOPED_TRACE(name);
        TBitmap32 out;
        EXPECT_THROW_MSG(DecodeBytes("png", ReadFileBytes(PngDir() / name), out), EInvalidGraphic, message);
    }
}

TEST_F(PngReader, RefusesWhatItCannotRead)
{
    TBitmap32 out;
    const std::string text = "just some text, saved as a picture\n";
    EXPECT_THROW_MSG(DecodeBytes("png", std::vector<uint8_t>(text.begin(), text.end()), out), EInvalidGraphic,
                     "Cannot load image. Invalid or unexpected PNG image format.");

    const std::vector<uint8_t> gray = {0, 10, 20, 0, 30, 40};
    EXPECT_THROW_MSG(DecodeBytes("png", BuildPng(2, 2, 8, 0, gray, {{"ZZZZ", {1, 2, 3}}}), out), EInvalidGraphic,
                     "Cannot load PNG image. Unexpected but critical chunk detected.");
    // An unknown ancillary chunk is skipped.
    DecodeBytes("png", BuildPng(2, 2, 8, 0, gray, {{"zzZz", {1, 2, 3}}}), out);
    EXPECT_EQ(out.Pixel(1, 1), Color32(40, 40, 40, 255));

    // Beyond the side limit, and within it but beyond the pixel limit.
    EXPECT_THROW_MSG(DecodeBytes("png", BuildPng(70000, 1, 8, 0, {0}), out), EInvalidGraphic,
                     "Cannot load image. Invalid or unexpected PNG image format.");
    EXPECT_THROW_MSG(DecodeBytes("png", BuildPng(40000, 40000, 8, 0, {0}), out), EInvalidGraphic,
                     "Cannot load image. Invalid or unexpected PNG image format.");

    // Image data that stops short of the last row.
    EXPECT_THROW_MSG(DecodeBytes("png", BuildPng(2, 3, 8, 0, gray), out), EInvalidGraphic,
                     "Cannot load image. Compression error found in PNG file.");
}

TEST_F(PngReader, CutFilesAreReadErrorsOrCompletePictures)
{
    const std::vector<uint8_t> bytes = ReadFileBytes(PngDir() / "pngsuite_basn2c08.png");
    const std::string readError = "Stream read error in PNG file.";
    TBitmap32 out;
    for (size_t length : {size_t(0), size_t(5), size_t(8), size_t(20), size_t(40), size_t(100), bytes.size() - 13}) {
        SCOPED_TRACE(length);
        EXPECT_THROW_MSG(DecodeBytes("png", std::vector<uint8_t>(bytes.begin(), bytes.begin() + length), out),
                         EInvalidGraphic, readError);
    }
    // Only the IEND chunk missing: every pixel is there.
    DecodeBytes("png", std::vector<uint8_t>(bytes.begin(), bytes.end() - 12), out);
    EXPECT_EQ(MaxChannelDifference(out, MagickDecodeAsStored(PngDir() / "pngsuite_basn2c08.png"), true), 0);
}

TEST_F(PngReader, MutationsGiveAPictureOrTheFormatsError)
{
    for (const char* name : {"pngsuite_basn3p04.png", "pngsuite_basi6a16.png", "pngsuite_tbbn3p08.png",
                             "pngsuite_basn0g16.png", "gen__png_interlaced.png"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = ReadFileBytes(PngDir() / name);
        MutationSweep("png", bytes, 64, std::max<size_t>(1, bytes.size() / 16));
    }
}

} // namespace
} // namespace palvex::test
