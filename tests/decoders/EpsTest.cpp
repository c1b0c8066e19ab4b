// The EPS reader: previews against ImageMagick's decoding of the same
// bytes, hand-built hex previews, and files without a preview.
#include <cstring>

#include "CorpusCompare.h"
#include "imageio/Metafile.h"
#include "imageio/PictureReader.h"
#include "imageio/decoders/EPSGraphic.h"

namespace palvex::test {
namespace {

class EpsTest : public RegisteredFormats {};

const std::filesystem::path kData = PALVEX_TEST_DATA_DIR;

uint32_t U32At(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}

// The bytes of a DOS EPS file's section whose offset field is at fieldAt.
std::vector<uint8_t> Section(const std::vector<uint8_t>& eps, size_t fieldAt)
{
    const uint32_t at = U32At(eps, fieldAt), length = U32At(eps, fieldAt + 4);
    return std::vector<uint8_t>(eps.begin() + at, eps.begin() + at + length);
}

TEST_F(EpsTest, TiffPreviewsMatchImageMagick)
{
    int compared = 0;
    for (const char* name : {"gen__dosEPS_tiff24lzw.eps", "gen__dosEPS_tiff_first.eps", "gen__ept2_tiff_preview.eps",
                             "gen__ept2_gray_tiff_preview.eps", "pillow__1.eps"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> eps = ReadFileBytes(kData / "eps" / name);
        const std::filesystem::path tiff = std::filesystem::temp_directory_path() / "palvex-eps-preview.tif";
        WriteFileBytes(tiff, Section(eps, 20));
        const MagickPicture magick = MagickDecode(tiff);
        std::filesystem::remove(tiff);
        TBitmap32 ours;
        DecodeBytes("eps", eps, ours);
        ASSERT_GT(magick.Width, 0);
        // The TIFF reader's own tolerance: 16-bit palette entries reduced within 1.
        const int diff = MaxChannelDifference(ours, magick, false);
        EXPECT_GE(diff, 0);
        EXPECT_LE(diff, 1) << FirstDifference(ours, magick, false);
        // The batch run's road gives the same pixels.
        TMemoryStream stream(eps);
        TEPSGraphic kind;
        const std::unique_ptr<TPictureReader> reader = kind.OpenRows(stream);
        TBitmap32 rows;
        reader->ReadAll(rows);
        ASSERT_EQ(rows.PixelCount(), ours.PixelCount());
        for (size_t i = 0; i < ours.PixelCount(); ++i)
            ASSERT_EQ(rows.PixelData()[i] | 0xFF000000, ours.PixelData()[i] | 0xFF000000) << i;
        ++compared;
    }
    EXPECT_EQ(compared, 5);
}

TEST_F(EpsTest, WmfPreviewIsTheMetafileOnWhite)
{
    const std::vector<uint8_t> eps = ReadFileBytes(kData / "eps/gen__dosEPS_wmf_preview.eps");
    TMetafile metafile;
    TMemoryStream stream(Section(eps, 12));
    metafile.LoadStream(stream);
    TBitmap32 ours;
    DecodeBytes("eps", eps, ours);
    ASSERT_EQ(ours.Width(), metafile.Width());
    ASSERT_EQ(ours.Height(), metafile.Height());
    size_t drawn = 0;
    for (size_t i = 0; i < ours.PixelCount(); ++i) {
        const TColor32 m = metafile.Pixels()[i];
        ASSERT_EQ(ours.PixelData()[i], AlphaComponent(m) ? m : 0xFFFFFFFF) << i;
        drawn += AlphaComponent(m) != 0;
    }
    EXPECT_GT(drawn, ours.PixelCount() / 4);
}

TEST_F(EpsTest, HexPreviewIsReadAsGray)
{
    // 3 x 2 pixels of 2 bits, rows padded to a byte; 0 is white, 3 black.
    // Hex digits may be spread over lines and separated by anything.
    const std::string text = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 3 2\n%%EndComments\n"
                             "%%BeginPreview: 3 2 2 2\n% 1B\n%\n% C 0\n%%EndPreview\nshowpage\n";
    TBitmap32 out;
    DecodeBytes("eps", std::vector<uint8_t>(text.begin(), text.end()), out);
    ASSERT_EQ(out.Width(), 3);
    ASSERT_EQ(out.Height(), 2);
    // 0x1B = 00 01 10 11, 0xC0 = 11 00 00 00
    const uint8_t expected[] = {255, 170, 85, 0, 255, 255};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(out.PixelData()[i], Color32(expected[i], expected[i], expected[i])) << i;

    const std::string shortText = "%!PS-Adobe-3.0 EPSF-3.0\n%%BeginPreview: 300 200 8 2\n% 00FF\n%%EndPreview\n";
    EXPECT_EQ(DecodeFailure("eps", std::vector<uint8_t>(shortText.begin(), shortText.end())),
              "Stream read error in EPS file.");
    // The end mark ends the data, even with hex digits after it (its own E, d and e
    // among them); "%%E" that is no end mark is data.
    const std::string endsEarly = "%!PS-Adobe-3.0 EPSF-3.0\n%%BeginPreview: 2 1 8 1\n% 00\n%%EndPreview\n% FF\n";
    EXPECT_EQ(DecodeFailure("eps", std::vector<uint8_t>(endsEarly.begin(), endsEarly.end())),
              "Stream read error in EPS file.");
    const std::string notTheMark = "%!PS-Adobe-3.0 EPSF-3.0\n%%BeginPreview: 2 1 8 1\n%%E\n% 0FF\n%%EndPreview\n";
    DecodeBytes("eps", std::vector<uint8_t>(notTheMark.begin(), notTheMark.end()), out);
    EXPECT_EQ(out.PixelData()[0], Color32(255 - 0xE0, 255 - 0xE0, 255 - 0xE0));
    EXPECT_EQ(out.PixelData()[1], Color32(0, 0, 0));
}

TEST_F(EpsTest, PostScriptWithoutAPreviewIsRefused)
{
    const std::string noPreview = "Cannot load image. PostScript without a preview not supported for EPS files.";
    EXPECT_EQ(DecodeFailure("eps", ReadFileBytes(kData / "eps/gen__epsf_plain.eps")), noPreview);
    EXPECT_EQ(DecodeFailure("eps", ReadFileBytes(kData / "eps/gen__dosEPS_no_preview.eps")), noPreview);
    const std::string text = "not PostScript at all";
    EXPECT_EQ(DecodeFailure("eps", std::vector<uint8_t>(text.begin(), text.end())),
              "Cannot load image. Invalid or unexpected EPS image format.");
    // A preview section reaching past the end of the file.
    std::vector<uint8_t> cut = ReadFileBytes(kData / "eps/gen__dosEPS_tiff24lzw.eps");
    cut.resize(cut.size() - 100);
    EXPECT_EQ(DecodeFailure("eps", cut), "Stream read error in EPS file.");
}

TEST_F(EpsTest, DamagedFilesGiveAPictureOrTheSystemsMessage)
{
    for (const char* name : {"gen__dosEPS_tiff24lzw.eps", "gen__dosEPS_wmf_preview.eps"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = ReadFileBytes(kData / "eps" / name);
        MutationSweep("eps", bytes, 32, std::max<size_t>(1, bytes.size() / 48));
    }
}

} // namespace
} // namespace palvex::test
