// A picture file's rows for scaling it once: a JPEG's decoded as they are
// asked for, so a photo is never held whole; any other kind's from the whole
// picture, loaded as TBitmap32::LoadPictureFile loads it. The pixels are the
// same either way.
#pragma once

#include <memory>
#include <string>

#include "raster/Bitmap32.h"
#include "raster/RowSource.h"

namespace palvex {

class TJPEGRowReader;

class TPictureRows final : public TRowSource {
public:
    // Fails as TBitmap32::LoadPictureFile fails, except for faults in a
    // JPEG's compressed rows: those fail Row or Finish.
    explicit TPictureRows(const std::string& fileName);
    ~TPictureRows() override;
    TPictureRows(const TPictureRows&) = delete;
    TPictureRows& operator=(const TPictureRows&) = delete;

    int32_t Width() const override { return m_source->Width(); }
    int32_t Height() const override { return m_source->Height(); }
    void KeepRows(int32_t rows) override { m_source->KeepRows(rows); }
    const TColor32* Row(int32_t y) override { return m_source->Row(y); }
    const TColor32* RowIfReady(int32_t y) const override { return m_source->RowIfReady(y); }
    const TBitmap32* Whole() const override { return m_source->Whole(); }

    // Reads what no row asked for has reached, so that a fault anywhere in
    // the file fails here as a whole load fails.
    void Finish();

private:
    std::unique_ptr<TJPEGRowReader> m_jpeg;
    TBitmap32 m_whole;
    TBitmapRows m_wholeRows{m_whole};
    TRowSource* m_source = nullptr;
};

} // namespace palvex
