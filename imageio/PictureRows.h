// A picture file's rows, and LoadPictureFile, which reads them to the end.
// The registry picks the picture kind by the file's extension and the kind
// hands out its reader (TGraphic::OpenRows): the file is opened (a regular
// file, without blocking) and its header checked at once; the pixels are
// decoded as the rows are asked for, or, for kinds that must, filled whole
// once at the first row.
#pragma once

#include <memory>
#include <string>

#include "imageio/Graphic.h"
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
    explicit TPictureRows(const std::string& fileName);
    ~TPictureRows() override;
    TPictureRows(const TPictureRows&) = delete;
    TPictureRows& operator=(const TPictureRows&) = delete;

    int32_t Width() const override { return m_reader->Width(); }
    int32_t Height() const override { return m_reader->Height(); }
    void KeepRows(int32_t rows) override { m_reader->KeepRows(rows); }
    const TColor32* Row(int32_t y) override { return m_reader->Row(y); }
    const TColor32* RowIfReady(int32_t y) const override { return m_reader->RowIfReady(y); }
    const TBitmap32* Whole() const override { return m_reader->Whole(); }

    TPictureReader& Reader() { return *m_reader; }
    // See TPictureReader.
    void Finish() { m_reader->Finish(); }
    void ReadAll(TBitmap32& target) { m_reader->ReadAll(target); }

private:
    std::unique_ptr<TFileStream> m_stream;
    std::unique_ptr<TGraphic> m_graphic;
    std::unique_ptr<TPictureReader> m_reader;
};

// The picture file into bitmap as 32-bit pixels, through its rows. Any
// failure leaves bitmap as it was.
void LoadPictureFile(TBitmap32& bitmap, const std::string& fileName);

} // namespace palvex
