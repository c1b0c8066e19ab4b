#include "imageio/ColorProfile.h"

#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <lcms2.h>

#include "platform/Errors.h"

namespace palvex {

namespace {

// Little CMS reports through its context's log; a profile it refuses is
// simply not used, so nothing is printed.
void SilentLog(cmsContext, cmsUInt32Number, const char*) {}

struct TContext {
    cmsContext Handle = nullptr;
    ~TContext()
    {
        if (Handle)
            cmsDeleteContext(Handle);
    }
};

struct TProfile {
    cmsHPROFILE Handle = nullptr;
    ~TProfile()
    {
        if (Handle)
            cmsCloseProfile(Handle);
    }
};

cmsColorSpaceSignature SpaceOf(TColorModel model)
{
    switch (model) {
    case TColorModel::Gray: return cmsSigGrayData;
    case TColorModel::RGB: return cmsSigRgbData;
    default: return cmsSigCmykData;
    }
}

cmsUInt32Number InputFormatOf(TColorModel model)
{
    switch (model) {
    case TColorModel::Gray: return TYPE_GRAY_8;
    case TColorModel::RGB: return TYPE_BGRA_8;
    case TColorModel::CMYK: return TYPE_CMYK_8;
    case TColorModel::CMYKInverted: return TYPE_CMYK_8_REV;
    }
    return TYPE_BGRA_8;
}

bool DescribedAsSRGB(cmsHPROFILE profile)
{
    char text[256] = {};
    if (cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", text, sizeof text) == 0)
        return false;
    return std::strncmp(text, "sRGB", 4) == 0;
}

bool Near(uint32_t a, uint32_t b)
{
    return (a > b ? a - b : b - a) <= 1;
}

bool SameColors(TColor32 a, TColor32 b)
{
    return Near(RedComponent(a), RedComponent(b)) && Near(GreenComponent(a), GreenComponent(b)) &&
           Near(BlueComponent(a), BlueComponent(b));
}

// The grid and the gray ramp that an sRGB profile leaves as they are.
std::vector<TColor32> ProbeColors()
{
    static constexpr uint8_t kLevels[] = {0, 32, 64, 96, 128, 160, 192, 224, 255};
    std::vector<TColor32> colors;
    for (uint8_t r : kLevels)
        for (uint8_t g : kLevels)
            for (uint8_t b : kLevels)
                colors.push_back(Color32(r, g, b));
    for (int v = 0; v < 256; ++v)
        colors.push_back(Color32(uint8_t(v), uint8_t(v), uint8_t(v)));
    return colors;
}

} // namespace

struct TColorConversion::TState {
    TContext Context;
    TProfile Source;
    TProfile SRGB;
    cmsHTRANSFORM Transform = nullptr;
    std::array<TColor32, 256> Gray{}; // gray: every level's colour, the transform's result
    // From 16-bit samples, made when first asked for, for one input layout
    // (a conversion belongs to one picture's reader, on one thread).
    cmsHTRANSFORM Wide = nullptr;
    cmsUInt32Number WideFormat = 0;
    ~TState()
    {
        if (Transform)
            cmsDeleteTransform(Transform);
        if (Wide)
            cmsDeleteTransform(Wide);
    }
};

TColorConversion::TColorConversion(std::unique_ptr<TState> state, TColorModel model)
    : m(std::move(state)), m_model(model)
{
}

TColorConversion::~TColorConversion() = default;

std::unique_ptr<TColorConversion> TColorConversion::ToSRGB(std::span<const uint8_t> profile, TColorModel model)
{
    // The header's own size must fit the bytes: 128 bytes of header and a tag count.
    if (profile.size() < 132 || profile.size() > kMaxColorProfileBytes)
        return nullptr;
    const uint32_t declared = (uint32_t(profile[0]) << 24) | (uint32_t(profile[1]) << 16) |
                              (uint32_t(profile[2]) << 8) | uint32_t(profile[3]);
    if (declared < 132 || declared > profile.size())
        return nullptr;

    auto state = std::make_unique<TState>();
    state->Context.Handle = cmsCreateContext(nullptr, nullptr);
    if (!state->Context.Handle)
        return nullptr;
    cmsContext context = state->Context.Handle;
    cmsSetLogErrorHandlerTHR(context, SilentLog);
    TProfile& source = state->Source;
    source.Handle = cmsOpenProfileFromMemTHR(context, profile.data(), declared);
    if (!source.Handle || cmsGetColorSpace(source.Handle) != SpaceOf(model))
        return nullptr;
    const cmsProfileClassSignature kind = cmsGetDeviceClass(source.Handle);
    if (kind == cmsSigLinkClass || kind == cmsSigAbstractClass || kind == cmsSigNamedColorClass)
        return nullptr;
    if ((model == TColorModel::RGB || model == TColorModel::Gray) && DescribedAsSRGB(source.Handle))
        return nullptr;
    TProfile& sRGB = state->SRGB;
    sRGB.Handle = cmsCreate_sRGBProfileTHR(context);
    if (!sRGB.Handle)
        return nullptr;
    state->Transform = cmsCreateTransformTHR(context, source.Handle, InputFormatOf(model), sRGB.Handle, TYPE_BGRA_8,
                                             INTENT_PERCEPTUAL, 0);
    if (!state->Transform)
        return nullptr;

    if (model == TColorModel::Gray) {
        std::array<uint8_t, 256> levels;
        for (int v = 0; v < 256; ++v)
            levels[size_t(v)] = uint8_t(v);
        cmsDoTransform(state->Transform, levels.data(), state->Gray.data(), 256);
        bool identity = true;
        for (int v = 0; v < 256; ++v) {
            state->Gray[size_t(v)] &= 0x00FFFFFFu;
            identity = identity && SameColors(state->Gray[size_t(v)], Color32(uint8_t(v), uint8_t(v), uint8_t(v)));
        }
        if (identity)
            return nullptr;
    } else if (model == TColorModel::RGB) {
        const std::vector<TColor32> probe = ProbeColors();
        std::vector<TColor32> converted = probe;
        cmsDoTransform(state->Transform, converted.data(), converted.data(), cmsUInt32Number(converted.size()));
        bool identity = true;
        for (size_t i = 0; i < probe.size() && identity; ++i)
            identity = SameColors(probe[i], converted[i]);
        if (identity)
            return nullptr;
    }
    return std::unique_ptr<TColorConversion>(new TColorConversion(std::move(state), model));
}

void TColorConversion::ConvertPixels(TColor32* pixels, size_t count) const
{
    if (m_model == TColorModel::Gray) {
        // Gray pixels are handed out with equal channels: blue is the level.
        for (size_t i = 0; i < count; ++i)
            pixels[i] = (pixels[i] & 0xFF000000u) | m->Gray[BlueComponent(pixels[i])];
        return;
    }
    // In place: the alpha bytes are not the transform's and stay.
    cmsDoTransform(m->Transform, pixels, pixels, cmsUInt32Number(count));
}

void TColorConversion::ConvertWide(const uint8_t* samples, size_t channels, bool bigEndian, TColor32* out,
                                   size_t count) const
{
    const size_t colors = m_model == TColorModel::Gray ? 1 : 3;
    if ((m_model != TColorModel::Gray && m_model != TColorModel::RGB) || channels < colors || channels > 8)
        throw std::logic_error("colour conversion: no such 16-bit samples");
    const bool swap = bigEndian != (std::endian::native == std::endian::big);
    const cmsUInt32Number format = COLORSPACE_SH(m_model == TColorModel::Gray ? PT_GRAY : PT_RGB) |
                                   CHANNELS_SH(colors) | BYTES_SH(2) | EXTRA_SH(channels - colors) |
                                   ENDIAN16_SH(swap ? 1 : 0);
    if (!m->Wide || m->WideFormat != format) {
        if (m->Wide)
            cmsDeleteTransform(m->Wide);
        m->Wide = cmsCreateTransformTHR(m->Context.Handle, m->Source.Handle, format, m->SRGB.Handle, TYPE_BGRA_8,
                                        INTENT_PERCEPTUAL, 0);
        m->WideFormat = format;
        if (!m->Wide)
            throw EColorConversionError("Color conversion failed. Could not find a proper method.");
    }
    cmsDoTransform(m->Wide, samples, out, cmsUInt32Number(count));
}

void TColorConversion::ConvertCMYK(const uint8_t* samples, TColor32* out, size_t count) const
{
    cmsDoTransform(m->Transform, samples, out, cmsUInt32Number(count));
    for (size_t i = 0; i < count; ++i)
        out[i] |= 0xFF000000u;
}

} // namespace palvex
