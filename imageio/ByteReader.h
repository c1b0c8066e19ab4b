// Bounds-checked reads of a picture's bytes, little- and big-endian: over
// bytes in memory, or over a stream that is read a window at a time as the
// reader asks, so that a file is never copied whole. Running out raises the
// format's read error: "Stream read error in %s file." with the format's name,
// or EReadError "Stream read error" without one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace palvex {

class TStream;

class TByteReader {
public:
    TByteReader(std::span<const uint8_t> data, const char* formatName);
    // The bytes of stream from its current position to its end; the stream
    // must outlive the reader, and is read only through it meanwhile.
    TByteReader(TStream& stream, const char* formatName);
    TByteReader(const TByteReader&) = delete;
    TByteReader& operator=(const TByteReader&) = delete;

    // Positions count from the first byte the reader was given.
    size_t Position() const { return m_windowStart + static_cast<size_t>(m_cur - m_window); }
    size_t Size() const { return m_size; }
    size_t Remaining() const { return m_size - Position(); }
    void Seek(size_t position);
    void Skip(size_t count);

    uint8_t U8()
    {
        Need(1);
        return *m_cur++;
    }
    uint16_t U16LE()
    {
        Need(2);
        const uint16_t v = static_cast<uint16_t>(m_cur[0] | (m_cur[1] << 8));
        m_cur += 2;
        return v;
    }
    uint16_t U16BE()
    {
        Need(2);
        const uint16_t v = static_cast<uint16_t>((m_cur[0] << 8) | m_cur[1]);
        m_cur += 2;
        return v;
    }
    uint32_t U32LE()
    {
        Need(4);
        const uint32_t v = uint32_t(m_cur[0]) | (uint32_t(m_cur[1]) << 8) | (uint32_t(m_cur[2]) << 16) |
                           (uint32_t(m_cur[3]) << 24);
        m_cur += 4;
        return v;
    }
    uint32_t U32BE()
    {
        Need(4);
        const uint32_t v = (uint32_t(m_cur[0]) << 24) | (uint32_t(m_cur[1]) << 16) | (uint32_t(m_cur[2]) << 8) |
                           uint32_t(m_cur[3]);
        m_cur += 4;
        return v;
    }
    // The next count bytes, valid until the next read, seek or skip. From a
    // stream they are buffered: ask for rows, not for whole pictures.
    std::span<const uint8_t> Bytes(size_t count)
    {
        Need(count);
        const std::span<const uint8_t> s(m_cur, count);
        m_cur += count;
        return s;
    }
    // Up to count bytes into out (fewer only at the end); never raises.
    size_t ReadSome(uint8_t* out, size_t count);

    // The next byte without taking it; running out raises the read error.
    uint8_t Peek()
    {
        Need(1);
        return *m_cur;
    }

    [[noreturn]] void Short() const;

private:
    void Need(size_t count)
    {
        if (count > static_cast<size_t>(m_end - m_cur))
            Fill(count);
    }
    // Makes count bytes from Position() available in the window, or Short().
    void Fill(size_t count);

    const char* m_formatName;
    TStream* m_stream = nullptr;
    int64_t m_streamBase = 0;        // stream position of byte 0
    size_t m_size = 0;
    std::vector<uint8_t> m_buffer;   // the window's bytes when read from a stream
    const uint8_t* m_window = nullptr;
    size_t m_windowStart = 0;        // position of m_window[0]
    const uint8_t* m_cur = nullptr;
    const uint8_t* m_end = nullptr;
};

} // namespace palvex
