// Rectangles with exclusive Right and Bottom.
#pragma once

#include <algorithm>
#include <cstdint>

namespace palvex {

struct TRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;

    constexpr int32_t Width() const { return Right - Left; }
    constexpr int32_t Height() const { return Bottom - Top; }
    constexpr bool operator==(const TRect&) const = default;
};

inline constexpr TRect MakeRect(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    return TRect{left, top, right, bottom};
}

inline constexpr bool IsRectEmpty(const TRect& r)
{
    return r.Right <= r.Left || r.Bottom <= r.Top;
}

// The larger Left and Top, the smaller Right and Bottom; an inverted result
// becomes (0, 0, 0, 0).
inline constexpr TRect IntersectRect(const TRect& a, const TRect& b)
{
    TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
            std::min(a.Bottom, b.Bottom)};
    if (r.Right < r.Left || r.Bottom < r.Top)
        r = TRect{};
    return r;
}

} // namespace palvex
