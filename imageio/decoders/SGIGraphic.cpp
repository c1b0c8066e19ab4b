// The Silicon Graphics image reader.
#include "imageio/decoders/SGIGraphic.h"

#include <memory>
#include <vector>

#include "imageio/Streams.h"
#include "imageio/decoders/Codecs.h"
#include "platform/Errors.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TSGIGraphic, TDecoderGraphic)

namespace {

constexpr const char* kName = "SGI";
constexpr size_t kHeaderSize = 512;
constexpr uint16_t kMagic = 474;

class TSGIReader final : public TDecoderReader {
public:
    explicit TSGIReader(TStream& stream) : TDecoderReader(kName)
    {
        const int64_t start = stream.Position();
        // One reader per channel: the channels' rows lie in planes far apart.
        TByteReader& in = *m_channels.emplace_back(std::make_unique<TByteReader>(stream, kName));
        const uint16_t magic = in.U16BE();
        const uint8_t storage = in.U8();
        m_bytesPerChannel = in.U8();
        const uint16_t dimension = in.U16BE();
        m_xSize = in.U16BE();
        m_ySize = in.U16BE();
        m_zSize = in.U16BE();
        in.Skip(4 + 4 + 4 + 80); // pixel range, dummy, name
        const uint32_t colorMap = in.U32BE();
        if (magic != kMagic || storage > 1 || (m_bytesPerChannel != 1 && m_bytesPerChannel != 2) || dimension < 1 ||
            dimension > 3)
            InvalidFormat();
        if (colorMap != 0)
            Unsupported("Colour-mapped images");
        if (dimension == 1)
            m_ySize = 1;
        if (dimension < 3)
            m_zSize = 1;
        if (m_zSize < 1 || m_zSize > 4)
            Unsupported(Format("%d channels", m_zSize));
        if (!IsPictureSizeAllowed(m_xSize, m_ySize))
            InvalidFormat();

        // Channel planes of ySize rows each, bottom row first. The raster, or
        // the two row tables, must be there before anything is allocated.
        m_rle = storage == 1;
        const size_t rowCount = size_t(m_ySize) * m_zSize;
        const size_t needed = m_rle ? rowCount * 8 : rowCount * m_xSize * m_bytesPerChannel;
        if (in.Size() < kHeaderSize || in.Size() - kHeaderSize < needed)
            ReadError();
        if (m_rle)
            ReadRowTables(in, rowCount);
        for (size_t c = 1; c < m_zSize; ++c) {
            stream.Seek(start, SEEK_SET);
            m_channels.push_back(std::make_unique<TByteReader>(stream, kName));
        }
        m_samples.resize(size_t(m_zSize) * m_xSize);
        SetPicture(m_xSize, m_ySize, m_zSize == 2 || m_zSize == 4);
    }

private:
    void ReadRowTables(TByteReader& in, size_t rowCount)
    {
        in.Seek(kHeaderSize);
        m_starts.resize(rowCount);
        m_lengths.resize(rowCount);
        for (uint32_t& start : m_starts)
            start = in.U32BE();
        for (uint32_t& length : m_lengths)
            length = in.U32BE();
        const uint64_t size = in.Size();
        for (size_t r = 0; r < rowCount; ++r)
            if (m_starts[r] < kHeaderSize || m_starts[r] > size || m_lengths[r] > size - m_starts[r])
                ReadError();
    }

    // The samples of one channel's row: file row fileRow of plane channel.
    void ReadChannelRow(size_t channel, size_t fileRow, uint16_t* out)
    {
        TByteReader& in = *m_channels[channel];
        const size_t r = channel * m_ySize + fileRow;
        if (!m_rle) {
            const size_t rowBytes = size_t(m_xSize) * m_bytesPerChannel;
            in.Seek(kHeaderSize + r * rowBytes);
            const uint8_t* bytes = in.Bytes(rowBytes).data();
            for (size_t i = 0; i < m_xSize; ++i)
                out[i] = m_bytesPerChannel == 2 ? uint16_t((bytes[2 * i] << 8) | bytes[2 * i + 1]) : bytes[i];
            return;
        }
        // A row is read from its own bytes only; rows may share them. A full
        // row is decoded from at most two elements a sample and one more.
        const size_t useful = (2 * size_t(m_xSize) + 2) * m_bytesPerChannel;
        in.Seek(m_starts[r]);
        TByteReader row(in.Bytes(std::min<size_t>(m_lengths[r], useful)), kName);
        std::fill_n(out, m_xSize, uint16_t(0));
        if (!DecodeSgiRLE(row, m_bytesPerChannel, std::span<uint16_t>(out, m_xSize)))
            CompressionError();
    }

    void ReadRow(int32_t y, TColor32* out) override
    {
        const size_t fileRow = size_t(m_ySize) - 1 - size_t(y);
        for (size_t c = 0; c < m_zSize; ++c)
            ReadChannelRow(c, fileRow, m_samples.data() + c * m_xSize);
        auto sample8 = [&](size_t channel, size_t x) -> uint8_t {
            const uint16_t v = m_samples[channel * m_xSize + x];
            return m_bytesPerChannel == 2 ? Scale16To8(v) : static_cast<uint8_t>(v);
        };
        for (size_t x = 0; x < m_xSize; ++x) {
            if (m_zSize <= 2) {
                const uint8_t g = sample8(0, x);
                out[x] = Color32(g, g, g, m_zSize == 2 ? sample8(1, x) : 0xFF);
            } else {
                out[x] = Color32(sample8(0, x), sample8(1, x), sample8(2, x), m_zSize == 4 ? sample8(3, x) : 0xFF);
            }
        }
    }

    std::vector<std::unique_ptr<TByteReader>> m_channels;
    size_t m_bytesPerChannel = 1;
    uint16_t m_xSize = 0;
    uint16_t m_ySize = 0;
    uint16_t m_zSize = 0;
    bool m_rle = false;
    std::vector<uint32_t> m_starts;
    std::vector<uint32_t> m_lengths;
    std::vector<uint16_t> m_samples;
};

} // namespace

std::unique_ptr<TPictureReader> TSGIGraphic::OpenRows(TStream& stream)
{
    return std::make_unique<TSGIReader>(stream);
}

} // namespace palvex
