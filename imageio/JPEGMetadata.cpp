#include "imageio/JPEGMetadata.h"

#include <array>
#include <cstring>

#include "imageio/ByteReader.h"
#include "imageio/ColorProfile.h"
#include "imageio/Exif.h"
#include "platform/Errors.h"

namespace palvex {

namespace {

constexpr uint8_t kSOI = 0xD8;
constexpr uint8_t kEOI = 0xD9;
constexpr uint8_t kSOS = 0xDA;
constexpr uint8_t kAPP1 = 0xE1;
constexpr uint8_t kAPP2 = 0xE2;
constexpr uint8_t kTEM = 0x01;
constexpr char kICCTag[] = "ICC_PROFILE"; // with its zero: 12 bytes
constexpr size_t kICCHeader = sizeof kICCTag + 2; // and the chunk's number and count

bool Standalone(uint8_t marker)
{
    return marker == kTEM || (marker >= 0xD0 && marker <= 0xD7);
}

// The profile's chunks as they come; the profile once every one is in.
class TICCChunks {
public:
    void Add(uint8_t number, uint8_t count, std::span<const uint8_t> data)
    {
        if (m_broken)
            return;
        if (number == 0 || count == 0 || number > count || (m_count != 0 && count != m_count) ||
            !m_chunks[number - 1].empty() || data.empty()) {
            m_broken = true;
            return;
        }
        m_count = count;
        m_chunks[number - 1].assign(data.begin(), data.end());
    }

    std::vector<uint8_t> Profile() const
    {
        std::vector<uint8_t> profile;
        if (m_broken || m_count == 0)
            return profile;
        size_t size = 0;
        for (size_t i = 0; i < m_count; ++i) {
            if (m_chunks[i].empty())
                return profile;
            size += m_chunks[i].size();
        }
        if (size > kMaxColorProfileBytes)
            return profile;
        profile.reserve(size);
        for (size_t i = 0; i < m_count; ++i)
            profile.insert(profile.end(), m_chunks[i].begin(), m_chunks[i].end());
        return profile;
    }

private:
    std::array<std::vector<uint8_t>, 255> m_chunks;
    uint8_t m_count = 0;
    bool m_broken = false;
};

} // namespace

TJPEGMetadata ReadJPEGMetadata(TByteReader& in)
{
    TJPEGMetadata result;
    TICCChunks chunks;
    bool exifSeen = false;
    try {
        in.Seek(0);
        if (in.U8() != 0xFF || in.U8() != kSOI)
            return result;
        for (;;) {
            if (in.U8() != 0xFF)
                break; // not a marker: libjpeg will say what it makes of it
            uint8_t marker = in.U8();
            while (marker == 0xFF) // fill bytes
                marker = in.U8();
            if (marker == kSOS || marker == kEOI)
                break;
            if (Standalone(marker))
                continue;
            const uint16_t length = in.U16BE();
            if (length < 2)
                break;
            const size_t size = length - 2u;
            if (marker == kAPP1 && !exifSeen && size >= 6) {
                const std::span<const uint8_t> payload = in.Bytes(size);
                if (std::memcmp(payload.data(), "Exif\0\0", 6) == 0) {
                    // Only the first EXIF segment counts, as everywhere.
                    exifSeen = true;
                    result.Orientation = ExifOrientationOfApp1(payload);
                }
            } else if (marker == kAPP2 && size > kICCHeader) {
                const std::span<const uint8_t> payload = in.Bytes(size);
                if (std::memcmp(payload.data(), kICCTag, sizeof kICCTag) == 0)
                    chunks.Add(payload[sizeof kICCTag], payload[sizeof kICCTag + 1], payload.subspan(kICCHeader));
            } else {
                in.Skip(size);
            }
        }
    } catch (const Exception&) {
        // Cut short: what was found so far.
    }
    result.ColorProfile = chunks.Profile();
    return result;
}

} // namespace palvex
