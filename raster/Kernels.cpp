// The filter kernels and the integer weight lists built from them. Values are
// rounded to 32-bit floats where the tables depend on it; the arithmetic in
// between is carried in long double.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/Errors.h"
#include "raster/StretchInternals.h"

namespace palvex {

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;

inline float F32(long double v) { return static_cast<float>(v); }

// Ties to even in the default rounding mode, as nearbyintl, but inline:
// nearbyintl saves and restores the floating-point state on every call, which
// was most of the cost of building the tables.
inline long double RoundHalfEven(long double v) { return rintl(v); }

float Sinc(float x)
{
    if (x == 0.0f)
        return 1.0f;
    const float y = F32(kPi * x);
    return F32(sinl(y) / y);
}

// value approximates a real number to within err; when no float rounding
// boundary lies within err of value, every approximation that close (the
// extended-precision one among them) rounds to the same float, stored in out.
// The float next to f towards -infinity (down) or +infinity; f finite. Bit
// steps instead of nextafterf, which is a library call.
inline float NextFloat(float f, bool down)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    if ((bits & 0x7FFFFFFFu) == 0) {
        bits = down ? 0x80000001u : 1u;
    } else if ((bits >> 31) != 0) {
        bits += down ? 1 : -1;
    } else {
        bits += down ? -1 : 1;
    }
    float out;
    std::memcpy(&out, &bits, sizeof out);
    return out;
}

bool RoundsUnambiguously(double value, double err, float& out)
{
    const float f = static_cast<float>(value);
    if (!std::isfinite(f))
        return false;
    const double below = (static_cast<double>(f) + NextFloat(f, true)) / 2;
    const double above = (static_cast<double>(f) + NextFloat(f, false)) / 2;
    if (value - below > err && above - value > err) {
        out = f;
        return true;
    }
    return false;
}

// The extended-precision sine functions cost hundreds of cycles a call, and
// the tables call them tens of thousands of times. Double precision gives the
// same floats except within about 2^-50 of a rounding boundary, where the
// extended forms decide.
float FastSinc(float x)
{
    if (x == 0.0f)
        return 1.0f;
    const double product = 3.14159265358979323846 * static_cast<double>(x);
    float y;
    if (!RoundsUnambiguously(product, std::fabs(product) * 0x1p-46, y))
        return Sinc(x);
    const double q = std::sin(static_cast<double>(y)) / static_cast<double>(y);
    float result;
    if (!RoundsUnambiguously(q, std::fabs(q) * 0x1p-44, result))
        return F32(sinl(y) / y);
    return result;
}

} // namespace

float BoxKernel(float x) { return (x > -0.5f && x <= 0.5f) ? 1.0f : 0.0f; }

float TriangleKernel(float x)
{
    if (x < -1.0f)
        return 0.0f;
    if (x < 0.0f)
        return F32(1.0L + x);
    if (x < 1.0f)
        return F32(1.0L - x);
    return 0.0f;
}

float CosineKernelExtended(float x)
{
    const float a = std::fabs(x);
    if (a < 1.0f)
        return F32((cosl(kPi * a) + 1.0L) / 2.0L);
    return 0.0f;
}

float CosineKernel(float x)
{
    const float a = std::fabs(x);
    if (a >= 1.0f)
        return 0.0f;
    // Absolute error of the double form below 2^-49 (argument below pi).
    const double v = (std::cos(3.14159265358979323846 * static_cast<double>(a)) + 1.0) / 2.0;
    float result;
    if (RoundsUnambiguously(v, 0x1p-46, result))
        return result;
    return CosineKernelExtended(x);
}

float SplineKernel(float x)
{
    const float a = std::fabs(x);
    if (a < 1.0f) {
        const float t = F32(static_cast<long double>(a) * a);
        return F32(0.5L * t * a - t + 2.0L / 3.0L);
    }
    if (a < 2.0f) {
        const float u = F32(2.0L - a);
        return F32(static_cast<long double>(u) * u * (1.0L / 6.0L) * u);
    }
    return 0.0f;
}

float LanczosKernelExtended(float x)
{
    const float a = std::fabs(x);
    if (a < 3.0f)
        return F32(static_cast<long double>(Sinc(F32(a / 3.0L))) * Sinc(a));
    return 0.0f;
}

float LanczosKernel(float x)
{
    const float a = std::fabs(x);
    if (a >= 3.0f)
        return 0.0f;
    float third;
    // a / 3 in double is within 2^-53 relative of the extended quotient.
    if (!RoundsUnambiguously(static_cast<double>(a) / 3.0, a * 0x1p-48, third))
        third = F32(a / 3.0L);
    // The product of two floats is exact in double as in extended precision.
    return static_cast<float>(static_cast<double>(FastSinc(third)) * FastSinc(a));
}

float MitchellKernel(float x)
{
    const float a = std::fabs(x);
    const float t = F32(static_cast<long double>(a) * a);
    const float c = F32(static_cast<long double>(t) * a);
    if (a < 1.0f)
        return F32((7.0L * c - 12.0L * t + 16.0L / 3.0L) / 6.0L);
    if (a < 2.0f)
        return F32((-(7.0L / 3.0L) * c + 12.0L * t - 20.0L * a + 32.0L / 3.0L) / 6.0L);
    return 0.0f;
}

const TKernelEntry KernelTable[7] = {
    {BoxKernel, 1.0f},     {TriangleKernel, 1.0f}, {TriangleKernel, 1.0f}, {CosineKernel, 1.0f},
    {SplineKernel, 2.0f},  {LanczosKernel, 3.0f},  {MitchellKernel, 2.0f},
};

namespace {

// Where one axis places its samples: every weight depends on these alone.
struct TPlacement {
    float Scale;    // DstW / SrcW as a float
    int64_t Offset; // clipLo - dstLo
    int32_t SrcLo;
    bool operator==(const TPlacement&) const = default;
};

// A weight list before its indices are limited to the source.
struct TRawList {
    std::vector<int64_t> Index;
    std::vector<int32_t> Weight;
};

// Floor and Ceil by truncation: floorl and ceill switch the x87 rounding mode
// on every call, which cost more than the rest of a short list.
inline int64_t FloorToInt(long double v)
{
    if (!(std::fabs(v) < 0x1p62L))
        return static_cast<int64_t>(floorl(v));
    const auto t = static_cast<int64_t>(v);
    return static_cast<long double>(t) > v ? t - 1 : t;
}

inline int64_t CeilToInt(long double v)
{
    if (!(std::fabs(v) < 0x1p62L))
        return static_cast<int64_t>(ceill(v));
    const auto t = static_cast<int64_t>(v);
    return static_cast<long double>(t) < v ? t + 1 : t;
}

// count raw lists for clip indices 0.. of the placement.
void BuildRawLists(const TPlacement& at, int64_t count, TStretchFilter filter, std::vector<TRawList>& raw)
{
    raw.resize(static_cast<size_t>(count));
    const TKernelEntry& entry = KernelTable[filter];
    float scale = at.Scale;
    const bool reducing = scale < 1.0f;
    const float oldScale = scale;
    float radius = entry.Radius;
    scale = F32(1.0L / scale);
    if (reducing)
        radius = F32(static_cast<long double>(radius) * scale);

    // Weights by the float x they come from: at a scale such as 10/3 the same
    // few hundred positions recur along the axis, and the kernels cost tens
    // of nanoseconds a value.
    constexpr size_t kMemoSize = 4096;
    std::vector<uint32_t> memoKey(kMemoSize, 0xFFFFFFFFu);
    std::vector<int32_t> memoWeight(kMemoSize, 0);
    const auto weightAt = [&](float x) {
        uint32_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        const size_t slot = (bits * 0x9E3779B1u) >> 20;
        if (memoKey[slot] == bits)
            return memoWeight[slot];
        const long double factor = reducing ? 256.0L * oldScale : 256.0L;
        const auto w = static_cast<int32_t>(RoundHalfEven(static_cast<long double>(entry.Kernel(x)) * factor));
        memoKey[slot] = bits;
        memoWeight[slot] = w;
        return w;
    };

    for (int64_t i = 0; i < count; ++i) {
        TRawList& list = raw[static_cast<size_t>(i)];
        const float center = F32((static_cast<long double>(i) + at.Offset + 0.5L) * scale + at.SrcLo - 0.5L);
        const int64_t lo = FloorToInt(static_cast<long double>(center) - radius);
        const int64_t hi = CeilToInt(static_cast<long double>(center) + radius);
        int64_t sum = 0;
        list.Index.clear();
        list.Weight.clear();
        for (int64_t j = lo; j <= hi; ++j) {
            const float x = reducing ? F32((static_cast<long double>(center) - j) * oldScale)
                                     : F32(static_cast<long double>(center) - j);
            const int32_t w = weightAt(x);
            if (w != 0) {
                list.Index.push_back(j);
                list.Weight.push_back(w);
                sum += w;
            }
        }
        if (list.Index.empty()) {
            list.Index.push_back(static_cast<int64_t>(floorf(center)));
            list.Weight.push_back(256);
        } else {
            list.Weight[(list.Weight.size() - 1) / 2] -= static_cast<int32_t>(sum - 256);
        }
    }
}

// The first count raw lists with their indices folded into [srcLo, srcHi - 1].
std::vector<TContributionList> FoldLists(const std::vector<TRawList>& raw, int64_t count, int32_t srcLo,
                                         int32_t srcHi)
{
    std::vector<TContributionList> lists(static_cast<size_t>(count));
    for (size_t i = 0; i < lists.size(); ++i) {
        const TRawList& from = raw[i];
        TContributionList& list = lists[i];
        list.reserve(from.Index.size());
        for (size_t k = 0; k < from.Index.size(); ++k) {
            const int64_t j = from.Index[k];
            list.push_back({static_cast<int32_t>(j < srcLo ? srcLo : (j > srcHi - 1 ? srcHi - 1 : j)), from.Weight[k]});
        }
    }
    return lists;
}

// Checks the arguments; false when the lists are trivial (written to lists).
bool PlaceAxis(int32_t dstLo, int32_t dstHi, int32_t clipLo, int32_t clipHi, int32_t srcLo, int32_t srcHi,
               TStretchFilter filter, std::vector<TContributionList>& lists, TPlacement& at, int64_t& count)
{
    const int64_t srcW = int64_t(srcHi) - srcLo;
    const int64_t dstW = int64_t(dstHi) - dstLo;
    count = int64_t(clipHi) - clipLo;
    lists.clear();
    if (count <= 0)
        return false;
    if (srcW <= 0 || dstW <= 0 || filter > sfMitchell)
        throw ETransformError("Source rectangle is invalid");
    if (srcW == 1) {
        lists.assign(static_cast<size_t>(count), TContributionList{{srcLo, 256}});
        return false;
    }
    at = {F32(static_cast<long double>(dstW) / static_cast<long double>(srcW)), int64_t(clipLo) - dstLo, srcLo};
    return true;
}

} // namespace

std::vector<TContributionList> BuildContributions(int32_t dstLo, int32_t dstHi, int32_t clipLo, int32_t clipHi,
                                                  int32_t srcLo, int32_t srcHi, TStretchFilter filter)
{
    std::vector<TContributionList> lists;
    TPlacement at{};
    int64_t count = 0;
    if (!PlaceAxis(dstLo, dstHi, clipLo, clipHi, srcLo, srcHi, filter, lists, at, count))
        return lists;
    std::vector<TRawList> raw;
    BuildRawLists(at, count, filter, raw);
    return FoldLists(raw, count, srcLo, srcHi);
}

void BuildContributionsXY(const TRect& destRect, const TRect& clipRect, const TRect& sourceRect,
                          TStretchFilter filter, std::vector<TContributionList>& horizontal,
                          std::vector<TContributionList>& vertical)
{
    TPlacement across{}, down{};
    int64_t width = 0, height = 0;
    const bool h = PlaceAxis(destRect.Left, destRect.Right, clipRect.Left, clipRect.Right, sourceRect.Left,
                             sourceRect.Right, filter, horizontal, across, width);
    const bool v = PlaceAxis(destRect.Top, destRect.Bottom, clipRect.Top, clipRect.Bottom, sourceRect.Top,
                             sourceRect.Bottom, filter, vertical, down, height);
    std::vector<TRawList> raw;
    if (h && v && across == down) {
        // A proportional picture: the rows' weights are the first columns'.
        BuildRawLists(across, std::max(width, height), filter, raw);
        horizontal = FoldLists(raw, width, sourceRect.Left, sourceRect.Right);
        vertical = FoldLists(raw, height, sourceRect.Top, sourceRect.Bottom);
        return;
    }
    if (h) {
        BuildRawLists(across, width, filter, raw);
        horizontal = FoldLists(raw, width, sourceRect.Left, sourceRect.Right);
    }
    if (v) {
        BuildRawLists(down, height, filter, raw);
        vertical = FoldLists(raw, height, sourceRect.Top, sourceRect.Bottom);
    }
}

} // namespace palvex
