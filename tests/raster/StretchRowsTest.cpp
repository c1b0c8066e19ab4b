// StretchRows from a source that keeps only the rows it was told to keep
// gives StretchCopy's pixels, on every path and form.
#include <cstring>
#include <random>

#include "TestMain.h"
#include "platform/Errors.h"
#include "raster/Stretch.h"
#include "raster/StretchInternals.h"

using namespace palvex;

namespace {

// Copies rows of a bitmap into a ring of KeepRows() rows as they are asked
// for, as a decoder would, and fails the test on any request the contract
// rules out. A row's slot is overwritten when it leaves the ring, so a reader
// that kept a stale pointer sees other pixels.
class TRingRows final : public TRowSource {
public:
    explicit TRingRows(const TBitmap32& bitmap) : m_bitmap(bitmap) {}
    int32_t Width() const override { return m_bitmap.Width(); }
    int32_t Height() const override { return m_bitmap.Height(); }
    void KeepRows(int32_t rows) override
    {
        EXPECT_EQ(m_next, 0) << "KeepRows after the first row";
        EXPECT_GE(rows, 1);
        m_keep = std::max(rows, 1);
    }
    const TColor32* Row(int32_t y) override
    {
        EXPECT_TRUE(y >= 0 && y < Height()) << y;
        EXPECT_GT(y, m_next - 1 - m_keep) << "row " << y << " no longer kept (next " << m_next << ")";
        if (m_ring.size() != static_cast<size_t>(m_keep) * Width())
            m_ring.assign(static_cast<size_t>(m_keep) * Width(), 0);
        for (; m_next <= y; ++m_next)
            std::memcpy(Slot(m_next), m_bitmap.RowAddress(m_next), static_cast<size_t>(Width()) * 4);
        m_highest = std::max(m_highest, y);
        return Slot(y);
    }
    const TColor32* RowIfReady(int32_t y) const override
    {
        return y < m_next && y > m_next - 1 - m_keep && y >= 0 ? Slot(y) : nullptr;
    }
    int32_t Keep() const { return m_keep; }
    int32_t Highest() const { return m_highest; }

private:
    TColor32* Slot(int32_t y) const
    {
        return const_cast<TColor32*>(m_ring.data()) + static_cast<size_t>(y % m_keep) * Width();
    }
    const TBitmap32& m_bitmap;
    std::vector<TColor32> m_ring;
    int32_t m_keep = 1;
    int32_t m_next = 0;
    int32_t m_highest = -1;
};

struct FormScope {
    bool vector = VectorPathsEnabled();
    bool wide = WideVectorPathsEnabled();
    TKernelPassOrder order = KernelPassOrder();
    TBilinearVariant bilinear = BilinearVariant();
    ~FormScope()
    {
        SetVectorPathsEnabled(vector);
        SetWideVectorPathsEnabled(wide);
        SetKernelPassOrder(order);
        SetBilinearVariant(bilinear);
    }
};

void FillRandom(TBitmap32& b, std::mt19937& rng)
{
    for (size_t i = 0; i < b.PixelCount(); ++i)
        b.PixelData()[i] = rng() | 0xFF000000u;
}

// False (with a failure) when StretchRows through a ring differs from StretchCopy.
bool SameAsCopy(const TBitmap32& src, int w, int h, TStretchFilter filter, const char* form)
{
    TBitmap32 want, got;
    want.SetSize(w, h);
    got.SetSize(w, h);
    StretchCopy(&want, want.FullRect(), want.FullRect(), &src, src.FullRect(), filter, dmOpaque, {});
    TRingRows rows(src);
    StretchRows(got, rows, filter);
    // About a batch of four output rows and the widest kernel's reach: a ring
    // as high as the picture would prove nothing about streaming.
    const int perRow = (src.Height() + h - 1) / h;
    EXPECT_LE(rows.Keep(), 10 * perRow + 8) << form << " filter " << int(filter) << " " << src.Height() << " to " << h;
    if (std::memcmp(want.PixelData(), got.PixelData(), want.PixelCount() * 4) == 0)
        return true;
    ADD_FAILURE() << form << ": filter " << int(filter) << " " << src.Width() << "x" << src.Height() << " to " << w
                  << "x" << h << " (kept " << rows.Keep() << " rows)";
    return false;
}

} // namespace

TEST(StretchRows, EqualsStretchCopyOnEveryPathAndForm)
{
    FormScope scope;
    std::mt19937 rng(8122026);
    std::uniform_int_distribution<int> side(1, 70);
    struct Form {
        const char* Name;
        bool Vector, Wide;
        TKernelPassOrder Order;
        TBilinearVariant Bilinear;
    };
    const Form forms[] = {
        {"plain", false, false, TKernelPassOrder::Cheaper, TBilinearVariant::Plain},
        {"simd across first", true, false, TKernelPassOrder::HorizontalFirst, TBilinearVariant::MMX},
        {"simd down first", true, false, TKernelPassOrder::VerticalFirst, TBilinearVariant::MMX},
        {"wide across first", true, true, TKernelPassOrder::HorizontalFirst, TBilinearVariant::MMX},
        {"wide cheaper", true, true, TKernelPassOrder::Cheaper, TBilinearVariant::Plain},
    };
    for (const Form& form : forms) {
        SetVectorPathsEnabled(form.Vector);
        SetWideVectorPathsEnabled(form.Wide);
        SetKernelPassOrder(form.Order);
        SetBilinearVariant(form.Bilinear);
        for (int n = 0; n < 60; ++n) {
            TBitmap32 src;
            src.SetSize(side(rng), side(rng));
            FillRandom(src, rng);
            const int w = side(rng), h = side(rng);
            for (int f = sfNearest; f <= sfMitchell; ++f)
                if (!SameAsCopy(src, w, h, static_cast<TStretchFilter>(f), form.Name))
                    return;
        }
        // Photo-like reductions, the same size, and 1-pixel sides.
        TBitmap32 photo;
        photo.SetSize(640, 360);
        FillRandom(photo, rng);
        for (auto [w, h] : {std::pair{192, 108}, {100, 56}, {640, 360}, {1, 1}, {640, 1}, {1, 360}, {7, 359}})
            for (int f = sfNearest; f <= sfMitchell; ++f)
                if (!SameAsCopy(photo, w, h, static_cast<TStretchFilter>(f), form.Name))
                    return;
    }
}

TEST(StretchRows, EmptySourceDrawsNothingAndEmptyDestinationIsAnError)
{
    TBitmap32 none, dest;
    dest.SetSize(2, 2);
    dest.FillAll(0x11223344u);
    TRingRows rows(none);
    StretchRows(dest, rows, sfCosine);
    EXPECT_EQ(dest.Pixel(1, 1), 0x11223344u);
    TBitmap32 src;
    src.SetSize(3, 3);
    TRingRows some(src);
    TBitmap32 empty;
    EXPECT_THROW(StretchRows(empty, some, sfDraft), ETransformError);
}
