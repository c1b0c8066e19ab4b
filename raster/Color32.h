// The 32-bit pixel: alpha 24..31, red 16..23, green 8..15, blue 0..7; in memory
// blue, green, red, alpha. Never premultiplied.
#pragma once

#include <cstdint>

namespace palvex {

using TColor32 = uint32_t;

// A platform colour value: red in the low byte, then green, then blue; a
// negative value names a system colour by its low byte.
using TColor = int32_t;

inline constexpr TColor32 AlphaComponent(TColor32 c) { return c >> 24; }
inline constexpr TColor32 RedComponent(TColor32 c) { return (c >> 16) & 0xFF; }
inline constexpr TColor32 GreenComponent(TColor32 c) { return (c >> 8) & 0xFF; }
inline constexpr TColor32 BlueComponent(TColor32 c) { return c & 0xFF; }

inline constexpr TColor32 Color32(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 0xFF)
{
    return (TColor32(a) << 24) | (TColor32(r) << 16) | (TColor32(g) << 8) | b;
}

// A 16-bit sample as the nearest 8-bit one.
inline constexpr uint8_t Scale16To8(uint16_t value)
{
    return static_cast<uint8_t>((uint32_t(value) * 255 + 32767) / 65535);
}

// The platform's system colours, by index (the low byte of a negative TColor).
TColor SystemColor(int index);

// A platform colour into an opaque TColor32.
TColor32 Color32(TColor color);

} // namespace palvex
