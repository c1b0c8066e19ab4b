// Helpers of the TIFF reader that need no libtiff: the headerless fax stream
// wrapped as a TIFF, and libjpeg's message texts turned back into codes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace palvex {

// The width headerless G3 fax streams are read at (the widest fax line, B4).
inline constexpr uint32_t kRawFaxWidth = 2592;

// True when bytes start like a headerless CCITT G3 stream: an end-of-line
// code (eleven or more zero bits, then a one) within the first bytes.
bool LooksLikeRawFax(std::span<const uint8_t> data);

// The number of coded lines of a 1-D G3 stream: the end-of-line codes that
// are followed by line data (the six of the closing RTC are not). Fed the
// stream in pieces, in order.
class TFaxLineCounter {
public:
    void Feed(std::span<const uint8_t> data);
    uint32_t Lines() const { return m_lines + (m_sawEol && m_lineHasData ? 1 : 0); }

private:
    uint32_t m_lines = 0;
    size_t m_zeros = 0;
    bool m_sawEol = false;
    bool m_lineHasData = false;
};
uint32_t CountFaxLines(std::span<const uint8_t> data);

// A little-endian one-strip TIFF around a G3 stream: width kRawFaxWidth,
// the given rows, Compression 3, 1-D coding, min-is-white: the header that
// goes before the stream, which follows it unchanged.
std::vector<uint8_t> RawFaxHeader(uint32_t rows, uint32_t dataBytes);

// The libjpeg message number whose text a formatted message matches (its
// %d, %s, ... taking any text), or -1.
int JpegMessageCode(const std::string& message);

} // namespace palvex
