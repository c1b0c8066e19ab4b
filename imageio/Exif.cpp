#include "imageio/Exif.h"

#include <cstring>

namespace palvex {

namespace {

constexpr uint16_t kOrientationTag = 274;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;
constexpr size_t kEntryBytes = 12;

struct TTiffBytes {
    std::span<const uint8_t> Data;
    bool BigEndian;

    uint16_t U16(size_t at) const
    {
        const uint8_t* p = Data.data() + at;
        return BigEndian ? uint16_t((p[0] << 8) | p[1]) : uint16_t(p[0] | (p[1] << 8));
    }
    uint32_t U32(size_t at) const
    {
        const uint8_t* p = Data.data() + at;
        return BigEndian ? (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]
                         : uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    }
};

} // namespace

uint16_t ExifOrientation(std::span<const uint8_t> tiff)
{
    if (tiff.size() < 8)
        return kOrientationUpright;
    TTiffBytes in{tiff, false};
    if (tiff[0] == 'M' && tiff[1] == 'M')
        in.BigEndian = true;
    else if (tiff[0] != 'I' || tiff[1] != 'I')
        return kOrientationUpright;
    if (in.U16(2) != 42)
        return kOrientationUpright;
    const uint32_t ifd = in.U32(4);
    if (ifd < 8 || ifd > tiff.size() - 2)
        return kOrientationUpright;
    const uint16_t entries = in.U16(ifd);
    // Only the entries the bytes hold are looked at.
    const size_t fit = (tiff.size() - ifd - 2) / kEntryBytes;
    for (size_t i = 0; i < entries && i < fit; ++i) {
        const size_t at = ifd + 2 + i * kEntryBytes;
        if (in.U16(at) != kOrientationTag)
            continue;
        const uint16_t type = in.U16(at + 2);
        if (in.U32(at + 4) != 1)
            return kOrientationUpright;
        // A value that fits four bytes sits in the entry, left-justified.
        uint32_t value = 0;
        if (type == kTypeShort)
            value = in.U16(at + 8);
        else if (type == kTypeLong)
            value = in.U32(at + 8);
        return value >= 1 && value <= 8 ? uint16_t(value) : kOrientationUpright;
    }
    return kOrientationUpright;
}

namespace {
const uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};

bool StartsWithExifHeader(std::span<const uint8_t> bytes)
{
    return bytes.size() >= sizeof kExifHeader && std::memcmp(bytes.data(), kExifHeader, sizeof kExifHeader) == 0;
}
} // namespace

uint16_t ExifOrientationOfApp1(std::span<const uint8_t> payload)
{
    if (!StartsWithExifHeader(payload))
        return kOrientationUpright;
    return ExifOrientation(payload.subspan(sizeof kExifHeader));
}

uint16_t ExifOrientationOfBlock(std::span<const uint8_t> block)
{
    return ExifOrientation(StartsWithExifHeader(block) ? block.subspan(sizeof kExifHeader) : block);
}

} // namespace palvex
