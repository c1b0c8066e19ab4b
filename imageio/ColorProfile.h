// Embedded ICC profiles: pictures described in another colour space are
// turned into sRGB (Little CMS, perceptual intent) as their rows are decoded,
// because the JPEG files written carry no profile and are shown as sRGB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "raster/Color32.h"

namespace palvex {

// The pixels a profile must describe to be used.
enum class TColorModel : uint8_t {
    Gray,         // gray samples, handed out as R = G = B
    RGB,
    CMYK,         // 0 is no ink
    CMYKInverted, // 255 is no ink (Adobe's JPEG and Photoshop's files)
};

// A colour channel of CMYK without a profile: (1 - ink)(1 - black), rounded;
// 0 is no ink.
inline constexpr uint8_t InkToChannel(uint8_t ink, uint8_t black)
{
    return static_cast<uint8_t>(((255u - ink) * (255u - black) + 127) / 255);
}

// Profiles larger than this are not read: no real one comes near.
inline constexpr size_t kMaxColorProfileBytes = size_t(16) << 20;

class TColorConversion {
public:
    // The conversion to sRGB of pixels in model described by profile, or null
    // when there is nothing to convert: a profile that Little CMS refuses or
    // that describes other pixels (ignored, the pixels stay as stored), and
    // an sRGB profile, which needs nothing. A profile counts as sRGB when its
    // description begins with "sRGB", or when its conversion moves no sample
    // of a 9x9x9 grid and the gray ramp (256 levels for gray) by more than 1.
    static std::unique_ptr<TColorConversion> ToSRGB(std::span<const uint8_t> profile, TColorModel model);
    ~TColorConversion();
    TColorConversion(const TColorConversion&) = delete;
    TColorConversion& operator=(const TColorConversion&) = delete;

    TColorModel Model() const { return m_model; }
    // Gray and RGB: the colours of count pixels in place; alpha is kept.
    void ConvertPixels(TColor32* pixels, size_t count) const;
    // CMYK and CMYKInverted: count pixels of 4 samples into opaque pixels.
    void ConvertCMYK(const uint8_t* samples, TColor32* out, size_t count) const;
    // Gray and RGB: count pixels of 16-bit samples, channels (at most 8) to a
    // pixel, the colour ones first (a gray sample may be followed by copies),
    // big-endian or in the machine's order, into the colours of out (its alpha
    // bytes are not to be relied on). Converted at 16 bits, rounded once.
    void ConvertWide(const uint8_t* samples, size_t channels, bool bigEndian, TColor32* out, size_t count) const;

private:
    struct TState;
    TColorConversion(std::unique_ptr<TState> state, TColorModel model);
    std::unique_ptr<TState> m;
    TColorModel m_model;
};

} // namespace palvex
