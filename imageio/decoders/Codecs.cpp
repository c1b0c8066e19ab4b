// Run-length variants, PackBits, bit unpacking and palette lookup.
#include "imageio/decoders/Codecs.h"

#include <algorithm>
#include <cstring>

namespace palvex {

bool DecodePackBits(TByteReader& in, std::span<uint8_t> out)
{
    size_t pos = 0;
    while (pos < out.size()) {
        const auto n = static_cast<int8_t>(in.U8());
        if (n == -128)
            continue;
        if (n >= 0) {
            const size_t count = size_t(n) + 1;
            if (count > out.size() - pos) {
                const auto bytes = in.Bytes(out.size() - pos);
                std::memcpy(out.data() + pos, bytes.data(), bytes.size());
                return false;
            }
            const auto bytes = in.Bytes(count);
            std::memcpy(out.data() + pos, bytes.data(), count);
            pos += count;
        } else {
            const size_t count = size_t(1 - n);
            const uint8_t value = in.U8();
            const size_t fit = std::min(count, out.size() - pos);
            std::memset(out.data() + pos, value, fit);
            pos += fit;
            if (fit < count)
                return false;
        }
    }
    return true;
}

void TTargaRuns::Decode(TByteReader& in, size_t pixelBytes, uint8_t* out, size_t pixels)
{
    size_t done = 0;
    while (done < pixels) {
        if (Left == 0) {
            const uint8_t header = in.U8();
            Left = static_cast<uint8_t>((header & 0x7F) + 1);
            Run = (header & 0x80) != 0;
            if (Run)
                std::memcpy(Pixel, in.Bytes(pixelBytes).data(), pixelBytes);
        }
        const size_t fit = std::min<size_t>(Left, pixels - done);
        uint8_t* dst = out + done * pixelBytes;
        if (Run) {
            for (size_t i = 0; i < fit; ++i)
                std::memcpy(dst + i * pixelBytes, Pixel, pixelBytes);
        } else {
            const auto bytes = in.Bytes(fit * pixelBytes);
            std::memcpy(dst, bytes.data(), bytes.size());
        }
        done += fit;
        Left = static_cast<uint8_t>(Left - fit);
    }
}

bool DecodeTargaRLE(TByteReader& in, size_t pixelBytes, std::span<uint8_t> out)
{
    TTargaRuns runs;
    runs.Decode(in, pixelBytes, out.data(), pixelBytes ? out.size() / pixelBytes : 0);
    return runs.Left == 0;
}

void TPcxRuns::Decode(TByteReader& in, std::span<uint8_t> out)
{
    size_t pos = 0;
    while (pos < out.size()) {
        if (Left == 0) {
            Value = in.U8();
            Left = 1;
            if ((Value & 0xC0) == 0xC0) {
                Left = Value & 0x3F;
                Value = in.U8();
            }
        }
        const size_t fit = std::min(Left, out.size() - pos);
        std::memset(out.data() + pos, Value, fit);
        pos += fit;
        Left -= fit;
    }
}

bool DecodePcxRLE(TByteReader& in, std::span<uint8_t> out)
{
    TPcxRuns runs;
    runs.Decode(in, out);
    return runs.Left == 0;
}

bool DecodeSgiRLE(TByteReader& in, size_t bytesPerElement, std::span<uint16_t> out)
{
    auto element = [&]() -> uint16_t { return bytesPerElement == 2 ? in.U16BE() : in.U8(); };
    size_t pos = 0;
    for (;;) {
        // Some writers leave out the closing zero when the row is full.
        if (pos == out.size() && in.Remaining() < bytesPerElement)
            return true;
        const uint16_t header = element();
        const size_t count = header & 0x7F;
        if (count == 0)
            return true;
        if (count > out.size() - pos)
            return false;
        if (header & 0x80) {
            for (size_t i = 0; i < count; ++i)
                out[pos++] = element();
        } else {
            const uint16_t value = element();
            std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(pos), count, value);
            pos += count;
        }
    }
}

bool DecodeSignedRuns(TByteReader& in, std::span<uint8_t> out, bool countPlusOne)
{
    size_t pos = 0;
    bool fits = true;
    while (pos < out.size()) {
        const int n = static_cast<int8_t>(in.U8());
        if (n > 0 || (countPlusOne && n == 0)) {
            const size_t count = size_t(n) + (countPlusOne ? 1 : 0);
            const uint8_t value = in.U8();
            const size_t fit = std::min(count, out.size() - pos);
            std::memset(out.data() + pos, value, fit);
            pos += fit;
            fits &= fit == count;
        } else {
            const size_t count = size_t(-n);
            const auto bytes = in.Bytes(count);
            const size_t fit = std::min(count, out.size() - pos);
            std::memcpy(out.data() + pos, bytes.data(), fit);
            pos += fit;
            fits &= fit == count;
        }
    }
    return fits;
}

void UnpackBits(const uint8_t* src, int bitsPerSample, size_t count, uint8_t* out)
{
    if (bitsPerSample == 8) {
        std::memcpy(out, src, count);
        return;
    }
    const unsigned perByte = 8u / unsigned(bitsPerSample);
    const unsigned mask = (1u << bitsPerSample) - 1;
    for (size_t i = 0; i < count; ++i) {
        const unsigned shift = 8u - unsigned(bitsPerSample) * (unsigned(i % perByte) + 1);
        out[i] = static_cast<uint8_t>((src[i / perByte] >> shift) & mask);
    }
}

bool PackedRowBytes(uint64_t count, uint64_t bitsPerSample, size_t& bytes)
{
    uint64_t bits;
    if (__builtin_mul_overflow(count, bitsPerSample, &bits) || bits > UINT64_MAX - 7)
        return false;
    const uint64_t result = (bits + 7) / 8;
    if (result > SIZE_MAX)
        return false;
    bytes = static_cast<size_t>(result);
    return true;
}

void CombineBitPlanes(const uint8_t* planes, size_t planeStride, int planeCount, size_t count, uint8_t* out)
{
    for (size_t x = 0; x < count; ++x) {
        const unsigned shift = 7u - unsigned(x & 7);
        uint8_t index = 0;
        for (int p = 0; p < planeCount; ++p)
            index = static_cast<uint8_t>(index | (((planes[size_t(p) * planeStride + x / 8] >> shift) & 1u) << p));
        out[x] = index;
    }
}

void ExpandPalette(const uint8_t* indices, size_t count, std::span<const TColor32> palette, TColor32* out)
{
    for (size_t i = 0; i < count; ++i)
        out[i] = PaletteColor(palette, indices[i]);
}

} // namespace palvex
