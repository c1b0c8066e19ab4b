// TJPEGImage against libjpeg-turbo's own cjpeg and djpeg, and its states and
// edge cases.
#include "imageio/JPEGImage.h"
#include "imageio/PictureRows.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

#include <jerror.h>

#include "TestMain.h"
#include "imageio/decoders/FileFormatList.h"
#include "platform/Errors.h"

using namespace palvex;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

const fs::path kJpegSamples = test::DataDir() / "jpeg";

std::string JpegError(int code) { return "JPEG error #" + std::to_string(code); }

void WriteFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void RunTool(const std::string& command)
{
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

struct TPixmap {
    int Width = 0, Height = 0;
    Bytes Rgb;
};

// djpeg's binary PPM: "P6\n<w> <h>\n255\n" then RGB triples.
TPixmap ReadPPM(const fs::path& path)
{
    const Bytes bytes = test::ReadFileBytes(path);
    TPixmap p;
    int consumed = 0;
    if (std::sscanf(reinterpret_cast<const char*>(bytes.data()), "P6 %d %d 255%n", &p.Width, &p.Height, &consumed) != 2)
        return {};
    p.Rgb.assign(bytes.begin() + consumed + 1, bytes.end());
    return p;
}

void WritePPM(const fs::path& path, const TBitmap& bitmap)
{
    std::string text = "P6\n" + std::to_string(bitmap.Width()) + " " + std::to_string(bitmap.Height()) + "\n255\n";
    Bytes out(text.begin(), text.end());
    std::vector<TColor32> row(bitmap.Width());
    for (int y = 0; y < bitmap.Height(); ++y) {
        bitmap.ReadRow32(y, row.data());
        for (TColor32 c : row)
            out.insert(out.end(), {uint8_t(RedComponent(c)), uint8_t(GreenComponent(c)), uint8_t(BlueComponent(c))});
    }
    WriteFile(path, out);
}

// A 24-bit bitmap with a pattern that exercises every channel.
std::unique_ptr<TBitmap> Pattern(int width, int height, TPixelFormat format = TPixelFormat::pf24bit)
{
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(TPixelFormat::pf32bit);
    b->SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const TColor32 c = Color32(uint8_t(x * 37 + y * 3), uint8_t(y * 29 + 11), uint8_t((x ^ y) * 17), uint8_t(x * y));
            std::memcpy(b->ScanLine(y) + 4 * x, &c, 4);
        }
    b->SetPixelFormat(format);
    return b;
}

std::unique_ptr<TBitmap> FromPixmap(const TPixmap& p)
{
    auto b = std::make_unique<TBitmap>();
    b->SetSize(p.Width, p.Height);
    for (int y = 0; y < p.Height; ++y)
        for (int x = 0; x < p.Width; ++x) {
            const uint8_t* rgb = &p.Rgb[(size_t(y) * p.Width + x) * 3];
            uint8_t* bgr = b->ScanLine(y) + 3 * x;
            bgr[0] = rgb[2], bgr[1] = rgb[1], bgr[2] = rgb[0];
        }
    return b;
}

Bytes Save(TJPEGImage& image)
{
    TMemoryStream out;
    image.SaveStream(out);
    return out.Bytes();
}

Bytes Encode(const TBitmap& bitmap, int quality)
{
    TJPEGImage image;
    image.AssignFrom(bitmap);
    image.SetEncodingQuality(uint8_t(quality));
    return Save(image);
}

std::unique_ptr<TJPEGImage> Load(const Bytes& bytes)
{
    auto image = std::make_unique<TJPEGImage>();
    TMemoryStream in(bytes);
    image->LoadStream(in);
    return image;
}

// The rows of a 24-bit view as RGB, the order djpeg writes.
Bytes ViewAsRgb(const TBitmap& view)
{
    Bytes rgb;
    for (int y = 0; y < view.Height(); ++y)
        for (int x = 0; x < view.Width(); ++x) {
            const uint8_t* p = view.ScanLine(y) + 3 * x;
            rgb.insert(rgb.end(), {p[2], p[1], p[0]});
        }
    return rgb;
}

// Every entry of every DQT segment (8-bit tables).
std::vector<int> QuantEntries(const Bytes& jpeg)
{
    std::vector<int> entries;
    for (size_t i = 2; i + 4 <= jpeg.size() && jpeg[i] == 0xFF && jpeg[i + 1] != 0xDA;) {
        const size_t length = (size_t(jpeg[i + 2]) << 8) | jpeg[i + 3];
        if (jpeg[i + 1] == 0xDB)
            for (size_t t = i + 4; t + 65 <= i + 2 + length; t += 65)
                entries.insert(entries.end(), jpeg.begin() + t + 1, jpeg.begin() + t + 65);
        i += 2 + length;
    }
    return entries;
}

bool HasMarker(const Bytes& jpeg, uint8_t marker)
{
    for (size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == marker)
            return true;
    return false;
}

} // namespace

TEST(JPEGImage, EncodesByteForByteLikeCjpeg)
{
    test::TempDir dir;
    const fs::path ppm = dir.Path() / "in.ppm", expected = dir.Path() / "out.jpg";
    RunTool("/usr/bin/djpeg -dct float -ppm -outfile " + ppm.string() + " " + (kJpegSamples / "pillow__hopper.jpg").string());
    std::vector<std::unique_ptr<TBitmap>> pictures;
    pictures.push_back(FromPixmap(ReadPPM(ppm)));
    for (auto [w, h] : {std::pair{1, 1}, {1, 23}, {23, 1}, {13, 7}, {17, 33}})
        pictures.push_back(Pattern(w, h));
    for (const auto& picture : pictures) {
        WritePPM(ppm, *picture);
        for (int q : {1, 50, 75, 90, 100}) {
            RunTool("/usr/bin/cjpeg -quality " + std::to_string(q) + " -baseline -dct float -outfile " +
                expected.string() + " " + ppm.string());
            EXPECT_EQ(Encode(*picture, q), test::ReadFileBytes(expected)) << picture->Width() << "x" << picture->Height() << " q" << q;
        }
    }
    // Gray and progressive output follow the library's own settings too.
    auto picture = Pattern(19, 11);
    WritePPM(ppm, *picture);
    for (const char* option : {"-grayscale", "-progressive"}) {
        RunTool(std::string("/usr/bin/cjpeg -quality 90 -baseline -dct float ") + option + " -outfile " +
            expected.string() + " " + ppm.string());
        TJPEGImage image;
        image.AssignFrom(*picture);
        image.SetGrayscaleMode(option[1] == 'g');
        image.SetProgressiveMode(option[1] == 'p');
        EXPECT_EQ(Save(image), test::ReadFileBytes(expected)) << option;
    }
}

TEST(JPEGImage, DecodesPixelForPixelLikeDjpeg)
{
    test::TempDir dir;
    const fs::path ppm = dir.Path() / "out.ppm";
    for (const char* name :
         {"gen__jpeg_baseline_420.jpg", "gen__jpeg_baseline_444.jpg", "gen__jpeg_422.jpg", "gen__jpeg_progressive.jpg",
          "gen__jpeg_restart.jpg", "gen__jpeg_odd_size_13x7.jpg", "ljt__testorig.jpg", "pillow__flower.jpg",
          "jpegdec__jpg-size-1x1.jpg", "gen__jpeg_cmyk.jpg", "jpegdec__jpg-cmyk-2.jpg", "jpegdec__ycck.jpg"}) {
        RunTool("/usr/bin/djpeg -dct float -ppm -outfile " + ppm.string() + " " + (kJpegSamples / name).string());
        const TPixmap expected = ReadPPM(ppm);
        auto image = Load(test::ReadFileBytes(kJpegSamples / name));
        const TBitmap& view = image->DecodedBitmap();
        ASSERT_EQ(view.PixelFormat(), TPixelFormat::pf24bit) << name;
        EXPECT_EQ(view.Width(), expected.Width) << name;
        EXPECT_EQ(view.Height(), expected.Height) << name;
        EXPECT_TRUE(ViewAsRgb(view) == expected.Rgb) << name;
    }
}

TEST(JPEGImage, LoadsThroughTheRegistryIntoOpaquePixels)
{
    TPictureFormatsScope formats;
    test::TempDir dir;
    const fs::path ppm = dir.Path() / "out.ppm";
    for (const char* name : {"pillow__hopper.jpg", "gen__jpeg.jfif", "gen__jpeg.jpe", "gen__jpeg.jpeg"}) {
        RunTool("/usr/bin/djpeg -dct float -ppm -outfile " + ppm.string() + " " + (kJpegSamples / name).string());
        const TPixmap expected = ReadPPM(ppm);
        TBitmap32 bitmap;
        LoadPictureFile(bitmap, (kJpegSamples / name).string());
        ASSERT_EQ(bitmap.Width(), expected.Width) << name;
        ASSERT_EQ(bitmap.Height(), expected.Height) << name;
        size_t mismatches = 0;
        for (int i = 0; i < expected.Width * expected.Height; ++i) {
            const TColor32 c = bitmap.PixelData()[i];
            mismatches += c != Color32(expected.Rgb[3 * i], expected.Rgb[3 * i + 1], expected.Rgb[3 * i + 2], 255);
        }
        EXPECT_EQ(mismatches, 0u) << name;
    }
    // Cut short after the header: loads and draws whatever the decoder made.
    for (const char* name : {"gen__jpeg_truncated_half.jpg", "gen__jpeg_truncated_prog.jpg", "pillow__truncated_jpeg.jpg"}) {
        TBitmap32 bitmap;
        EXPECT_NO_THROW(LoadPictureFile(bitmap, (kJpegSamples / name).string())) << name;
        EXPECT_FALSE(bitmap.IsEmpty()) << name;
    }
    // Not JPEG at all: refused when loading, not when drawing.
    const fs::path fake = dir.Path() / "fake.jpg";
    WriteFile(fake, Bytes{'h', 'e', 'l', 'l', 'o'});
    TBitmap32 bitmap;
    EXPECT_THROW_MSG(LoadPictureFile(bitmap, fake.string()), EJPEG, JpegError(JERR_NO_SOI));
}

TEST(JPEGImage, SizesAndStates)
{
    TJPEGImage image;
    EXPECT_TRUE(image.Empty());
    EXPECT_EQ(Save(image).size(), 0u); // never given pixels

    // Pixels only, then encoded: the bytes are a cache that later saves repeat.
    TBitmap indexed;
    indexed.SetPixelFormat(TPixelFormat::pf8bit);
    indexed.SetSize(9, 5);
    indexed.SetPalette({Color32(200, 10, 10), Color32(10, 200, 90)});
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x)
            indexed.ScanLine(y)[x] = uint8_t((x + y) & 1);
    TBitmap expanded;
    expanded.AssignFrom(&indexed);
    expanded.SetPixelFormat(TPixelFormat::pf24bit);
    image.AssignFrom(indexed);
    EXPECT_EQ(image.DecodedBitmap().PixelFormat(), TPixelFormat::pf8bit); // copied at its own depth
    EXPECT_FALSE(image.Empty());
    EXPECT_FALSE(image.Data().Data);
    EXPECT_EQ(image.Width(), 9);
    EXPECT_EQ(image.Height(), 5);
    const Bytes first = Save(image);
    image.SetEncodingQuality(10);
    EXPECT_EQ(Save(image), first);
    EXPECT_EQ(image.Data().Width, 9);
    EXPECT_EQ(first, Encode(expanded, 90)); // palette views are expanded
    EXPECT_THROW_MSG(image.SetWidth(3), EInvalidGraphicOperation, "Cannot change the size of a JPEG image");
    EXPECT_THROW_MSG(image.SetHeight(3), EInvalidGraphicOperation, "Cannot change the size of a JPEG image");
    TBitmap32 other;
    EXPECT_THROW_MSG(image.AssignFrom(other), EConvertError, "Cannot assign a TBitmap32 to a TJPEGImage");
    EXPECT_EQ(Save(image), first);

    // Data only after loading, decoded on first use.
    auto loaded = Load(first);
    EXPECT_FALSE(loaded->HasBitmapView());
    EXPECT_EQ(loaded->Width(), 9);
    EXPECT_EQ(loaded->Height(), 5);
    EXPECT_FALSE(loaded->ProgressiveMode());
    EXPECT_EQ(loaded->DecodedBitmap().Width(), 9);
    EXPECT_TRUE(loaded->HasBitmapView());
    EXPECT_EQ(Save(*loaded), first);

    // A view without width or height writes nothing and raises nothing.
    for (auto [w, h] : {std::pair{0, 4}, {4, 0}}) {
        TBitmap flat;
        flat.SetSize(w, h);
        EXPECT_EQ(Encode(flat, 90).size(), 0u);
    }

    // A 0-byte file: 0 x 0, but not Empty since a byte stream exists.
    auto nothing = Load({});
    EXPECT_EQ(nothing->Width(), 0);
    EXPECT_EQ(nothing->Height(), 0);
    EXPECT_FALSE(nothing->Empty());
    TBitmap32 target;
    target.AssignFrom(*nothing);
    EXPECT_TRUE(target.IsEmpty());
}

TEST(JPEGImage, ColoursAlphaAndQuantisation)
{
    // The output depends only on the colour bytes, never on alpha.
    auto varying = Pattern(12, 8, TPixelFormat::pf32bit);
    auto opaque = Pattern(12, 8, TPixelFormat::pf32bit);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x)
            opaque->ScanLine(y)[4 * x + 3] = 0xFF;
    EXPECT_EQ(Encode(*varying, 75), Encode(*opaque, 75));

    const std::vector<int> q100 = QuantEntries(Encode(*opaque, 100));
    EXPECT_EQ(std::set<int>(q100.begin(), q100.end()), std::set<int>{1});
    const std::vector<int> q1 = QuantEntries(Encode(*opaque, 1));
    EXPECT_EQ(q1.size(), 128u);
    EXPECT_EQ(std::set<int>(q1.begin(), q1.end()), std::set<int>{255});

    // Red comes back red, at 24 bits and through a palette.
    TBitmap red;
    red.SetSize(16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            red.ScanLine(y)[3 * x + 2] = 255;
    const Bytes redJpeg = Encode(red, 90);
    for (bool palette : {false, true}) {
        auto image = Load(redJpeg);
        image->SetPaletteDecoding(palette);
        TBitmap32 pixels;
        pixels.AssignFrom(*image);
        EXPECT_EQ(image->DecodedBitmap().PixelFormat(), palette ? TPixelFormat::pf8bit : TPixelFormat::pf24bit);
        const TColor32 c = pixels.Pixel(8, 8);
        EXPECT_GE(RedComponent(c), 240u) << palette;
        EXPECT_LE(GreenComponent(c), 15u) << palette;
        EXPECT_LE(BlueComponent(c), 15u) << palette;
    }

    // A gray source: 8 bits with at most 236 gray levels, whatever the settings.
    for (const char* name : {"gen__jpeg_gray.jpg", "pillow__hopper_gray.jpg"}) {
        for (bool fast : {false, true}) {
            auto gray = Load(test::ReadFileBytes(kJpegSamples / name));
            gray->SetFastDecoding(fast);
            EXPECT_TRUE(gray->Data().Grayscale);
            const TBitmap& view = gray->DecodedBitmap();
            ASSERT_EQ(view.PixelFormat(), TPixelFormat::pf8bit);
            EXPECT_LE(view.Palette().size(), 236u);
            std::set<TColor32> levels;
            std::vector<TColor32> row(view.Width());
            for (int y = 0; y < view.Height(); ++y) {
                view.ReadRow32(y, row.data());
                for (TColor32 c : row) {
                    EXPECT_TRUE(RedComponent(c) == GreenComponent(c) && GreenComponent(c) == BlueComponent(c));
                    levels.insert(c);
                }
            }
            EXPECT_GT(levels.size(), 8u) << name;
        }
    }
}

TEST(JPEGImage, ProgressiveSourcesAndFailures)
{
    auto progressive = Load(test::ReadFileBytes(kJpegSamples / "gen__jpeg_progressive.jpg"));
    EXPECT_TRUE(progressive->ProgressiveMode());
    EXPECT_EQ(progressive->DecodedBitmap().Width(), progressive->Data().Width);
    // A new picture with the defaults is still sequential (SOF0, no SOF2).
    const Bytes written = Encode(*Pattern(8, 8), 90);
    EXPECT_TRUE(HasMarker(written, 0xC0));
    EXPECT_FALSE(HasMarker(written, 0xC2));

    // A header beyond the picture limits is refused at load.
    Bytes huge = test::ReadFileBytes(kJpegSamples / "gen__jpeg_baseline_420.jpg");
    for (size_t i = 2; i + 9 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = huge[i + 7] = 0xFF; // 65xxx x 65xxx
            break;
        }
    EXPECT_THROW_MSG(Load(huge), EJPEG, JpegError(JERR_IMAGE_TOO_BIG));

    // A short read leaves a fresh empty record.
    struct TShortStream : TMemoryStream {
        using TMemoryStream::TMemoryStream;
        size_t Read(void* buffer, size_t count) override { return TMemoryStream::Read(buffer, count / 2); }
    } shortStream(test::ReadFileBytes(kJpegSamples / "gen__jpeg_baseline_420.jpg"));
    TJPEGImage image;
    EXPECT_THROW_MSG(image.LoadStream(shortStream), EReadError, "Stream read error");
    EXPECT_FALSE(image.Data().Data);
    EXPECT_TRUE(image.Empty());

    // A failed encoding leaves no bytes behind for a later save, and no file.
    TBitmap wide;
    wide.SetSize(65501, 1); // one more than the library's largest side
    TJPEGImage tooWide;
    tooWide.AssignFrom(wide);
    EXPECT_THROW_MSG(Save(tooWide), EJPEG, JpegError(JERR_IMAGE_TOO_BIG));
    EXPECT_FALSE(tooWide.Data().Data);
    test::TempDir dir;
    const fs::path out = dir.Path() / "wide.jpg";
    EXPECT_THROW(tooWide.SaveFile(out.string()), EJPEG);
    EXPECT_FALSE(fs::exists(out));
}
