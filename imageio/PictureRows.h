// A picture file's rows, and LoadPictureFile, which reads them to the end.
// The registry picks the picture kind by the file's extension and the kind
// hands out its reader (TGraphic::OpenRows): the file is opened (a regular
// file, without blocking) and its header checked at once; the pixels are
// decoded as the rows are asked for, or, for kinds that must, filled whole
// once at the first row. Unless the options say otherwise, the rows come
// turned upright and converted to sRGB (Orientation.h, ColorProfile.h).
#pragma once

#include <memory>
#include <string>

#include "imageio/Graphic.h"
#include "imageio/Orientation.h"
#include "imageio/PictureLoadOptions.h"
#include "imageio/PictureReader.h"
#include "imageio/Streams.h"
#include "raster/Bitmap32.h"
#include "raster/RowSource.h"

namespace palvex {

class TPictureRows final : public TRowSource {
public:
    // Fails as TPicture::LoadFile fails for a bad extension or an unreadable
    // file, and with the format's error for a bad header. Faults in the pixel
    // data fail Row, Finish or ReadAll.
    explicit TPictureRows(const std::string& fileName, TPictureLoadOptions options = {});
    // The picture kind's rows of a stream, as for a file.
    TPictureRows(std::unique_ptr<TGraphic> graphic, std::unique_ptr<TStream> stream, TPictureLoadOptions options = {});
    ~TPictureRows() override;
    TPictureRows(const TPictureRows&) = delete;
    TPictureRows& operator=(const TPictureRows&) = delete;

    // The upright size when the picture is turned.
    int32_t Width() const override { return Rows().Width(); }
    int32_t Height() const override { return Rows().Height(); }
    void KeepRows(int32_t rows) override { Rows().KeepRows(rows); }
    const TColor32* Row(int32_t y) override { return Rows().Row(y); }
    const TColor32* RowIfReady(int32_t y) const override { return Rows().RowIfReady(y); }
    const TBitmap32* Whole() const override { return Rows().Whole(); }

    // The rows as stored (before any turn).
    TPictureReader& Reader() { return *m_reader; }
    // The orientation the rows were turned by (1: none), and whether their
    // colours are converted from an embedded profile.
    uint16_t AppliedOrientation() const { return m_turned ? m_reader->Orientation() : 1; }
    bool ConvertsColors() const { return m_converts; }
    // See TPictureReader.
    void Finish();
    void ReadAll(TBitmap32& target);

private:
    void Open(TPictureLoadOptions options);
    TRowSource& Rows() { return m_turned ? static_cast<TRowSource&>(*m_turned) : *m_reader; }
    const TRowSource& Rows() const { return m_turned ? static_cast<const TRowSource&>(*m_turned) : *m_reader; }

    std::unique_ptr<TStream> m_stream;
    std::unique_ptr<TGraphic> m_graphic;
    std::unique_ptr<TPictureReader> m_reader;
    std::unique_ptr<TOrientedRows> m_turned;
    bool m_converts = false;
};

// The picture file into bitmap as 32-bit pixels, through its rows. Any
// failure leaves bitmap as it was.
void LoadPictureFile(TBitmap32& bitmap, const std::string& fileName, TPictureLoadOptions options = {});

} // namespace palvex
