// Metafiles: hand-built WMF and EMF files with known pixels, the samples,
// damaged files and pictures larger than the limits.
#include <cstring>

#include "decoders/CorpusCompare.h"
#include "imageio/Metafile.h"
#include "imageio/MetafilePlayer.h"
#include "imageio/MetafileText.h"
#include "imageio/PictureReader.h"

namespace palvex::test {
namespace {

class MetafileTest : public RegisteredFormats {};

const std::filesystem::path kData = PALVEX_TEST_DATA_DIR;
const TColor32 kShowsThrough = 0x000000FF; // the mask copy's background: alpha 0, blue

void Put16(std::vector<uint8_t>& b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void Put32(std::vector<uint8_t>& b, uint32_t v)
{
    b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}

// A bottom-up 24-bit DIB (info header and bits) of width x height pixels.
std::vector<uint8_t> Dib(int32_t width, int32_t height, const std::vector<TColor32>& topDown)
{
    std::vector<uint8_t> b;
    Put32(b, 40), Put32(b, uint32_t(width)), Put32(b, uint32_t(height)), Put16(b, 1), Put16(b, 24);
    for (int i = 0; i < 6; ++i)
        Put32(b, 0);
    const size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
    for (int32_t y = height - 1; y >= 0; --y) {
        for (int32_t x = 0; x < width; ++x) {
            const TColor32 c = topDown[size_t(y) * size_t(width) + size_t(x)];
            b.insert(b.end(), {uint8_t(BlueComponent(c)), uint8_t(GreenComponent(c)), uint8_t(RedComponent(c))});
        }
        b.resize(b.size() + stride - size_t(width) * 3, 0);
    }
    return b;
}

std::vector<TColor32> Photo(int32_t width, int32_t height)
{
    std::vector<TColor32> p(size_t(width) * size_t(height));
    uint32_t seed = 12345;
    for (TColor32& c : p) {
        seed = seed * 1103515245 + 12345;
        c = 0xFF000000 | (seed >> 8);
    }
    return p;
}

// WMF records: parameters as stored (last parameter first).
struct Wmf {
    std::vector<uint8_t> records;
    uint16_t objects = 0;

    void Add(uint16_t function, const std::vector<int16_t>& params, const std::vector<uint8_t>& tail = {})
    {
        const size_t bytes = 6 + 2 * params.size() + (tail.size() + 1) / 2 * 2;
        Put32(records, uint32_t(bytes / 2));
        Put16(records, function);
        for (int16_t p : params)
            Put16(records, uint16_t(p));
        records.insert(records.end(), tail.begin(), tail.end());
        records.resize(records.size() + tail.size() % 2, 0);
    }
    std::vector<uint8_t> Placeable(int16_t right, int16_t bottom, uint16_t inch)
    {
        std::vector<uint8_t> b;
        Put32(b, 0x9AC6CDD7), Put16(b, 0), Put16(b, 0), Put16(b, 0), Put16(b, uint16_t(right)),
            Put16(b, uint16_t(bottom)), Put16(b, inch), Put32(b, 0);
        uint16_t sum = 0;
        for (size_t i = 0; i < 20; i += 2)
            sum ^= uint16_t(b[i] | (b[i + 1] << 8));
        Put16(b, sum);
        std::vector<uint8_t> body = Plain();
        b.insert(b.end(), body.begin(), body.end());
        return b;
    }
    std::vector<uint8_t> Plain()
    {
        std::vector<uint8_t> b;
        Put16(b, 1), Put16(b, 9), Put16(b, 0x300), Put32(b, uint32_t(9 + records.size() / 2 + 3)), Put16(b, objects),
            Put32(b, 0), Put16(b, 0);
        b.insert(b.end(), records.begin(), records.end());
        Put32(b, 3), Put16(b, 0); // end of file
        return b;
    }
};

// EMF records after an 88-byte header whose reference device has 96 pixels
// an inch, so the frame of a width x height picture maps 1:1 onto it.
struct Emf {
    std::vector<uint8_t> records;
    uint32_t count = 0;

    void Add(uint32_t type, const std::vector<int32_t>& ints, const std::vector<uint8_t>& tail = {})
    {
        Put32(records, type);
        Put32(records, uint32_t(8 + 4 * ints.size() + (tail.size() + 3) / 4 * 4));
        for (int32_t v : ints)
            Put32(records, uint32_t(v));
        records.insert(records.end(), tail.begin(), tail.end());
        records.resize(records.size() + (4 - tail.size() % 4) % 4, 0);
        ++count;
    }
    std::vector<uint8_t> File(int32_t width, int32_t height, uint16_t handles = 8)
    {
        Add(14, {0, 16, 20});
        std::vector<uint8_t> b;
        Put32(b, 1), Put32(b, 88);
        for (int32_t v : {0, 0, width - 1, height - 1, 0, 0, width * 2540 / 96, height * 2540 / 96})
            Put32(b, uint32_t(v));
        Put32(b, 0x464D4520), Put32(b, 0x10000), Put32(b, uint32_t(88 + records.size())), Put32(b, count + 1);
        Put16(b, handles), Put16(b, 0), Put32(b, 0), Put32(b, 0), Put32(b, 0);
        Put32(b, 960), Put32(b, 960), Put32(b, 254), Put32(b, 254);
        b.insert(b.end(), records.begin(), records.end());
        return b;
    }
};

TColor32 At(const TBitmap32& b, int32_t x, int32_t y) { return b.Pixel(x, y); }

// The picture as the batch run reads it: through the kind's row reader.
void ReadRows(const std::string& extension, const std::vector<uint8_t>& bytes, TBitmap32& picture)
{
    TMemoryStream stream(bytes);
    const std::unique_ptr<TGraphic> kind = CreateGraphic(extension);
    const std::unique_ptr<TPictureReader> reader = kind->OpenRows(stream);
    reader->ReadAll(picture);
}

TEST_F(MetafileTest, PlaceableWmfDrawsShapesAtItsStatedSize)
{
    // 1440 units an inch: 1440 x 720 units are 96 x 48 pixels, 15 units a pixel.
    Wmf w;
    w.objects = 2;
    w.Add(0x02FC, {0, 0x00FF, 0, 0});                 // solid red brush, slot 0
    w.Add(0x02FA, {5, 0, 0, 0, 0});                   // null pen, slot 1
    w.Add(0x012D, {0}), w.Add(0x012D, {1});
    w.Add(0x041B, {360, 720, 0, 0});                  // rectangle (0,0)-(720,360): 48 x 24 pixels
    w.Add(0x01F0, {1});
    w.Add(0x02FA, {0, 0, 0, int16_t(0xFF00), 0});     // one-pixel green pen, slot 1
    w.Add(0x012D, {1});
    w.Add(0x0214, {600, 15}), w.Add(0x0213, {600, 1440}); // a line along row 40, its end not drawn
    TBitmap32 out;
    DecodeBytes("wmf", w.Placeable(1440, 720, 1440), out);
    ASSERT_EQ(out.Width(), 96);
    ASSERT_EQ(out.Height(), 48);
    for (int32_t y = 0; y < 48; ++y)
        for (int32_t x = 0; x < 96; ++x) {
            TColor32 expected = kShowsThrough;
            if (x < 48 && y < 24)
                expected = 0xFFFF0000;
            else if (y == 40 && x >= 1 && x < 96)
                expected = 0xFF00FF00;
            ASSERT_EQ(At(out, x, y), expected) << x << "," << y;
        }
}

TEST_F(MetafileTest, EmfMapsItsWindowThroughTheViewportAndClips)
{
    // 40 x 40 pixels; a 400-unit window on a 40-pixel viewport; a clip
    // rectangle cuts a filled rectangle and a hatched one draws only its lines.
    Emf e;
    e.Add(17, {8});                                 // MM_ANISOTROPIC
    e.Add(9, {400, 400}), e.Add(11, {40, 40});
    e.Add(39, {1, 0, 0x0000FF, 0});                 // red brush
    e.Add(38, {2, 5, 0, 0, 0});                     // null pen
    e.Add(37, {1}), e.Add(37, {2});
    e.Add(30, {0, 0, 200, 400});                    // clip to the left half
    e.Add(43, {100, 100, 300, 200});                // rectangle: pixels 10..29 x 10..19, clipped to 10..19
    e.Add(34, {-1});                                // nothing saved: no effect
    e.Add(18, {1});                                 // transparent background
    e.Add(39, {3, 2, 0x00FF00, 1});                 // green vertical hatch
    e.Add(37, {3});
    e.Add(43, {0, 300, 400, 400});                  // hatch over rows 30..39, still clipped
    TBitmap32 out;
    DecodeBytes("emf", e.File(40, 40), out);
    ASSERT_EQ(out.Width(), 40);
    ASSERT_EQ(out.Height(), 40);
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 40; ++x) {
            TColor32 expected = kShowsThrough;
            if (x >= 10 && x < 20 && y >= 10 && y < 20)
                expected = 0xFFFF0000;
            else if (y >= 30 && x < 20 && x % 8 == 0)
                expected = 0xFF00FF00;
            ASSERT_EQ(At(out, x, y), expected) << x << "," << y;
        }
}

TEST_F(MetafileTest, PhotoWrappedInAMetafileComesOutExact)
{
    const int32_t w = 37, h = 23;
    const std::vector<TColor32> photo = Photo(w, h);
    const std::vector<uint8_t> dib = Dib(w, h, photo);

    Emf e;
    std::vector<int32_t> fields = {0, 0, w - 1, h - 1, 0, 0, 0, 0, w, h, 80, 40, 120, int32_t(dib.size() - 40),
                                   0, 0x00CC0020, w, h};
    e.Add(81, fields, dib);
    Wmf m;
    // rop (low, high word), usage, source size and place, destination size and place.
    m.Add(0x0F43, {0x0020, 0x00CC, 0, h, w, 0, 0, int16_t(h * 15), int16_t(w * 15), 0, 0}, dib);

    for (const auto& [ext, bytes] : {std::pair{"emf", e.File(w, h)}, std::pair{"wmf", m.Placeable(w * 15, h * 15, 1440)}}) {
        SCOPED_TRACE(ext);
        TBitmap32 out;
        DecodeBytes(ext, bytes, out);
        ASSERT_EQ(out.Width(), w);
        ASSERT_EQ(out.Height(), h);
        TBitmap32 rows;
        ReadRows(ext, bytes, rows);
        ASSERT_EQ(rows.PixelCount(), photo.size());
        for (size_t i = 0; i < photo.size(); ++i) {
            ASSERT_EQ(out.PixelData()[i], photo[i]) << i;
            ASSERT_EQ(rows.PixelData()[i], photo[i]) << i;
        }
    }
}

TEST_F(MetafileTest, WmfBitmapMayBeAWholePng)
{
    // Bit count 0 and compression 5: the bits are a PNG file, with no colour table before them.
    const std::vector<uint8_t> png = ReadFileBytes(kData / "png" / "pngsuite_basn2c08.png");
    TBitmap32 want;
    DecodeBytes("png", png, want);
    const int16_t w = int16_t(want.Width()), h = int16_t(want.Height());
    std::vector<uint8_t> dib;
    Put32(dib, 40), Put32(dib, uint32_t(w)), Put32(dib, uint32_t(h)), Put16(dib, 1), Put16(dib, 0), Put32(dib, 5),
        Put32(dib, uint32_t(png.size()));
    dib.resize(40, 0);
    dib.insert(dib.end(), png.begin(), png.end());
    Wmf m;
    m.Add(0x0F43, {0x0020, 0x00CC, 0, h, w, 0, 0, int16_t(h * 15), int16_t(w * 15), 0, 0}, dib);
    TBitmap32 out;
    DecodeBytes("wmf", m.Placeable(int16_t(w * 15), int16_t(h * 15), 1440), out);
    ASSERT_EQ(out.PixelCount(), want.PixelCount());
    for (size_t i = 0; i < want.PixelCount(); ++i)
        ASSERT_EQ(out.PixelData()[i], want.PixelData()[i]) << i;
}

TEST_F(MetafileTest, SamplesPlayWithTheirSizes)
{
    // Width, height; the placeable ones at their stated units, the
    // enhanced ones at their frames, 96 pixels an inch.
    const std::pair<const char*, std::pair<int, int>> samples[] = {
        {"wmf/gen__ink_shapes.wmf", {200, 120}},   {"wmf/gen__ink_image.wmf", {200, 120}},
        {"wmf/gen__wmf_nonplaceable.wmf", {167, 100}}, {"wmf/wmf2svg__symbol-font-tables.wmf", {567, 503}},
        {"emf/gen__ink_shapes.emf", {200, 121}},   {"emf/gen__ink_image.emf", {200, 121}},
        {"emf/gen__fig2dev.emf", {324, 204}},      {"emf/wmf2svg__fulltest.emf", {1056, 792}},
        {"emf/pillow__drawing.emf", {110, 110}},
    };
    for (const auto& [name, size] : samples) {
        SCOPED_TRACE(name);
        const std::filesystem::path path = kData / name;
        TBitmap32 out;
        DecodeBytes(path.extension().string().substr(1), ReadFileBytes(path), out);
        EXPECT_EQ(out.Width(), size.first);
        EXPECT_EQ(out.Height(), size.second);
        // Something was drawn, and something of each picture is opaque.
        size_t opaque = 0;
        for (size_t i = 0; i < out.PixelCount(); ++i)
            opaque += AlphaComponent(out.PixelData()[i]) == 255;
        EXPECT_GT(opaque, out.PixelCount() / 20);
    }
}

TEST_F(MetafileTest, InkscapeImageKeepsItsPixels)
{
    // The embedded 24-bit picture of the EMF sample is drawn 1:1 at its place
    // and matches the WMF sample's copy of the same drawing.
    TBitmap32 wmf, emf;
    DecodeBytes("wmf", ReadFileBytes(kData / "wmf/gen__ink_image.wmf"), wmf);
    DecodeBytes("emf", ReadFileBytes(kData / "emf/gen__ink_image.emf"), emf);
    size_t same = 0, compared = 0;
    for (int32_t y = 0; y < 120; ++y)
        for (int32_t x = 0; x < 200; ++x) {
            same += wmf.Pixel(x, y) == emf.Pixel(x, y);
            ++compared;
        }
    // Edges of shapes fall a pixel apart where the two writers rounded.
    EXPECT_GT(same, compared * 95 / 100);
}

TEST_F(MetafileTest, RefusedFilesGiveTheMetafileMessage)
{
    const std::string message = "Metafile is not valid";
    EXPECT_EQ(DecodeFailure("wmf", {}), message);
    EXPECT_EQ(DecodeFailure("emf", std::vector<uint8_t>(100, 0x41)), message);

    Emf e;
    e.Add(87, {0, 0, 10, 10, 1000, 0, 0});         // a polyline claiming 1000 points
    EXPECT_EQ(DecodeFailure("emf", e.File(20, 20)), message);

    std::vector<uint8_t> cut = Emf().File(20, 20);
    cut.resize(cut.size() - 4);                    // the end record reaches past the file
    EXPECT_EQ(DecodeFailure("emf", cut), message);

    // Drawn only in EMF+ comments: a GDI player would show nothing.
    Emf plus;
    plus.Add(70, {8, 0x2B464D45, 0x4001});
    EXPECT_EQ(DecodeFailure("emf", plus.File(20, 20)), message);

    // A plain WMF without a window has no size.
    Wmf plain;
    plain.Add(0x041B, {10, 10, 0, 0});
    EXPECT_EQ(DecodeFailure("wmf", plain.Plain()), message);

    // Its only picture cannot be read: an empty result would hide that.
    Wmf broken;
    broken.Add(0x0F43, {0x0020, 0x00CC, 0, 4, 4, 0, 0, 60, 60, 0, 0}, {40, 0, 0, 0, 4, 0, 0, 0});
    EXPECT_EQ(DecodeFailure("wmf", broken.Placeable(60, 60, 1440)), message);
}

TEST_F(MetafileTest, PicturesBeyondTheLimitsAreRefusedBeforeDrawing)
{
    // 32767 units at one unit an inch: 3.1 million pixels a side.
    Wmf w;
    w.Add(0x041B, {100, 100, 0, 0});
    EXPECT_EQ(DecodeFailure("wmf", w.Placeable(32767, 32767, 1)), "Metafile is not valid");
    // An EMF frame of 2 km.
    std::vector<uint8_t> emf = Emf().File(10, 10);
    for (int i : {32, 36})
        emf[size_t(i) + 3] = 0x0B;
    EXPECT_EQ(DecodeFailure("emf", emf), "Metafile is not valid");
}

TEST_F(MetafileTest, DamagedSamplesGiveAPictureOrTheMessage)
{
    for (const char* name : {"wmf/gen__ink_shapes.wmf", "wmf/gen__ink_image.wmf", "emf/gen__ink_shapes.emf",
                             "emf/pillow__drawing.emf"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = ReadFileBytes(kData / name);
        const std::string ext = std::filesystem::path(name).extension().string().substr(1);
        MutationSweep(ext, bytes, 96, std::max<size_t>(1, bytes.size() / 48));
    }
}

// A large picture is played over red in bands: each band must hold exactly the
// rows of the whole, with clips made, saved, moved and restored across band
// edges, fills, lines, text and images among the records.
TEST_F(MetafileTest, BandsDrawTheRowsOfTheWhole)
{
    Wmf w;
    w.objects = 2;
    w.Add(0x02FC, {0, 0x00FF, 0, 0});                  // solid red brush, slot 0
    w.Add(0x012D, {0});
    w.Add(0x0416, {1300, 1400, 100, 50});              // clip to a box
    w.Add(0x001E, {});                                 // save it
    w.Add(0x0415, {700, 900, 400, 300});               // cut a hole
    w.Add(0x0220, {300, -150});                        // and move the clip
    w.Add(0x0418, {1200, 1300, 60, 40});               // ellipse through all of that
    w.Add(0x0127, {-1});                               // the box again
    w.Add(0x0104, {7});                                // XOR pen
    w.Add(0x0324, {4, 10, 10, 1400, 300, 700, 1350, 20, 900}); // polygon
    w.Add(0x0214, {5, 5}), w.Add(0x0213, {1390, 1430});
    const int16_t dw = 37, dh = 23;
    w.Add(0x0F43, {0x0020, 0x00CC, 0, dh, dw, 0, 0, 600, 500, 480, 200}, Dib(dw, dh, Photo(dw, dh)));
    const std::vector<uint8_t> drawn = w.Placeable(1440, 1440, 1440);

    struct Case {
        std::vector<uint8_t> bytes;
        int32_t width, height;
    };
    const Case cases[] = {{drawn, 96, 96}, {ReadFileBytes(kData / "wmf/wmf2svg__symbol-font-tables.wmf"), 567, 503}};
    for (const Case& c : cases) {
        const TRecordBytes header(c.bytes);
        auto play = [&](TBitmap32& target, int32_t top) {
            TMetafileFonts fonts;
            TMetafileCanvas canvas(target, c.height, top, uint64_t(1) << 40);
            TMetafilePlayer player(canvas, TAffine{}, {96 / 25.4, 96 / 25.4}, true, &fonts);
            player.SetObjectTableSize(header.U16(32));
            player.SetWindowOrg(header.I16(6), header.I16(8));
            player.SetWindowExt(header.I16(10) - header.I16(6), header.I16(12) - header.I16(8));
            PlayWmfRecords(std::span(c.bytes).subspan(40), player);
        };
        TBitmap32 whole, band;
        whole.SetSize(c.width, c.height);
        whole.FillAll(0xFFFF0000);
        play(whole, 0);
        for (int32_t top = 0; top < c.height; top += 13) {
            band.SetSize(c.width, std::min(13, c.height - top));
            band.FillAll(0xFFFF0000);
            play(band, top);
            for (int32_t y = 0; y < band.Height(); ++y)
                for (int32_t x = 0; x < c.width; ++x)
                    ASSERT_EQ(band.Pixel(x, y), whole.Pixel(x, top + y)) << x << "," << top + y;
        }
    }
}

// A stroke of very many pieces is gathered as coverage in parts; overlapping
// pieces must still be painted once, as in one fill (an XOR pen shows it).
TEST_F(MetafileTest, CoverageInPartsPaintsLikeOneFill)
{
    std::vector<TPolygonD> pieces;
    for (int i = 0; i < 12; ++i) {
        const double x = 5 + 6 * i, y = 10 + 3 * (i % 4);
        pieces.push_back({{x, y}, {x + 14, y}, {x + 14, y + 9}, {x, y + 9}});
        pieces.push_back({{x + 7, y - 6}, {x + 12, y + 12}, {x + 2, y + 12}});
    }
    TPaint xorPen;
    xorPen.Color = 0xFF00FFFF;
    xorPen.Rop2 = 7;
    TBitmap32 whole, parts;
    for (TBitmap32* b : {&whole, &parts}) {
        b->SetSize(90, 40);
        b->FillAll(0xFF808080);
    }
    TMetafileCanvas(whole, 1 << 20).FillPolygons(pieces, true, xorPen);
    TMetafileCanvas canvas(parts, 1 << 20);
    std::vector<uint64_t> coverage = canvas.NewCoverage();
    for (size_t from = 0; from < pieces.size(); from += 5)
        canvas.AddCoverage(coverage, {pieces.begin() + from, pieces.begin() + std::min(from + 5, pieces.size())});
    canvas.FillCoverage(coverage, xorPen);
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 90; ++x) {
            ASSERT_EQ(parts.Pixel(x, y), whole.Pixel(x, y)) << x << "," << y;
            ASSERT_TRUE(whole.Pixel(x, y) == 0xFF808080 || whole.Pixel(x, y) == 0xFF807F7F) << x << "," << y;
        }
}

} // namespace
} // namespace palvex::test
