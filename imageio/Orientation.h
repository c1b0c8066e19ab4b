// A picture's rows turned upright as its Orientation says (Exif.h), on the
// row road. A mirror keeps a ring of rows like any reader; a flip or a turn by
// 180 degrees needs the picture whole (once, turned in place); the turns by
// 90 degrees hold the stored picture and hand out its columns as rows, a band
// at a time.
#pragma once

#include <cstdint>

#include "imageio/PictureReader.h"
#include "raster/Bitmap32.h"
#include "raster/RowSource.h"

namespace palvex {

// Orientations 5 to 8 swap width and height.
inline bool OrientationSwapsSides(uint16_t orientation)
{
    return orientation >= 5 && orientation <= 8;
}

class TOrientedRows final : public TRowSource {
public:
    // reader's rows as stored, turned by orientation (2 to 8).
    TOrientedRows(TPictureReader& reader, uint16_t orientation);
    ~TOrientedRows() override;
    TOrientedRows(const TOrientedRows&) = delete;
    TOrientedRows& operator=(const TOrientedRows&) = delete;

    int32_t Width() const override { return m_width; }
    int32_t Height() const override { return m_height; }
    void KeepRows(int32_t rows) override;
    const TColor32* Row(int32_t y) override;
    const TColor32* RowIfReady(int32_t y) const override;
    const TBitmap32* Whole() const override;

    // As TPictureReader's: the rest of the file, then no more rows.
    void Finish();
    // The whole upright picture into target (sized to it), then Finish.
    void ReadAll(TBitmap32& target);

private:
    bool Mirrors() const { return m_orientation == 2; }
    bool Transposes() const { return OrientationSwapsSides(m_orientation); }
    void Fill();
    void FillBand(int32_t first);

    TPictureReader& m_reader;
    uint16_t m_orientation;
    int32_t m_width;
    int32_t m_height;
    int32_t m_keep = 1;
    int32_t m_next = 0;      // mirror and turns: the next row to make
    bool m_filled = false;   // flips and turns: m_picture holds the picture
    bool m_finished = false;
    TBitmap32 m_picture;     // flips: the upright picture; turns: as stored
    TBitmap32 m_ring;        // mirror and turns: the rows made last
};

} // namespace palvex
