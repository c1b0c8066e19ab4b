// TBitmap32's copies to and from the platform picture kinds: alpha and
// transparency rules, the icon mask, CopyTo, and failed loads.
#include <cstring>
#include <fstream>
#include <iterator>

#include <jerror.h>

#include "TestMain.h"
#include "raster/Bitmap32Events.h"
#include "imageio/Bitmap.h"
#include "imageio/Icon.h"
#include "imageio/JPEGImage.h"
#include "imageio/Picture.h"
#include "imageio/PictureRows.h"
#include "imageio/decoders/FileFormatList.h"
#include "platform/Errors.h"

using namespace palvex;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// A 3x2 platform bitmap of the given depth: white, red, green / blue, white, grey.
std::unique_ptr<TBitmap> Sample(TPixelFormat format)
{
    const TColor32 colours[6] = {0x40FFFFFF, 0x41FF0000, 0x4200FF00, 0x430000FF, 0x44FFFFFF, 0x45808080};
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(format);
    b->SetSize(3, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const TColor32 c = colours[3 * y + x];
            uint8_t* p = b->ScanLine(y);
            if (format == TPixelFormat::pf32bit) {
                std::memcpy(p + 4 * x, &c, 4);
            } else {
                p[3 * x] = uint8_t(c), p[3 * x + 1] = uint8_t(c >> 8), p[3 * x + 2] = uint8_t(c >> 16);
            }
        }
    return b;
}

std::vector<TColor32> PixelsOf(const TBitmap32& b)
{
    return std::vector<TColor32>(b.PixelData(), b.PixelData() + b.PixelCount());
}

void WriteFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A drawable kind that is neither a bitmap nor an icon: paints a 2x2 pattern
// with alpha 0, which the drawable-picture copy must make opaque.
class TPatternGraphic : public TGraphic {
public:
    void LoadStream(TStream&) override {}
    int32_t Width() const override { return 2; }
    int32_t Height() const override { return 2; }
    bool Empty() const override { return false; }
    void DrawInto(TBitmap32& canvas, const TRect& rect) const override
    {
        for (int32_t y = rect.Top; y < rect.Bottom; ++y)
            for (int32_t x = rect.Left; x < rect.Right; ++x)
                canvas.SetPixel(x, y, 0x00102030u + uint32_t(x + 2 * y));
    }
};

} // namespace

TEST(Bitmap32Copy, PlatformBitmapDepthsAndTransparency)
{
    // Below 32 bits: opaque, colours exact.
    TBitmap32 b;
    test::EventCounts e;
    Count(b, e);
    b.AssignFrom(Sample(TPixelFormat::pf24bit).get());
    ASSERT_EQ(b.Width(), 3);
    ASSERT_EQ(b.Height(), 2);
    EXPECT_EQ(PixelsOf(b), (std::vector<TColor32>{0xFFFFFFFF, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF,
                                                  0xFF808080}));
    EXPECT_EQ(e.change, 1);
    EXPECT_EQ(e.resize, 1);

    // A palette picture takes the same road.
    TBitmap indexed;
    indexed.SetPixelFormat(TPixelFormat::pf8bit);
    indexed.SetSize(2, 1);
    indexed.SetPalette({Color32(1, 2, 3), Color32(200, 100, 50)});
    indexed.ScanLine(0)[0] = 1;
    b.AssignFrom(&indexed);
    EXPECT_EQ(PixelsOf(b), (std::vector<TColor32>{0xFFC86432, 0xFF010203}));

    // 32 bits: the fourth byte is the alpha.
    b.AssignFrom(Sample(TPixelFormat::pf32bit).get());
    EXPECT_EQ(PixelsOf(b), (std::vector<TColor32>{0x40FFFFFF, 0x41FF0000, 0x4200FF00, 0x430000FF, 0x44FFFFFF,
                                                  0x45808080}));

    // Transparent white: every white pixel keeps its colour with alpha 0.
    auto white = Sample(TPixelFormat::pf24bit);
    white->SetTransparent(true);
    white->SetTransparentColor(0x00FFFFFF);
    b.AssignFrom(white.get());
    EXPECT_EQ(PixelsOf(b), (std::vector<TColor32>{0x00FFFFFF, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0x00FFFFFF,
                                                  0xFF808080}));

    // Without a colour of its own, the bottom-left pixel (blue) shows through.
    auto bottomLeft = Sample(TPixelFormat::pf32bit);
    bottomLeft->SetTransparent(true);
    b.AssignFrom(bottomLeft.get());
    EXPECT_EQ(PixelsOf(b), (std::vector<TColor32>{0x40FFFFFF, 0x41FF0000, 0x4200FF00, 0x000000FF, 0x44FFFFFF,
                                                  0x45808080}));

    // An empty platform bitmap empties the target.
    TBitmap empty;
    b.AssignFrom(&empty);
    EXPECT_TRUE(b.IsEmpty());
}

TEST(Bitmap32Copy, PictureContainerByKindOfGraphic)
{
    TBitmap32 b;

    // A held bitmap: the platform-bitmap copy, so 32-bit alpha survives.
    TPicture bitmapPicture;
    bitmapPicture.SetGraphic(Sample(TPixelFormat::pf32bit));
    b.AssignFrom(&bitmapPicture);
    EXPECT_EQ(b.Pixel(2, 1), 0x45808080u);

    // An icon: drawn over blue and over red. Covered pixels end opaque with
    // their colour; transparent ones and half-transparent ones (which differ
    // between the passes) end with alpha 0 and the blue pass's colour.
    auto icon = std::make_unique<TIcon>();
    icon->SetImage(3, 1, {0xFF123456, 0x00ABCDEF, 0x80FFFFFF});
    TPicture iconPicture;
    iconPicture.SetGraphic(std::move(icon));
    b.AssignFrom(&iconPicture);
    ASSERT_EQ(b.Width(), 3);
    EXPECT_EQ(b.Pixel(0, 0), 0xFF123456u);
    EXPECT_EQ(b.Pixel(1, 0), 0x000000FFu);
    EXPECT_EQ(b.Pixel(2, 0) >> 24, 0u);
    EXPECT_EQ(b.Pixel(2, 0) & 0xFF, 0xFFu); // white half over blue keeps full blue

    // Any other drawable kind, held or given directly: drawn, then opaque.
    TPicture patternPicture;
    patternPicture.SetGraphic(std::make_unique<TPatternGraphic>());
    b.AssignFrom(&patternPicture);
    EXPECT_EQ(PixelsOf(b), (std::vector<TColor32>{0xFF102030, 0xFF102031, 0xFF102032, 0xFF102033}));
    TBitmap32 direct;
    TPatternGraphic pattern;
    direct.AssignFrom(&pattern);
    EXPECT_EQ(PixelsOf(direct), PixelsOf(b));

    // An empty container empties the bitmap.
    TPicture nothing;
    b.AssignFrom(&nothing);
    EXPECT_TRUE(b.IsEmpty());
}

TEST(Bitmap32Copy, CopyToPlatformBitmapAndContainer)
{
    TBitmap32 b;
    b.SetSize(3, 2);
    for (int i = 0; i < 6; ++i)
        b.PixelData()[i] = 0x11223344u * uint32_t(i + 1);

    TBitmap target;
    target.SetPixelFormat(TPixelFormat::pf8bit);
    target.SetHandleType(TBitmapHandleType::bmDDB);
    target.SetSize(9, 9);
    int changes = 0;
    target.OnChange = [&](TPersistent&) { ++changes; };
    b.CopyTo(target);
    EXPECT_EQ(target.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(target.HandleType(), TBitmapHandleType::bmDIB);
    ASSERT_EQ(target.Width(), 3);
    ASSERT_EQ(target.Height(), 2);
    EXPECT_TRUE(target.Palette().empty());
    EXPECT_GE(changes, 1);
    for (int y = 0; y < 2; ++y) {
        TColor32 row[3];
        target.ReadRow32(y, row);
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(row[x], b.Pixel(x, y)) << x << "," << y;
    }

    // The batch run's direction: the platform bitmap asks to copy from us,
    // and the round trip returns the same pixels.
    TBitmap pulled;
    pulled.AssignFrom(&b);
    TBitmap32 back;
    back.AssignFrom(&pulled);
    EXPECT_EQ(PixelsOf(back), PixelsOf(b));

    // A container gets a bitmap graphic, replacing whatever it held.
    TPicture picture;
    picture.SetGraphic(std::make_unique<TIcon>());
    b.CopyTo(picture);
    auto* held = dynamic_cast<TBitmap*>(picture.Graphic());
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->Width(), 3);
    EXPECT_EQ(held->PixelFormat(), TPixelFormat::pf32bit);

    // An empty bitmap copies to an empty one.
    TBitmap32 empty;
    empty.CopyTo(target);
    EXPECT_TRUE(target.Empty());

    TIcon icon;
    EXPECT_THROW_MSG(b.CopyTo(icon), EConvertError, "Cannot assign a TBitmap32 to a TIcon");
}

TEST(Bitmap32Copy, FailedLoadLeavesTheBitmapAsItWas)
{
    TPictureFormatsScope formats;
    test::TempDir dir;
    TBitmap32 b;
    b.SetSize(2, 3);
    b.FillAll(0x80C0FFEE);
    const std::vector<TColor32> before = PixelsOf(b);
    test::EventCounts e;
    Count(b, e);
    auto expectUnchanged = [&](const char* what) {
        EXPECT_EQ(b.Width(), 2) << what;
        EXPECT_EQ(b.Height(), 3) << what;
        EXPECT_EQ(PixelsOf(b), before) << what;
        EXPECT_EQ(e.change, 0) << what;
        EXPECT_EQ(e.resize, 0) << what;
        EXPECT_EQ(e.handle, 0) << what;
        EXPECT_EQ(b.UpdateCount(), 0) << what;
    };

    EXPECT_THROW_MSG(LoadPictureFile(b, (dir.Path() / "x.Xyz").string()), EInvalidGraphic,
                     "Unknown picture file extension (.Xyz)");
    expectUnchanged("unknown extension");

    EXPECT_THROW(LoadPictureFile(b, (dir.Path() / "missing.bmp").string()), EFOpenError);
    expectUnchanged("missing file");

    const fs::path garbage = dir.Path() / "garbage.bmp";
    WriteFile(garbage, Bytes{'X', 'Y', 1, 2, 3});
    EXPECT_THROW_MSG(LoadPictureFile(b, garbage.string()), EInvalidGraphic, "Bitmap image is not valid");
    expectUnchanged("garbage BMP");
    WriteFile(garbage, Bytes{'B', 'M', 1, 2, 3});
    EXPECT_THROW_MSG(LoadPictureFile(b, garbage.string()), EReadError, "Stream read error");
    expectUnchanged("short BMP");

    // A JPEG whose header is fine but whose second scan is not: the failure
    // comes while decoding, after the header gave the size.
    Bytes jpeg = test::ReadFileBytes(test::DataDir() / "jpeg" / "gen__jpeg_progressive.jpg");
    int scans = 0;
    for (size_t i = 0; i + 4 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA && ++scans == 2) {
            const size_t se = i + 4 + 1 + 2 * jpeg[i + 4] + 1;
            ASSERT_LT(se, jpeg.size());
            jpeg[se] = 0x50; // spectral end past 63
            break;
        }
    ASSERT_EQ(scans, 2);
    const fs::path broken = dir.Path() / "broken.jpg";
    WriteFile(broken, jpeg);
    const std::string message = "JPEG error #" + std::to_string(JERR_BAD_PROGRESSION);
    EXPECT_THROW_MSG(LoadPictureFile(b, broken.string()), EJPEG, message);
    expectUnchanged("bad progressive scan");

    // The picture itself fails again on the next draw instead of caching an
    // empty view.
    TPicture picture;
    picture.LoadFile(broken.string());
    TBitmap32 scratch;
    EXPECT_THROW_MSG(scratch.AssignFrom(&picture), EJPEG, message);
    EXPECT_THROW_MSG(scratch.AssignFrom(&picture), EJPEG, message);
    EXPECT_EQ(picture.Width(), 64);

    // A good load then replaces pixels and size, with one change and one resize.
    LoadPictureFile(b, (test::DataDir() / "jpeg" / "gen__jpeg_progressive.jpg").string());
    EXPECT_EQ(b.Width(), 64);
    EXPECT_EQ(b.Height(), 48);
    EXPECT_EQ(e.change, 1);
    EXPECT_EQ(e.resize, 1);
    EXPECT_EQ(e.handle, 1);
    EXPECT_EQ(b.Pixel(5, 5) >> 24, 0xFFu);
}

TEST(Bitmap32Copy, PlatformBitmapDrawsScaledClippedAndTransparent)
{
    auto source = Sample(TPixelFormat::pf24bit); // 3 x 2
    TBitmap32 canvas;
    canvas.SetSize(5, 4);
    canvas.FillAll(0x11111111);
    int changes = 0;
    canvas.OnChange = [&](TPersistent&) { ++changes; };

    // 1:1 at an offset, the bottom row cut by the canvas.
    source->DrawInto(canvas, TRect{2, 3, 5, 5});
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(canvas.Pixel(1, 3), 0x11111111u);
    EXPECT_EQ(canvas.Pixel(2, 3) & 0x00FFFFFF, 0x00FFFFFFu);
    EXPECT_EQ(canvas.Pixel(3, 3) & 0x00FFFFFF, 0x00FF0000u);
    EXPECT_EQ(canvas.Pixel(4, 2), 0x11111111u);

    // Twice as wide, starting left of the canvas: canvas column x shows
    // source column (x + 1) * 3 div 6.
    canvas.FillAll(0x11111111);
    source->DrawInto(canvas, TRect{-1, 0, 5, 2});
    const TColor32 top[5] = {0xFFFFFF, 0xFF0000, 0xFF0000, 0x00FF00, 0x00FF00};
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(canvas.Pixel(x, 0) & 0x00FFFFFF, top[x]) << x;
    EXPECT_EQ(canvas.Pixel(0, 1) & 0x00FFFFFF, 0x0000FFu); // row 1 starts blue
    EXPECT_EQ(canvas.Pixel(0, 2), 0x11111111u);

    // Transparent white leaves the canvas showing through, 1:1 as well.
    source->SetTransparent(true);
    source->SetTransparentColor(0x00FFFFFF);
    canvas.FillAll(0x22222222);
    source->DrawInto(canvas, TRect{0, 0, 3, 2});
    EXPECT_EQ(canvas.Pixel(0, 0), 0x22222222u);
    EXPECT_EQ(canvas.Pixel(1, 1), 0x22222222u);
    EXPECT_EQ(canvas.Pixel(0, 1) & 0x00FFFFFF, 0x0000FFu);
}
