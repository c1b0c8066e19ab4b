#include "imageio/decoders/TiffSupport.h"

#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace palvex {

namespace {

// Bit i of the stream, most significant bit of each byte first.
inline int BitAt(std::span<const uint8_t> data, size_t i)
{
    return (data[i >> 3] >> (7 - (i & 7))) & 1;
}

void PutU16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Matches text against a printf format whose conversions take any text.
bool MatchesFormat(const char* format, const char* text)
{
    if (*format == '\0')
        return *text == '\0';
    if (format[0] == '%' && format[1] == '%')
        return *text == '%' && MatchesFormat(format + 2, text + 1);
    if (format[0] == '%') {
        const char* rest = format + 1;
        while (*rest && std::strchr("0123456789.-+ #lhzj", *rest))
            ++rest;
        if (*rest)
            ++rest;
        for (const char* t = text;; ++t) {
            if (MatchesFormat(rest, t))
                return true;
            if (*t == '\0')
                return false;
        }
    }
    return *format == *text && MatchesFormat(format + 1, text + 1);
}

} // namespace

bool LooksLikeRawFax(std::span<const uint8_t> data)
{
    const size_t bits = std::min<size_t>(data.size(), 4) * 8;
    size_t zeros = 0;
    for (size_t i = 0; i < bits; ++i) {
        if (BitAt(data, i) == 0) {
            ++zeros;
            continue;
        }
        return zeros >= 11;
    }
    return false;
}

void TFaxLineCounter::Feed(std::span<const uint8_t> data)
{
    const size_t bits = data.size() * 8;
    for (size_t i = 0; i < bits; ++i) {
        if (BitAt(data, i) == 0) {
            ++m_zeros;
            continue;
        }
        if (m_zeros >= 11) {
            if (m_sawEol && m_lineHasData)
                ++m_lines;
            m_sawEol = true;
            m_lineHasData = false;
        } else {
            m_lineHasData = true;
        }
        m_zeros = 0;
    }
}

uint32_t CountFaxLines(std::span<const uint8_t> data)
{
    TFaxLineCounter counter;
    counter.Feed(data);
    return counter.Lines();
}

std::vector<uint8_t> RawFaxHeader(uint32_t rows, uint32_t dataBytes)
{
    struct Entry {
        uint16_t tag, type;
        uint32_t value;
    };
    const uint16_t kShort = 3, kLong = 4;
    const uint32_t entryCount = 10;
    const uint32_t dataOffset = 8 + 2 + entryCount * 12 + 4;
    const Entry entries[entryCount] = {
        {256, kLong, kRawFaxWidth},                      // ImageWidth
        {257, kLong, rows},                              // ImageLength
        {258, kShort, 1},                                // BitsPerSample
        {259, kShort, 3},                                // Compression: CCITT G3
        {262, kShort, 0},                                // Photometric: min-is-white
        {273, kLong, dataOffset},                        // StripOffsets
        {277, kShort, 1},                                // SamplesPerPixel
        {278, kLong, rows},                              // RowsPerStrip
        {279, kLong, dataBytes},                         // StripByteCounts
        {292, kLong, 0},                                 // T4Options: 1-D, no fill bits
    };
    std::vector<uint8_t> out = {'I', 'I', 42, 0};
    out.reserve(dataOffset);
    PutU32(out, 8);
    PutU16(out, entryCount);
    for (const Entry& e : entries) {
        PutU16(out, e.tag);
        PutU16(out, e.type);
        PutU32(out, 1);
        if (e.type == kShort) {
            PutU16(out, static_cast<uint16_t>(e.value));
            PutU16(out, 0);
        } else {
            PutU32(out, e.value);
        }
    }
    PutU32(out, 0);
    return out;
}

int JpegMessageCode(const std::string& message)
{
    jpeg_error_mgr err;
    jpeg_std_error(&err);
    for (int code = 1; code <= err.last_jpeg_message; ++code) {
        const char* format = err.jpeg_message_table[code];
        if (format && MatchesFormat(format, message.c_str()))
            return code;
    }
    return -1;
}

} // namespace palvex
