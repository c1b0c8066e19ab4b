// TPictureReader: a picture's rows as its reader decodes them. Every picture
// kind hands one out (TGraphic::OpenRows); the batch run scales from it, the
// encoder reads it, and LoadPictureFile reads it to the end. A format whose
// layout allows it decodes row by row as the rows are asked for; the others
// fill the whole picture once and serve rows from it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "imageio/ColorProfile.h"
#include "raster/Bitmap32.h"
#include "raster/RowSource.h"

namespace palvex {

class TPictureReader : public TRowSource {
public:
    ~TPictureReader() override;
    TPictureReader(const TPictureReader&) = delete;
    TPictureReader& operator=(const TPictureReader&) = delete;

    int32_t Width() const final { return m_width; }
    int32_t Height() const final { return m_height; }
    // True when the rows' fourth byte is the picture's own alpha; otherwise
    // it is 255 in every pixel.
    bool HasAlpha() const { return m_alpha; }
    // True when the reader fills the whole picture at the first row.
    bool FillsWhole() const { return m_whole; }

    // How the stored rows must be turned to stand upright (Exif.h), as the
    // file says; the rows are always handed out as stored.
    uint16_t Orientation() const { return m_orientation; }
    // From here on the rows (or the whole picture) are converted from the
    // file's colour profile into sRGB as they are decoded. Call it before the
    // first row. False, and nothing changes, when there is nothing to convert:
    // no profile, an sRGB one, or one that is broken or describes other pixels.
    bool ConvertToSRGB();

    // TRowSource. A fault of the file found while decoding a row leaves Row
    // as the format's exception; asking again afterwards is a logic_error.
    void KeepRows(int32_t rows) final;
    const TColor32* Row(int32_t y) final;
    const TColor32* RowIfReady(int32_t y) const final;
    const TBitmap32* Whole() const final;

    // Decodes what no row asked for reached, and what follows the pixels,
    // so that a fault anywhere in the file fails here as it fails a whole
    // load. No row may be asked for afterwards.
    void Finish();

    // The whole picture into target (sized to it; nothing else of target is
    // kept), then Finish. Rows go straight into target's rows: there is no
    // ring and no second copy. Call it instead of asking for rows.
    void ReadAll(TBitmap32& target);

protected:
    TPictureReader() = default;

    // Called once, from the reader's constructor, when the header has been
    // read: the picture's size, whether it has alpha, and whether it is
    // filled whole. A size of 0 is an empty picture (no rows). A size beyond
    // the picture limits (IsPictureSizeAllowed) raises Refuse(): check the
    // limits with the format's own rules first, before allocating anything.
    enum class TFill { Rows, Whole };
    void SetPicture(int64_t width, int64_t height, bool alpha, TFill fill = TFill::Rows);

    // What the file says of its pixels, from the reader's constructor. A
    // reader that sets a CMYK profile converts its samples itself through
    // CMYKConversion(); so does one whose gray or RGB samples are wide (16
    // bits), through WideConversion(), before it narrows them to 8 bits. Other
    // gray and RGB rows are converted here.
    enum class TSamples { Narrow, Wide };
    void SetOrientation(uint16_t orientation);
    void SetColorProfile(std::vector<uint8_t> profile, TColorModel model, TSamples samples = TSamples::Narrow);
    const TColorConversion* CMYKConversion() const;
    const TColorConversion* WideConversion() const;

    // The format's "invalid" error, for a size beyond the limits.
    [[noreturn]] virtual void Refuse() const;

    // Row by row: row y into out (Width() pixels), asked for exactly once per
    // row and in order 0, 1, 2, ... A picture without alpha writes 255 into
    // every fourth byte.
    virtual void ReadRow(int32_t y, TColor32* out);
    // Whole: every pixel of picture, which is sized to the picture and holds
    // whatever its block held before (write every pixel).
    virtual void ReadWhole(TBitmap32& picture);
    // After the last row (or the whole picture): the rest of the file that a
    // whole load would check. By default nothing.
    virtual void ReadEnd() {}

private:
    void ReadRowChecked(int32_t y, TColor32* out);
    void FillWhole(TBitmap32& picture);
    void ConvertRows(TColor32* pixels, size_t count) const;

    int32_t m_width = 0;
    int32_t m_height = 0;
    bool m_alpha = false;
    bool m_whole = false;
    bool m_sized = false;
    int32_t m_keep = 1;
    int32_t m_next = 0;    // rows: the next row to decode
    bool m_filled = false; // whole: m_picture holds the picture
    bool m_failed = false;
    bool m_finished = false;
    TBitmap32 m_rows;      // rows: a ring of m_keep rows; whole: the picture
    uint16_t m_orientation = 1;
    std::vector<uint8_t> m_profile;
    TColorModel m_profileModel = TColorModel::RGB;
    bool m_wideSamples = false;
    std::unique_ptr<TColorConversion> m_conversion;
};

} // namespace palvex
