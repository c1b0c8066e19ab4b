// TMetafile: header checks, the picture size, and playing the records.
#include "imageio/Metafile.h"

#include <algorithm>
#include <cmath>

#include "imageio/Bitmap.h"
#include "imageio/MetafilePlayer.h"
#include "imageio/MetafileText.h"
#include "imageio/PictureReader.h"
#include "imageio/Streams.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TMetafile, TGraphic)

namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr uint32_t kEmfSignature = 0x464D4520;

// What playing needs to know about a file, found from its header.
struct Layout {
    bool Enhanced = false;
    int64_t Width = 0;
    int64_t Height = 0;
    std::span<const uint8_t> Records; // WMF: after the headers; EMF: the whole file
    size_t Objects = 0;
    TPointD WindowOrg{0, 0}, WindowExt{1, 1};        // WMF
    TAffine Base;                                    // EMF: reference device to picture
    TPointD PixelsPerMillimetre{96 / 25.4, 96 / 25.4}; // EMF reference device
};

int64_t ToPixels(double units, double unitsPerInch)
{
    const double v = std::round(std::fabs(units) * kMetafilePixelsPerInch / unitsPerInch);
    return std::isfinite(v) && v < 1e12 ? static_cast<int64_t>(v) : 0;
}

// The 18-byte META_HEADER at offset (type 1 or 2, nine words); the records follow it.
void CheckWmfHeader(const TRecordBytes& b, size_t offset)
{
    const uint16_t type = b.U16(offset), words = b.U16(offset + 2);
    if ((type != 1 && type != 2) || words != 9 || b.Size() - offset < 18)
        InvalidMetafile();
}

Layout PlaceableLayout(std::span<const uint8_t> data)
{
    const TRecordBytes b(data);
    Layout l;
    const int16_t left = b.I16(6), top = b.I16(8), right = b.I16(10), bottom = b.I16(12);
    const uint16_t inch = b.U16(14);
    CheckWmfHeader(b, 22);
    if (inch == 0)
        InvalidMetafile();
    l.Width = ToPixels(double(right) - left, inch);
    l.Height = ToPixels(double(bottom) - top, inch);
    l.Objects = b.U16(22 + 10);
    l.Records = data.subspan(22 + 18);
    l.WindowOrg = {double(left), double(top)};
    l.WindowExt = {double(right) - left, double(bottom) - top};
    return l;
}

// A plain WMF has no physical size: its window, in the units of its mapping
// mode, is the picture (the scalable modes taken as twips).
Layout PlainLayout(std::span<const uint8_t> data)
{
    const TRecordBytes b(data);
    CheckWmfHeader(b, 0);
    Layout l;
    l.Objects = b.U16(10);
    l.Records = data.subspan(18);
    int mapMode = 1;
    bool haveExt = false;
    for (size_t at = 0; at + 6 <= l.Records.size();) {
        const TRecordBytes r(l.Records.subspan(at));
        const uint32_t words = r.U32(0);
        const uint16_t function = r.U16(4);
        if (words < 3 || function == 0 || words > (l.Records.size() - at) / 2)
            break;
        if (function == 0x0103)
            mapMode = r.I16(6);
        else if (function == 0x020B && !haveExt)
            l.WindowOrg = {double(r.I16(8)), double(r.I16(6))};
        else if (function == 0x020C && !haveExt) {
            l.WindowExt = {double(r.I16(8)), double(r.I16(6))};
            haveExt = l.WindowExt.X != 0 && l.WindowExt.Y != 0;
        }
        at += size_t(words) * 2;
    }
    if (!haveExt)
        InvalidMetafile();
    static constexpr double kUnitsPerInch[9] = {0, 96, 254, 2540, 100, 1000, 1440, 1440, 1440};
    const double unitsPerInch = kUnitsPerInch[mapMode >= 1 && mapMode <= 8 ? mapMode : 1];
    l.Width = ToPixels(l.WindowExt.X, unitsPerInch);
    l.Height = ToPixels(l.WindowExt.Y, unitsPerInch);
    return l;
}

Layout EnhancedLayout(std::span<const uint8_t> data)
{
    const TRecordBytes b(data);
    Layout l;
    l.Enhanced = true;
    l.Records = data;
    const uint32_t size = b.U32(4);
    if (size < 88 || size % 4 != 0 || size > data.size() || b.U32(40) != kEmfSignature)
        InvalidMetafile();
    const TRecordBytes header(data.subspan(0, size));
    const uint32_t descriptionChars = header.U32(60), descriptionAt = header.U32(64);
    if (descriptionChars != 0)
        header.NeedItems(descriptionAt, descriptionChars, 2);
    l.Objects = header.U16(56);
    const int32_t left = header.I32(24), top = header.I32(28), right = header.I32(32), bottom = header.I32(36);
    const int32_t devX = header.I32(72), devY = header.I32(76);
    // The micrometre size of newer headers is left alone: writers put the
    // description where it would be.
    const double mmX = header.I32(80), mmY = header.I32(84);
    if (right <= left || bottom <= top || devX <= 0 || devY <= 0 || mmX <= 0 || mmY <= 0)
        InvalidMetafile();
    const double frameWidth = double(right) - left, frameHeight = double(bottom) - top; // 0.01 mm
    l.Width = ToPixels(frameWidth, 2540);
    l.Height = ToPixels(frameHeight, 2540);
    l.PixelsPerMillimetre = {devX / mmX, devY / mmY};
    // The frame, in reference-device pixels, fills the picture.
    const double refLeft = left * l.PixelsPerMillimetre.X / 100, refTop = top * l.PixelsPerMillimetre.Y / 100;
    const double refWidth = frameWidth * l.PixelsPerMillimetre.X / 100;
    const double refHeight = frameHeight * l.PixelsPerMillimetre.Y / 100;
    l.Base.M11 = double(l.Width) / refWidth;
    l.Base.M22 = double(l.Height) / refHeight;
    l.Base.Dx = -refLeft * l.Base.M11;
    l.Base.Dy = -refTop * l.Base.M22;
    return l;
}

Layout ReadLayout(std::span<const uint8_t> data)
{
    const TRecordBytes b(data);
    if (data.size() >= 4 && b.U32(0) == kPlaceableKey)
        return PlaceableLayout(data);
    if (data.size() >= 44 && b.U32(0) == 1 && b.U32(40) == kEmfSignature)
        return EnhancedLayout(data);
    return PlainLayout(data);
}

// The record heads walked as playing walks them, before the picture is taken:
// a file whose records do not hold together is refused without first drawing
// twice into a picture of the size its header claims.
void CheckRecordHeads(const Layout& layout)
{
    const std::span<const uint8_t> records = layout.Records;
    for (size_t offset = 0; offset < records.size();) {
        const TRecordHead head = layout.Enhanced ? EmfRecordHead(records, offset) : WmfRecordHead(records, offset);
        if (head.Kind == (layout.Enhanced ? kEmfEndRecord : kWmfEndRecord))
            return;
        offset += head.Bytes;
    }
}

// One playing of the records over a background colour into target, which
// holds the rows from top of a picture height rows high.
void Play(const Layout& layout, TBitmap32& target, int32_t height, int32_t top, TMetafileFonts& fonts, bool& drew,
          bool& skipped, bool& sawEmfPlus)
{
    // Enough for every real drawing many times over; a file that asks for
    // more is refused rather than left to run for minutes.
    const uint64_t budget = (uint64_t(1) << 25) + 16 * uint64_t(target.Width()) * uint64_t(height);
    TMetafileCanvas canvas(target, height, top, budget);
    TMetafilePlayer player(canvas, layout.Base, layout.PixelsPerMillimetre, !layout.Enhanced, &fonts);
    player.SetObjectTableSize(layout.Objects);
    try {
        if (layout.Enhanced) {
            PlayEmfRecords(layout.Records, player, sawEmfPlus);
        } else {
            player.SetWindowOrg(layout.WindowOrg.X, layout.WindowOrg.Y);
            player.SetWindowExt(layout.WindowExt.X, layout.WindowExt.Y);
            PlayWmfRecords(layout.Records, player);
        }
    } catch (const TDrawingBudgetExceeded&) {
        InvalidMetafile();
    }
    drew = player.DrewAnything();
    skipped = player.SkippedAny();
}

// A picture up to this size is played over red whole; a larger one in bands
// of at most a sixteenth of it, so that it is never held twice.
constexpr size_t kWholeRedPixels = size_t(1) << 20;

// The records played into picture: over blue there, over red a second time;
// where both agree the records covered the pixel, whatever raster operations
// they used, elsewhere the background shows (alpha 0).
void PlayPicture(const Layout& layout, TBitmap32& picture)
{
    TMetafileFonts fonts;
    const int32_t width = picture.Width(), height = picture.Height();
    picture.FillAll(0xFF0000FF);
    bool drew = false, skipped = false, sawEmfPlus = false;
    Play(layout, picture, height, 0, fonts, drew, skipped, sawEmfPlus);
    // A file drawn only in EMF+ records, or whose only pictures cannot be
    // read, would come out empty.
    if (!drew && (sawEmfPlus || skipped))
        InvalidMetafile();
    const size_t bandPixels = std::max(kWholeRedPixels, picture.PixelCount() / 16 + 1);
    const int32_t bandRows = static_cast<int32_t>(std::clamp<size_t>(bandPixels / size_t(width), 1, size_t(height)));
    TBitmap32 red;
    for (int32_t top = 0; top < height; top += bandRows) {
        const int32_t rows = std::min(bandRows, height - top);
        red.SetSize(width, rows);
        red.FillAll(0xFFFF0000);
        Play(layout, red, height, top, fonts, drew, skipped, sawEmfPlus);
        TColor32* b = picture.RowAddress(top);
        const TColor32* r = red.PixelData();
        for (size_t i = 0; i < red.PixelCount(); ++i)
            b[i] = ((b[i] ^ r[i]) & 0x00FFFFFF) == 0 ? (b[i] | 0xFF000000) : (b[i] & 0x00FFFFFF);
    }
}

// A metafile is a whole picture by nature: the header gives its size at
// once, the records are played when the first row is asked for.
class TMetafileReader final : public TPictureReader {
public:
    explicit TMetafileReader(TStream& stream) : m_bytes(stream.ReadRemaining()), m_layout(ReadLayout(m_bytes))
    {
        if (!IsPictureSizeAllowed(m_layout.Width, m_layout.Height))
            InvalidMetafile();
        CheckRecordHeads(m_layout);
        SetPicture(m_layout.Width, m_layout.Height, /*alpha=*/true, TFill::Whole);
    }

    bool Enhanced() const { return m_layout.Enhanced; }

private:
    [[noreturn]] void Refuse() const override { InvalidMetafile(); }
    void ReadWhole(TBitmap32& picture) override { PlayPicture(m_layout, picture); }

    const std::vector<uint8_t> m_bytes;
    const Layout m_layout; // its records lie in m_bytes
};

} // namespace

std::unique_ptr<TPictureReader> TMetafile::OpenRows(TStream& stream)
{
    return std::make_unique<TMetafileReader>(stream);
}

void TMetafile::LoadStream(TStream& stream)
{
    TMetafileReader reader(stream);
    TBitmap32 picture;
    reader.ReadAll(picture);
    m_enhanced = reader.Enhanced();
    SetPixels(picture.Width(), picture.Height(),
              std::vector<TColor32>(picture.PixelData(), picture.PixelData() + picture.PixelCount()));
}

void TMetafile::DrawInto(TBitmap32& canvas, const TRect& rect) const
{
    DrawPixels(canvas, rect, PutUnlessTransparent);
}

} // namespace palvex
