// Format helpers shared by the hand-written readers: the run-length variants,
// PackBits, sub-byte unpacking, plane combining, palette lookup and sample
// scaling. Every decoder reads through a TByteReader, so running out of input
// raises the format's "Stream read error"; a run that would write past its
// output is reported by a false result and the caller chooses the message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "imageio/decoders/DecoderGraphic.h"
#include "raster/Color32.h"

namespace palvex {

// PackBits (Photoshop, Macintosh): n in 0..127 copies n+1 bytes, n in
// -127..-1 repeats the next byte 1-n times, -128 does nothing. Fills out
// exactly; false when a run crosses its end (out then holds what fitted).
bool DecodePackBits(TByteReader& in, std::span<uint8_t> out);

// Truevision run-length packets of pixelBytes-wide pixels, decoded a piece
// (a row) at a time: a packet may span rows, and Left says how much of the
// current one the next piece gets. The state is plain, to be kept aside.
struct TTargaRuns {
    uint8_t Left = 0; // pixels of the current packet still to come
    bool Run = false;
    uint8_t Pixel[4] = {}; // the run's pixel
    void Decode(TByteReader& in, size_t pixelBytes, uint8_t* out, size_t pixels);
};
// The same over a whole buffer; false when a packet crosses the end of out.
bool DecodeTargaRLE(TByteReader& in, size_t pixelBytes, std::span<uint8_t> out);

// ZSoft run-length bytes: a byte with both top bits set repeats the next byte
// (its low six bits) times. Decoded a piece (a line) at a time, as runs may
// cross line ends.
struct TPcxRuns {
    size_t Left = 0; // repeats of Value still to come
    uint8_t Value = 0;
    void Decode(TByteReader& in, std::span<uint8_t> out);
};
// The same over a whole buffer; false when a run crosses the end of out.
bool DecodePcxRLE(TByteReader& in, std::span<uint8_t> out);

// One SGI run-length row of 1- or 2-byte (big-endian) elements. A zero count,
// or the end of the row's bytes once the row is full, ends it; elements left
// unwritten stay zero. Returns false when a
// run crosses the end of out.
bool DecodeSgiRLE(TByteReader& in, size_t bytesPerElement, std::span<uint16_t> out);

// Byte runs led by a signed count, as RLA and Animator's FLIC frames store
// them: a count n > 0 repeats the next byte n times, n < 0 copies the next -n
// bytes. With countPlusOne (RLA) a count n >= 0 repeats n + 1 times. Fills out
// exactly; a run that crosses its end is cut, its bytes still read, and the
// result is false.
bool DecodeSignedRuns(TByteReader& in, std::span<uint8_t> out, bool countPlusOne);

// Unpacks count samples of 1, 2, 4 or 8 bits, most significant first, from
// src into one byte each. The caller guarantees src holds them.
void UnpackBits(const uint8_t* src, int bitsPerSample, size_t count, uint8_t* out);

// Bytes needed for count samples of bitsPerSample bits, rounded up; false on
// overflow.
bool PackedRowBytes(uint64_t count, uint64_t bitsPerSample, size_t& bytes);

// Combines planeCount 1-bit planes, each planeStride bytes apart, into one
// index a pixel: plane p gives bit p.
void CombineBitPlanes(const uint8_t* planes, size_t planeStride, int planeCount, size_t count, uint8_t* out);

// Palette lookup; an index beyond the palette gives opaque black.
inline TColor32 PaletteColor(std::span<const TColor32> palette, size_t index)
{
    return index < palette.size() ? palette[index] : Color32(0, 0, 0);
}
void ExpandPalette(const uint8_t* indices, size_t count, std::span<const TColor32> palette, TColor32* out);

// A sample of 0..maxValue scaled to 0..255 by rounding; values above maxValue
// saturate.
inline uint8_t ScaleSample(uint32_t value, uint32_t maxValue)
{
    if (value >= maxValue)
        return 255;
    return static_cast<uint8_t>((uint64_t(value) * 255 + maxValue / 2) / maxValue);
}

} // namespace palvex
