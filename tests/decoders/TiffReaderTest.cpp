// The TIFF and fax reader against ImageMagick's decoding of the samples, its
// error messages, headerless fax streams, and cut or damaged files.
#include <filesystem>
#include <string>
#include <vector>

#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

#include "TestMain.h"
#include "imageio/decoders/TIFFGraphic.h"
#include "imageio/decoders/TiffSupport.h"
#include "tests/decoders/CorpusCompare.h"

namespace palvex::test {
namespace {

namespace fs = std::filesystem;

fs::path TifDir() { return DataDir() / "tif"; }
fs::path FaxDir() { return DataDir() / "fax"; }

const std::string kInvalid = "Cannot load image. Invalid or unexpected TIFF image format.";
const std::string kReadError = "Stream read error in TIFF file.";

// Samples with associated alpha: colours are compared where alpha is 255 only
// (ImageMagick keeps them premultiplied, this reader divides alpha out).
const std::set<std::string> kAssociatedAlpha = {
    "imagers__clusterfuzz-testcase-minimized-fuzzer_script_tiff-5026894169374720.tif",
    "libtiffpic__strike.tif", "pillow__pil136.tiff", "pillow__tiff_16bit_RGBa.tiff",
    "pillow__tiff_tiled_planar_16bit_RGBa.tiff"};

// One little-endian TIFF with the given entries (tag, type, count, value or
// offset) and data appended after the directory at offset dataAt.
struct TiffEntry {
    uint16_t tag, type;
    uint32_t count, value;
};

std::vector<uint8_t> BuildTiff(std::vector<TiffEntry> entries, const std::vector<uint8_t>& data, uint32_t* dataAt)
{
    auto put16 = [](std::vector<uint8_t>& o, uint16_t v) { o.insert(o.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto put32 = [](std::vector<uint8_t>& o, uint32_t v) {
        o.insert(o.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    };
    const uint32_t at = 8 + 2 + uint32_t(entries.size()) * 12 + 4;
    if (dataAt)
        *dataAt = at;
    for (auto& e : entries)
        if (e.value == UINT32_MAX)
            e.value = at; // the data's offset
    std::vector<uint8_t> out = {'I', 'I', 42, 0};
    put32(out, 8);
    put16(out, uint16_t(entries.size()));
    for (const auto& e : entries) {
        put16(out, e.tag);
        put16(out, e.type);
        put32(out, e.count);
        if (e.type == 3 && e.count == 1) {
            put16(out, uint16_t(e.value));
            put16(out, 0);
        } else {
            put32(out, e.value);
        }
    }
    put32(out, 0);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// An uncompressed one-strip picture of the given layout.
std::vector<uint8_t> PlainTiff(uint32_t width, uint32_t height, uint16_t bits, uint16_t samples, uint16_t photometric,
                               const std::vector<uint8_t>& pixels, uint16_t extra = 0, uint16_t sampleFormat = 1)
{
    std::vector<TiffEntry> entries = {{256, 4, 1, width},        {257, 4, 1, height},
                                      {258, 3, 1, bits},         {259, 3, 1, 1},
                                      {262, 3, 1, photometric},  {273, 4, 1, UINT32_MAX},
                                      {277, 3, 1, samples},      {278, 4, 1, height},
                                      {279, 4, 1, uint32_t(pixels.size())}};
    if (extra)
        entries.push_back({338, 3, 1, extra});
    if (sampleFormat != 1)
        entries.push_back({339, 3, 1, sampleFormat});
    return BuildTiff(entries, pixels, nullptr);
}

class TiffReader : public RegisteredFormats {};

TEST_F(TiffReader, CorpusMatchesImageMagick)
{
    CorpusExpectations expect;
    expect.Extensions = {"tif", "tiff"};
    // 16-bit and 12-bit samples (ImageMagick reduces them its own way), 16-bit
    // palettes (libtiff's conversion), CMYK and YCbCr conversions: within 1.
    expect.DefaultTolerance = 1;
    expect.Skip = kAssociatedAlpha; // AssociatedAlphaIsDividedOut
    // ImageMagick 6.9.11 misreads these (looked at side by side): old-style
    // JPEG and YCbCr strips left unconverted (green), 2-bit min-is-white
    // inverted, gray with alpha shown green, tiled CMYK JPEG and the G4 page
    // with orientation 6 shown blank.
    for (const char* name :
         {"libtiff__ojpeg_chewey_subsamp21_multi_strip.tiff", "libtiff__ojpeg_zackthecat_subsamp22_single_strip.tiff",
          "libtiffpic__zackthecat.tif", "pillow__old-style-jpeg-compression.tif", "libtiffpic__smallliz.tif",
          "libtiffpic__ycbcr-cat.tif", "pillow__hopper2I.tif", "libtiff__minisblack-2c-8b-alpha.tiff",
          "pillow__tiff_tiled_cmyk_jpeg.tif", "pillow__g4_orientation_6.tif"})
        expect.Skip.insert(name);
    // CIE Lab goes through libtiff's conversion and its default display;
    // ImageMagick's differs by up to 72 in the dark tones.
    expect.Tolerance["pillow__hopper.Lab.tif"] = 75;
    // YCbCr with BT.709 coefficients: libtiff applies them, ImageMagick
    // converts with the default ones.
    expect.Tolerance["imagers__ycbcr_lzw_bt709.tif"] = 40;
    // 16-bit CMYK: each ink is rounded to 8 bits before the mix.
    expect.Tolerance["libtiffpic__flower-separated-contig-16.tif"] = 2;
    expect.Tolerance["libtiffpic__flower-separated-planar-16.tif"] = 2;
    expect.Refused = {
        {"imagers__rgb32f_bw.tiff", "Cannot load image. Floating point samples not supported for TIFF files."},
        {"imagers__rgb32f_color.tiff", "Cannot load image. Floating point samples not supported for TIFF files."},
        // libtiff 4.5's fax decoder gives up on these two.
        {"libtiff__testfax3_bug54_1dnoEOL.tif", kInvalid},
        {"libtiff__testfax3_bug_513.tiff", "Cannot load image. Compression error found in TIFF file."},
    };
    const int compared = CompareCorpusFolder("tif", expect);
    EXPECT_GT(compared, 95);
}

TEST_F(TiffReader, AssociatedAlphaIsDividedOut)
{
    for (const std::string& name : kAssociatedAlpha) {
        SCOPED_TRACE(name);
        TBitmap32 ours;
        DecodeBytes("tif", ReadFileBytes(TifDir() / name), ours);
        const MagickPicture magick = MagickDecode(TifDir() / name);
        ASSERT_EQ(ours.Width(), magick.Width);
        ASSERT_EQ(ours.PixelCount() * 4, magick.RGBA.size());
        int worstAlpha = 0, worstOpaque = 0;
        for (size_t i = 0; i < ours.PixelCount(); ++i) {
            const TColor32 c = ours.PixelData()[i];
            const uint8_t* m = &magick.RGBA[4 * i];
            worstAlpha = std::max(worstAlpha, std::abs(int(AlphaComponent(c)) - m[3]));
            if (m[3] == 255)
                for (int k = 0; k < 3; ++k)
                    worstOpaque = std::max(worstOpaque, std::abs(int((c >> (16 - 8 * k)) & 0xFF) - m[k]));
        }
        EXPECT_LE(worstAlpha, 1);
        EXPECT_LE(worstOpaque, 1);
    }

    // Associated 8-bit RGBA: (100, 50, 0) at alpha 128 is (199, 100, 0)
    // straight; unassociated samples stay as stored; alpha 0 gives black.
    const std::vector<uint8_t> rgba = {100, 50, 0, 128, 7, 8, 9, 0};
    TBitmap32 out;
    DecodeBytes("tif", PlainTiff(2, 1, 8, 4, 2, rgba, 1), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(199, 100, 0, 128));
    EXPECT_EQ(out.Pixel(1, 0), Color32(0, 0, 0, 0));
    DecodeBytes("tif", PlainTiff(2, 1, 8, 4, 2, rgba, 2), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(100, 50, 0, 128));
    EXPECT_EQ(out.Pixel(1, 0), Color32(7, 8, 9, 0));
    TTIFFGraphic tiff;
    TMemoryStream stream(PlainTiff(2, 1, 8, 4, 2, rgba, 2));
    tiff.LoadStream(stream);
    EXPECT_EQ(tiff.PixelFormat(), TPixelFormat::pf32bit);
}

TEST_F(TiffReader, SamplesAreScaledAndRounded)
{
    TBitmap32 out;
    // 16-bit gray: 0x0080 rounds down, 0x0081 up, 0xFF7E to 254, 0xFF7F to 255.
    DecodeBytes("tif", PlainTiff(4, 1, 16, 1, 1, {0x80, 0x00, 0x81, 0x00, 0x7E, 0xFF, 0x7F, 0xFF}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(0, 0, 0, 255));
    EXPECT_EQ(out.Pixel(1, 0), Color32(1, 1, 1, 255));
    EXPECT_EQ(out.Pixel(2, 0), Color32(254, 254, 254, 255));
    EXPECT_EQ(out.Pixel(3, 0), Color32(255, 255, 255, 255));
    // 8-bit min-is-white is inverted; 4-bit RGB scaled by 17; 12-bit gray.
    DecodeBytes("tif", PlainTiff(2, 1, 8, 1, 0, {0, 200}), out);
    EXPECT_EQ(out.Pixel(1, 0), Color32(55, 55, 55, 255));
    DecodeBytes("tif", PlainTiff(2, 1, 4, 3, 2, {0xF0, 0x1A, 0xB0}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(255, 0, 17, 255));
    EXPECT_EQ(out.Pixel(1, 0), Color32(170, 187, 0, 255));
    DecodeBytes("tif", PlainTiff(2, 1, 12, 1, 1, {0xFF, 0xF8, 0x00}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(255, 255, 255, 255));
    EXPECT_EQ(out.Pixel(1, 0), Color32(128, 128, 128, 255));
    // CMYK: R = (1 - C)(1 - K).
    DecodeBytes("tif", PlainTiff(1, 1, 8, 4, 5, {255, 0, 128, 51}), out);
    EXPECT_EQ(out.Pixel(0, 0), Color32(0, 204, 102, 255));
}

TEST_F(TiffReader, RefusesWhatItCannotRead)
{
    TBitmap32 out;
    const std::string text = "just some text, saved as a picture\n";
    EXPECT_THROW_MSG(DecodeBytes("tif", std::vector<uint8_t>(text.begin(), text.end()), out), EInvalidGraphic,
                     kInvalid);
    EXPECT_THROW_MSG(DecodeBytes("tif", {}, out), EInvalidGraphic, kReadError);
    EXPECT_THROW_MSG(DecodeBytes("tif", {'I', 'I', 42}, out), EInvalidGraphic, kReadError);
    // Beyond the side limit, and within it but beyond the pixel limit.
    EXPECT_THROW_MSG(DecodeBytes("tif", PlainTiff(70000, 1, 8, 1, 1, {0}), out), EInvalidGraphic, kInvalid);
    EXPECT_THROW_MSG(DecodeBytes("tif", PlainTiff(40000, 40000, 8, 1, 1, {0}), out), EInvalidGraphic, kInvalid);
    // Pixel data cut short.
    EXPECT_THROW_MSG(DecodeBytes("tif", PlainTiff(4, 4, 8, 3, 2, std::vector<uint8_t>(20, 1)), out), EInvalidGraphic,
                     kReadError);
    EXPECT_THROW_MSG(DecodeBytes("tif", PlainTiff(2, 1, 32, 1, 1, std::vector<uint8_t>(8), 0, 3), out),
                     EInvalidGraphic, "Cannot load image. Floating point samples not supported for TIFF files.");
    // A photometric interpretation nobody knows.
    EXPECT_THROW_MSG(DecodeBytes("tif", PlainTiff(1, 1, 8, 1, 77, {0}), out), EColorConversionError,
                     "Color conversion failed. Could not find a proper method.");
}

TEST_F(TiffReader, LibjpegMessagesGiveTheirNumbers)
{
    jpeg_error_mgr err;
    jpeg_std_error(&err);
    char text[JMSG_LENGTH_MAX];
    std::snprintf(text, sizeof text, err.jpeg_message_table[JERR_BAD_PRECISION], 12);
    EXPECT_EQ(JpegMessageCode(text), JERR_BAD_PRECISION);
    std::snprintf(text, sizeof text, err.jpeg_message_table[JERR_IMAGE_TOO_BIG], 70000u);
    EXPECT_EQ(JpegMessageCode(text), JERR_IMAGE_TOO_BIG);
    EXPECT_EQ(JpegMessageCode("no such message"), -1);
}

TEST_F(TiffReader, FaxStreamsMatchImageMagick)
{
    // Headerless G3 streams are read 2592 pixels wide with the lines they
    // code; a .fax that is a TIFF is read as one. Files named .g3 go through
    // the fax kind too.
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(FaxDir())) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = ReadFileBytes(entry.path());
        TBitmap32 ours;
        ASSERT_NO_THROW(DecodeBytes("fax", bytes, ours));
        const bool raw = bytes.size() > 2 && bytes[0] == 0;
        const MagickPicture magick = MagickDecode(raw ? fs::path("fax:" + entry.path().string()) : entry.path());
        EXPECT_EQ(MaxChannelDifference(ours, magick, true), 0) << FirstDifference(ours, magick, true);
        ++compared;
    }
    EXPECT_EQ(compared, 8);

    // The same stream under .tif is read the same way.
    TBitmap32 asTif;
    DecodeBytes("tif", ReadFileBytes(FaxDir() / "gen__pbmtog3.fax"), asTif);
    EXPECT_EQ(asTif.Height(), 48);
}

TEST_F(TiffReader, FaxLinesAreCountedFromTheirEndOfLineCodes)
{
    // EOL, a white line of 8 (10011), EOL, the same, then RTC (six EOLs).
    // Bits: 000000000001 10011 000000000001 10011 + 6 x 000000000001.
    std::string bits = "000000000001" "10011" "000000000001" "10011";
    for (int i = 0; i < 6; ++i)
        bits += "000000000001";
    while (bits.size() % 8)
        bits += '0';
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < bits.size(); i += 8)
        bytes.push_back(uint8_t(std::stoi(bits.substr(i, 8), nullptr, 2)));
    EXPECT_TRUE(LooksLikeRawFax(bytes));
    EXPECT_EQ(CountFaxLines(bytes), 2u);
    // Fill zeros before an EOL, and no RTC at the end.
    EXPECT_EQ(CountFaxLines(std::vector<uint8_t>{0x00, 0x00, 0x1C, 0xC0, 0x01, 0x98}), 2u);
    EXPECT_FALSE(LooksLikeRawFax(std::vector<uint8_t>{'I', 'I', '*', 0}));
    EXPECT_FALSE(LooksLikeRawFax(std::vector<uint8_t>{0x00, 0x20}));
    EXPECT_FALSE(LooksLikeRawFax(std::vector<uint8_t>{0x00}));

    // Nothing but EOLs: no line, so no picture.
    TBitmap32 out;
    EXPECT_THROW_MSG(DecodeBytes("fax", std::vector<uint8_t>{0x00, 0x10, 0x01, 0x00, 0x10}, out), EInvalidGraphic,
                     kInvalid);
}

TEST_F(TiffReader, CutFilesAreReadErrors)
{
    const std::vector<uint8_t> bytes = ReadFileBytes(TifDir() / "gen__tif_none.tif");
    TBitmap32 out;
    for (size_t length : {size_t(3), size_t(8), size_t(100), bytes.size() / 2}) {
        SCOPED_TRACE(length);
        EXPECT_THROW_MSG(DecodeBytes("tif", std::vector<uint8_t>(bytes.begin(), bytes.begin() + length), out),
                         EInvalidGraphic, kReadError);
    }
}

TEST_F(TiffReader, MutationsGiveAPictureOrTheFormatsError)
{
    for (const auto& entry : fs::directory_iterator(TifDir())) {
        // The G4 page of 3307x4677 pixels takes a second a decode.
        if (entry.file_size() > 6000 || entry.path().filename() == "pillow__g4-multi.tiff")
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        const std::vector<uint8_t> bytes = ReadFileBytes(entry.path());
        MutationSweep("tif", bytes, 32, std::max<size_t>(1, bytes.size() / 16));
    }
    SweepCorpusFolder("fax", {"fax"}, 2500, 16);
    const std::vector<uint8_t> g3 = ReadFileBytes(FaxDir() / "bmpsuite__pal1huff.g3");
    MutationSweep("fax", g3, 32, g3.size() / 16);
}

} // namespace
} // namespace palvex::test
