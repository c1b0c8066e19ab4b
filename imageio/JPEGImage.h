// TJPEGImage: JPEG/JFIF pictures through libjpeg, and the only encoder of
// output files.
#pragma once

#include <cstdint>
#include <memory>

#include "imageio/Bitmap.h"
#include "imageio/Graphic.h"
#include "imageio/JPEGBytes.h"
#include "imageio/JPEGWriter.h"
#include "imageio/PictureReader.h"
#include "imageio/Streams.h"
#include "raster/RowSource.h"

namespace palvex {

// The compressed file image and what its header says, shared by reference.
struct TJPEGData {
    std::unique_ptr<TJPEGBytes> Data; // null: no compressed bytes
    int32_t Height = 0;
    int32_t Width = 0;
    bool Grayscale = false;
};

struct TJPEGDefaults {
    uint8_t CompressionQuality = 90;
    bool Grayscale = false;
    bool ProgressiveEncoding = false;
    bool FastDecoding = false; // ("Performance")
    bool PixelFormat8 = false; // palette decoding
    bool Smoothing = true;
};

// The process-wide defaults record that every new TJPEGImage copies.
TJPEGDefaults& JPEGDefaults();

class TJPEGReader;

class TJPEGImage : public TGraphic {
    PALVEX_GRAPHIC_CLASS(TJPEGImage)

public:
    TJPEGImage();
    ~TJPEGImage() override;

    // Takes a copy of a platform bitmap; anything else is "Cannot assign ...".
    void AssignFrom(const TPersistent* source) override;
    void AssignFrom(const TPersistent& source) { AssignFrom(&source); }

    void LoadStream(TStream& stream) override;
    // The picture's rows straight from the stream, at this image's decoding
    // settings: the header is parsed once, by the reader, and the file is
    // read as the rows need it; this image is left as it is.
    std::unique_ptr<TPictureReader> OpenRows(TStream& stream) override;
    // Encodes on first use, then writes the same bytes every time.
    void SaveStream(TStream& stream) override;

    // The bitmap view, decoded from the compressed bytes when there is none.
    TBitmap& DecodedBitmap();

    // The picture as opaque 32-bit pixels in target, sized to it: decoded from
    // the compressed bytes straight into target's rows when there is no view
    // (no view is made or kept), else drawn from the view. The pixels equal
    // those of the view made opaque.
    void DecodeInto(TBitmap32& target) const;
    // The pixels of DecodeInto row by row, when they come from the compressed
    // bytes (there is no view); else null. The reader shares the bytes.
    std::unique_ptr<TJPEGReader> OpenByteRows() const;
    // A TBitmap32 destination gets DecodeInto; anything else as any picture.
    void AssignTo(TPersistent& dest) const override;

    // Encodes 32-bit pixels (the fourth byte ignored) at the current settings
    // into a fresh record, reading their rows in place and keeping no copy:
    // afterwards the image holds only the compressed bytes, as after loading
    // them. Gives the same bytes as AssignFrom of a bitmap of these pixels
    // followed by SaveStream.
    void CompressPixels(const TBitmap32& pixels);
    // The same from rows read top to bottom, one at a time. An exception of
    // the source leaves the image empty, as a failed encoding does.
    void CompressRows(TRowSource& pixels);

    int32_t Width() const override;
    int32_t Height() const override;
    // Always EInvalidGraphicOperation "Cannot change the size of a JPEG image".
    void SetWidth(int32_t value) override;
    void SetHeight(int32_t value) override;
    bool Empty() const override;

    void DrawInto(TBitmap32& canvas, const TRect& rect) const override;

    uint8_t EncodingQuality() const { return static_cast<uint8_t>(m_write.Quality); }
    void SetEncodingQuality(uint8_t value) { m_write.Quality = value; }
    bool GrayscaleMode() const { return m_write.Grayscale; }
    void SetGrayscaleMode(bool value) { m_write.Grayscale = value; }
    bool ProgressiveMode() const { return m_write.Progressive; }
    void SetProgressiveMode(bool value) { m_write.Progressive = value; }
    bool FastDecoding() const { return m_fastDecoding; }
    void SetFastDecoding(bool value) { m_fastDecoding = value; }
    bool PaletteDecoding() const { return m_paletteDecoding; }
    void SetPaletteDecoding(bool value) { m_paletteDecoding = value; }
    bool BlockSmoothing() const { return m_blockSmoothing; }
    void SetBlockSmoothing(bool value) { m_blockSmoothing = value; }

    // The shared record (for tests and for the state table).
    const TJPEGData& Data() const { return *m_data; }
    bool HasBitmapView() const { return m_bitmap != nullptr; }

private:
    void NewData();
    // No view, and compressed bytes to decode: the two decodes read those.
    bool DecodesFromBytes() const;
    void Compress();
    void Decompress();

    std::shared_ptr<TJPEGData> m_data;
    std::unique_ptr<TBitmap> m_bitmap;
    TJPEGWriteSettings m_write;
    bool m_fastDecoding = false;
    bool m_paletteDecoding = false;
    bool m_blockSmoothing = true;
};

// A JPEG picture's rows as DecodeInto gives them, decoded as they are asked
// for, so that a photo can be scaled without ever being held whole. The
// header is read and the decoding started when it is made; errors are those
// of DecodeInto, when they happen.
class TJPEGReader final : public TPictureReader {
public:
    ~TJPEGReader() override;
    struct TState;

private:
    friend class TJPEGImage;
    explicit TJPEGReader(std::unique_ptr<TState> state);
    void ReadRow(int32_t y, TColor32* out) override;
    void ReadEnd() override;
    [[noreturn]] void Refuse() const override;
    std::unique_ptr<TState> m;
};

} // namespace palvex
