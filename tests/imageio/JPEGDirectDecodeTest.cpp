// Decoding straight into 32-bit rows and encoding straight from them give the
// same pixels and bytes as the paths through a platform bitmap.
#include "imageio/JPEGImage.h"
#include "imageio/PictureRows.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "TestMain.h"
#include "imageio/decoders/FileFormatList.h"
#include "platform/Errors.h"

using namespace palvex;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

const fs::path kJpegSamples = test::DataDir() / "jpeg";

std::unique_ptr<TJPEGImage> Load(const Bytes& bytes)
{
    auto image = std::make_unique<TJPEGImage>();
    TMemoryStream in(bytes);
    image->LoadStream(in);
    return image;
}

// Each decoding setting that takes another road through the library.
const std::pair<const char*, void (*)(TJPEGImage&)> kDecodeSettings[] = {
    {"defaults", [](TJPEGImage&) {}},
    {"palette", [](TJPEGImage& i) { i.SetPaletteDecoding(true); }},
    {"fast", [](TJPEGImage& i) { i.SetFastDecoding(true); }},
    {"gray", [](TJPEGImage& i) { i.SetGrayscaleMode(true); }},
    {"no smoothing", [](TJPEGImage& i) { i.SetBlockSmoothing(false); }},
};

Bytes Pixels(const TBitmap32& bitmap)
{
    const auto* p = reinterpret_cast<const uint8_t*>(bitmap.PixelData());
    return p ? Bytes(p, p + bitmap.PixelCount() * 4) : Bytes();
}

// The old road: decode into the view, then draw the view and make it opaque.
Bytes ThroughView(const Bytes& jpeg, void (*configure)(TJPEGImage&))
{
    auto image = Load(jpeg);
    configure(*image);
    image->DecodedBitmap();
    TBitmap32 drawn;
    drawn.AssignFrom(*image);
    return Pixels(drawn);
}

// Pixels with every channel and a varying fourth byte.
void FillPattern(TBitmap32& bitmap, int width, int height)
{
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bitmap.SetPixel(x, y, Color32(uint8_t(x * 37 + y * 3), uint8_t(y * 29 + 11), uint8_t((x ^ y) * 17),
                                          uint8_t(x * y + 5)));
}

Bytes Save(TJPEGImage& image)
{
    TMemoryStream out;
    image.SaveStream(out);
    return out.Bytes();
}

} // namespace

TEST(JPEGDirectDecode, EqualsTheViewForEveryKindOfSource)
{
    for (const char* name :
         {"gen__jpeg_baseline_420.jpg", "gen__jpeg_baseline_444.jpg", "gen__jpeg_422.jpg", "gen__jpeg_progressive.jpg",
          "gen__jpeg_odd_size_13x7.jpg", "jpegdec__jpg-size-1x1.jpg", "jpegdec__jpg-size-17x17.jpg", "sail__bpp24-rgb.jpeg",
          "gen__jpeg_gray.jpg", "pillow__hopper_gray.jpg", "gen__jpeg_gray_progressive.jpg",
          "jpegdec__grayscale_16x24_sampling2x2.jpg", "gen__jpeg_cmyk.jpg", "gen__jpeg_cmyk_progressive.jpg",
          "jpegdec__jpg-cmyk-2.jpg", "jpegdec__ycck.jpg", "pillow__pil_sample_cmyk.jpg", "gen__jpeg_truncated_half.jpg",
          "gen__jpeg_truncated_prog.jpg", "pillow__hopper.jpg"}) {
        const Bytes jpeg = test::ReadFileBytes(kJpegSamples / name);
        ASSERT_FALSE(jpeg.empty()) << name;
        for (const auto& [label, configure] : kDecodeSettings) {
            auto image = Load(jpeg);
            configure(*image);
            TBitmap32 direct;
            direct.SetSize(3, 3); // an earlier picture is replaced
            image->DecodeInto(direct);
            EXPECT_FALSE(image->HasBitmapView()) << name; // nothing kept aside
            EXPECT_EQ(direct.Width(), image->Width()) << name;
            EXPECT_EQ(direct.Height(), image->Height()) << name;
            EXPECT_TRUE(Pixels(direct) == ThroughView(jpeg, configure)) << name << ", " << label;
            // The image itself still decodes its view as before.
            EXPECT_EQ(image->DecodedBitmap().Width(), direct.Width()) << name;
        }
    }
}

TEST(JPEGDirectDecode, LoadPictureFileAndOtherStates)
{
    TPictureFormatsScope formats;
    // LoadPictureFile takes the direct road; the result is the drawn view's
    // (as stored: the view knows nothing of the CMYK sample's profile).
    for (const char* name : {"pillow__hopper.jpg", "gen__jpeg_gray.jpg", "jpegdec__ycck.jpg"}) {
        TBitmap32 loaded;
        LoadPictureFile(loaded, (kJpegSamples / name).string(), kPixelsAsStored);
        EXPECT_TRUE(Pixels(loaded) == ThroughView(test::ReadFileBytes(kJpegSamples / name), [](TJPEGImage&) {})) << name;
    }
    // With a view (assigned pixels), the view is drawn; the fourth byte is 255.
    TBitmap view;
    view.SetPixelFormat(TPixelFormat::pf32bit);
    view.SetSize(2, 1);
    std::memset(view.ScanLine(0), 0x40, 8);
    TJPEGImage assigned;
    assigned.AssignFrom(view);
    TBitmap32 target;
    target.AssignFrom(assigned);
    ASSERT_EQ(target.Width(), 2);
    EXPECT_EQ(target.Pixel(1, 0), 0xFF404040u);
    // No bytes, or 0 bytes: an empty bitmap, nothing decoded.
    TJPEGImage empty;
    target.AssignFrom(empty);
    EXPECT_TRUE(target.IsEmpty());
    auto zero = Load({});
    target.SetSize(4, 4);
    zero->DecodeInto(target);
    EXPECT_TRUE(target.IsEmpty());
    // Not JPEG: the library's error, and the target of LoadPictureFile unchanged.
    test::TempDir dir;
    const fs::path fake = dir.Path() / "fake.jpg";
    std::ofstream(fake, std::ios::binary) << "not a jpeg";
    TBitmap32 kept;
    kept.SetSize(5, 6);
    EXPECT_THROW(LoadPictureFile(kept, fake.string()), EJPEG);
    EXPECT_EQ(kept.Width(), 5);
    EXPECT_EQ(kept.Height(), 6);
}

TEST(JPEGDirectDecode, CompressPixelsEqualsTheBitmapRoad)
{
    for (auto [w, h] : {std::pair{1, 1}, {1, 9}, {9, 1}, {13, 7}, {64, 48}, {33, 17}}) {
        TBitmap32 pixels;
        FillPattern(pixels, w, h);
        for (int q : {1, 50, 90, 100}) {
            for (int mode = 0; mode < 3; ++mode) {
                TBitmap plain;
                pixels.CopyTo(plain);
                TJPEGImage viaBitmap;
                viaBitmap.AssignFrom(plain);
                TJPEGImage direct;
                for (TJPEGImage* image : {&viaBitmap, &direct}) {
                    image->SetEncodingQuality(uint8_t(q));
                    image->SetGrayscaleMode(mode == 1);
                    image->SetProgressiveMode(mode == 2);
                }
                direct.CompressPixels(pixels);
                EXPECT_FALSE(direct.HasBitmapView());
                EXPECT_EQ(direct.Width(), w);
                EXPECT_EQ(direct.Height(), h);
                const Bytes bytes = Save(direct);
                EXPECT_EQ(bytes, Save(viaBitmap)) << w << "x" << h << " q" << q << " mode " << mode;
                direct.SetEncodingQuality(10);
                EXPECT_EQ(Save(direct), bytes); // the bytes are the cache
            }
        }
    }
    // Nothing to encode: 0 bytes; a side the library refuses: its error, no bytes.
    TJPEGImage image;
    TBitmap32 none;
    image.CompressPixels(none);
    EXPECT_EQ(Save(image).size(), 0u);
    TBitmap32 wide;
    wide.SetSize(65501, 1);
    EXPECT_THROW(image.CompressPixels(wide), EJPEG);
    EXPECT_FALSE(image.Data().Data);
}

namespace {

// Rows read through a reader that keeps keep rows, each checked against the
// whole decode as it comes (and again the ones still kept).
void ExpectRowsOfTheWholeDecode(TJPEGImage& image, const TBitmap32& whole, int32_t keep, const std::string& what)
{
    auto reader = image.OpenByteRows();
    ASSERT_TRUE(reader) << what;
    ASSERT_EQ(reader->Width(), whole.Width()) << what;
    ASSERT_EQ(reader->Height(), whole.Height()) << what;
    reader->KeepRows(keep);
    const size_t rowBytes = static_cast<size_t>(whole.Width()) * 4;
    EXPECT_EQ(reader->RowIfReady(0), nullptr) << what;
    for (int32_t y = 0; y < whole.Height(); ++y) {
        const TColor32* row = reader->Row(y);
        ASSERT_EQ(0, std::memcmp(row, whole.RowAddress(y), rowBytes)) << what << ", row " << y;
        const int32_t oldest = std::max(0, y - std::min(keep, whole.Height()) + 1);
        ASSERT_EQ(reader->RowIfReady(oldest), reader->Row(oldest)) << what;
        ASSERT_EQ(0, std::memcmp(reader->Row(oldest), whole.RowAddress(oldest), rowBytes)) << what;
        EXPECT_EQ(reader->RowIfReady(y + 1), nullptr) << what;
        if (oldest > 0) {
            EXPECT_EQ(reader->RowIfReady(oldest - 1), nullptr) << what;
            EXPECT_THROW(reader->Row(oldest - 1), std::logic_error) << what;
        }
    }
    EXPECT_THROW(reader->Row(whole.Height()), std::logic_error) << what;
    reader->Finish();
}

} // namespace

TEST(JPEGRowReader, GivesTheRowsOfTheWholeDecode)
{
    for (const char* name : {"gen__jpeg_baseline_420.jpg", "gen__jpeg_progressive.jpg", "gen__jpeg_odd_size_13x7.jpg",
                             "jpegdec__jpg-size-1x1.jpg", "gen__jpeg_gray.jpg", "gen__jpeg_gray_progressive.jpg",
                             "gen__jpeg_cmyk.jpg", "jpegdec__ycck.jpg", "gen__jpeg_truncated_half.jpg",
                             "gen__jpeg_truncated_prog.jpg", "pillow__hopper.jpg"}) {
        const Bytes jpeg = test::ReadFileBytes(kJpegSamples / name);
        for (const auto& [label, configure] : kDecodeSettings) {
            auto image = Load(jpeg);
            configure(*image);
            TBitmap32 whole;
            image->DecodeInto(whole);
            for (int32_t keep : {1, 3, 16, 100000})
                ExpectRowsOfTheWholeDecode(*image, whole, keep, std::string(name) + ", " + label + ", keep " +
                                                                     std::to_string(keep));
        }
    }
}

TEST(JPEGRowReader, StatesAndFaults)
{
    // No bytes, or a view to draw from: no reader.
    TJPEGImage empty;
    EXPECT_FALSE(empty.OpenByteRows());
    auto viewed = Load(test::ReadFileBytes(kJpegSamples / "pillow__hopper.jpg"));
    viewed->DecodedBitmap();
    EXPECT_FALSE(viewed->OpenByteRows());

    // The reader outlives its image and shares its bytes; rows never asked
    // for are decoded by Finish; KeepRows only before the first row.
    auto image = Load(test::ReadFileBytes(kJpegSamples / "pillow__hopper.jpg"));
    TBitmap32 whole;
    image->DecodeInto(whole);
    auto reader = image->OpenByteRows();
    image.reset();
    reader->KeepRows(2);
    EXPECT_EQ(0, std::memcmp(reader->Row(5), whole.RowAddress(5), static_cast<size_t>(whole.Width()) * 4));
    EXPECT_THROW(reader->KeepRows(4), std::logic_error);
    reader->Finish();
    EXPECT_THROW(reader->Row(6), std::logic_error);

    // A file whose header reads but whose rows do not: the error of a whole
    // decode, from the row that meets it or from Finish.
    int faulty = 0;
    for (const auto& entry : fs::directory_iterator(kJpegSamples)) {
        const Bytes bytes = test::ReadFileBytes(entry.path());
        std::unique_ptr<TJPEGImage> loaded;
        try {
            loaded = Load(bytes);
        } catch (const Exception&) {
            continue;
        }
        std::string wholeError;
        try {
            TBitmap32 pixels;
            loaded->DecodeInto(pixels);
        } catch (const Exception& e) {
            wholeError = e.what();
        }
        if (wholeError.empty())
            continue;
        ++faulty;
        std::string rowsError;
        try {
            auto rows = loaded->OpenByteRows();
            for (int32_t y = 0; y < rows->Height(); ++y)
                rows->Row(y);
            rows->Finish();
        } catch (const Exception& e) {
            rowsError = e.what();
        }
        EXPECT_EQ(rowsError, wholeError) << entry.path().filename();
    }
    EXPECT_GT(faulty, 0);
}

TEST(JPEGRowReader, CompressRowsEqualsCompressPixels)
{
    for (const char* name : {"pillow__hopper.jpg", "gen__jpeg_odd_size_13x7.jpg", "gen__jpeg_cmyk.jpg"}) {
        const Bytes jpeg = test::ReadFileBytes(kJpegSamples / name);
        auto image = Load(jpeg);
        TBitmap32 whole;
        image->DecodeInto(whole);
        TJPEGImage fromPixels, fromRows;
        fromPixels.SetEncodingQuality(77);
        fromRows.SetEncodingQuality(77);
        fromPixels.CompressPixels(whole);
        auto reader = image->OpenByteRows();
        fromRows.CompressRows(*reader);
        reader->Finish();
        const Bytes bytes = Save(fromRows);
        EXPECT_GT(bytes.size(), 100u) << name;
        EXPECT_EQ(bytes, Save(fromPixels)) << name;
    }
    // A source that fails in the middle leaves the image empty, with its error.
    struct TFailing final : TRowSource {
        std::vector<TColor32> row = std::vector<TColor32>(8, 0xFF102030u);
        int32_t Width() const override { return 8; }
        int32_t Height() const override { return 8; }
        void KeepRows(int32_t) override {}
        const TColor32* Row(int32_t y) override
        {
            if (y == 5)
                throw EJPEG("JPEG error #22");
            return row.data();
        }
        const TColor32* RowIfReady(int32_t) const override { return nullptr; }
    } failing;
    TJPEGImage target;
    EXPECT_THROW_MSG(target.CompressRows(failing), EJPEG, "JPEG error #22");
    EXPECT_FALSE(target.Data().Data);
    EXPECT_EQ(Save(target).size(), 0u);
}
