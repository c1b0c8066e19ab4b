// A picture's rows handed out top to bottom, so that a photo can be scaled
// while it is decoded and never be held whole: touching a photo-sized block
// of fresh memory can cost more than decoding the photo.
#pragma once

#include <cstdint>

#include "raster/Bitmap32.h"
#include "raster/Color32.h"

namespace palvex {

class TRowSource {
public:
    virtual ~TRowSource() = default;
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;

    // The most rows a reader uses at once; set before the first Row (the last
    // call counts). A source may keep no more than these.
    virtual void KeepRows(int32_t rows) = 0;

    // Row y, 0 <= y < Height(). Readers ask for no row KeepRows() or more
    // below the highest one asked so far; the pointer to row y stays valid
    // until row y + KeepRows() or a later one is asked for.
    virtual const TColor32* Row(int32_t y) = 0;

    // Row y when it is at hand without work, else null: for fetching ahead.
    virtual const TColor32* RowIfReady(int32_t y) const = 0;

    // The whole picture when the source holds it, else null.
    virtual const TBitmap32* Whole() const { return nullptr; }
};

// A whole bitmap as a row source: every row is always at hand.
class TBitmapRows final : public TRowSource {
public:
    explicit TBitmapRows(const TBitmap32& bitmap) : m_bitmap(bitmap) {}
    int32_t Width() const override { return m_bitmap.Width(); }
    int32_t Height() const override { return m_bitmap.Height(); }
    void KeepRows(int32_t) override {}
    const TColor32* Row(int32_t y) override { return m_bitmap.RowAddress(y); }
    const TColor32* RowIfReady(int32_t y) const override { return m_bitmap.RowAddress(y); }
    const TBitmap32* Whole() const override { return &m_bitmap; }

private:
    const TBitmap32& m_bitmap;
};

} // namespace palvex
