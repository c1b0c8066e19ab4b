#include "imageio/ByteReader.h"

#include <algorithm>
#include <cstring>

#include "imageio/Streams.h"
#include "platform/Errors.h"

namespace palvex {

namespace {
// Enough for a few rows of a photo per read; larger requests get their own size.
constexpr size_t kWindowBytes = size_t(64) << 10;
} // namespace

TByteReader::TByteReader(std::span<const uint8_t> data, const char* formatName)
    : m_formatName(formatName), m_size(data.size()), m_window(data.data()), m_cur(data.data()),
      m_end(data.data() + data.size())
{
}

TByteReader::TByteReader(TStream& stream, const char* formatName) : m_formatName(formatName), m_stream(&stream)
{
    m_streamBase = stream.Position();
    const int64_t end = stream.Size();
    m_size = m_streamBase >= 0 && end > m_streamBase ? static_cast<size_t>(end - m_streamBase) : 0;
}

void TByteReader::Short() const
{
    if (m_formatName)
        throw EInvalidGraphic(Format("Stream read error in %s file.", m_formatName));
    throw EReadError(kSReadError);
}

void TByteReader::Seek(size_t position)
{
    if (position > m_size)
        Short();
    const size_t windowBytes = static_cast<size_t>(m_end - m_window);
    if (position >= m_windowStart && position - m_windowStart <= windowBytes) {
        m_cur = m_window + (position - m_windowStart);
        return;
    }
    m_windowStart = position;
    m_window = m_cur = m_end = m_buffer.data();
}

void TByteReader::Skip(size_t count)
{
    const size_t position = Position();
    if (count > m_size - position)
        Short();
    Seek(position + count);
}

void TByteReader::Fill(size_t count)
{
    const size_t position = Position();
    if (!m_stream || count > m_size - position)
        Short();
    // Reading backwards (rows stored bottom-up): the window ends where the
    // request does, so the rows before it come from the same read.
    size_t start = position;
    if (position + count <= m_windowStart && count < kWindowBytes)
        start = position + count > kWindowBytes ? position + count - kWindowBytes : 0;
    const size_t want = std::min(std::max(position + count - start, kWindowBytes), m_size - start);
    if (m_buffer.size() < want || (want <= kWindowBytes && m_buffer.size() > 4 * kWindowBytes))
        std::vector<uint8_t>(want).swap(m_buffer);
    m_stream->Seek(m_streamBase + static_cast<int64_t>(start), SEEK_SET);
    const size_t got = m_stream->Read(m_buffer.data(), want);
    m_windowStart = start;
    m_window = m_buffer.data();
    m_cur = m_window + (position - start);
    m_end = m_window + got;
    // The file got shorter since it was opened.
    if (got < position - start + count) {
        m_cur = std::min(m_cur, m_end);
        Short();
    }
}

size_t TByteReader::ReadSome(uint8_t* out, size_t count)
{
    count = std::min(count, Remaining());
    size_t done = std::min(count, static_cast<size_t>(m_end - m_cur));
    if (done != 0) // before the first window m_cur is null, which memcpy may not take
        std::memcpy(out, m_cur, done);
    m_cur += done;
    if (done == count)
        return done;
    const size_t position = Position();
    if (count - done >= kWindowBytes && m_stream) {
        // Large reads go straight to the caller's buffer.
        m_stream->Seek(m_streamBase + static_cast<int64_t>(position), SEEK_SET);
        const size_t got = m_stream->Read(out + done, count - done);
        m_windowStart = position + got;
        m_window = m_cur = m_end = m_buffer.data();
        return done + got;
    }
    try {
        Fill(count - done);
    } catch (const Exception&) {
        return done;
    }
    std::memcpy(out + done, m_cur, count - done);
    m_cur += count - done;
    return count;
}

} // namespace palvex
