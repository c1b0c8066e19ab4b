// The embedded version record is 16 bytes of marker, the four numbers as 16-bit
// little-endian values, and the same 8 bytes inverted as a check.
#include "framework/KVFileVersion.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/SystemInfo.h"

namespace palvex {

namespace {

constexpr size_t kMarkerSize = 16;
constexpr size_t kRecordSize = 32;

// The marker is kept shifted by one and restored at run time, so that the code
// that searches for it never contains it and cannot be taken for a record.
constexpr unsigned char kShiftedMarker[kMarkerSize] = {'Q', 'B', 'M', 'W', 'F', 'Y', '.', 'W', 'F',
                                                       'S', 'T', 'J', 'P', 'O', '.', '2'};
volatile unsigned char g_markerShift = 1;

std::string Marker()
{
    std::string marker(kMarkerSize, '\0');
    for (size_t i = 0; i < kMarkerSize; ++i)
        marker[i] = static_cast<char>(kShiftedMarker[i] - g_markerShift);
    return marker;
}

bool DecodeRecord(const unsigned char* p, int numbers[4])
{
    for (size_t i = 0; i < 8; ++i)
        if (static_cast<unsigned char>(~p[kMarkerSize + i]) != p[kMarkerSize + 8 + i])
            return false;
    for (int i = 0; i < 4; ++i)
        numbers[i] = p[kMarkerSize + 2 * i] | (p[kMarkerSize + 2 * i + 1] << 8);
    return true;
}

bool FindRecord(const std::string& fileName, int numbers[4])
{
    std::FILE* file = std::fopen(fileName.c_str(), "rb");
    if (!file)
        return false;
    const std::string marker = Marker();
    constexpr size_t kChunk = 1 << 20;
    // Each read keeps the last record's worth of bytes, so a record across two reads is found.
    std::vector<unsigned char> buffer(kChunk + kRecordSize);
    size_t kept = 0;
    bool found = false;
    for (;;) {
        const size_t got = std::fread(buffer.data() + kept, 1, kChunk, file);
        const size_t size = kept + got;
        for (size_t i = 0; !found && i + kRecordSize <= size; ++i)
            found = buffer[i] == static_cast<unsigned char>(marker[0]) &&
                    std::memcmp(buffer.data() + i, marker.data(), kMarkerSize) == 0 &&
                    DecodeRecord(buffer.data() + i, numbers);
        if (found || got == 0)
            break;
        kept = size < kRecordSize - 1 ? size : kRecordSize - 1;
        std::memmove(buffer.data(), buffer.data() + size - kept, kept);
    }
    std::fclose(file);
    return found;
}

} // namespace

std::string EncodeVersionRecord(int major, int minor, int release, int build)
{
    std::string record = Marker();
    const int numbers[4] = {major, minor, release, build};
    std::string bytes;
    for (const int n : numbers) {
        bytes += static_cast<char>(n & 0xFF);
        bytes += static_cast<char>((n >> 8) & 0xFF);
    }
    record += bytes;
    for (const char c : bytes)
        record += static_cast<char>(~static_cast<unsigned char>(c));
    return record;
}

bool ReadVersionNumbers(const std::string& fileName, int* major, int* minor, int* release, int* build)
{
    int numbers[4] = {};
    // Windows programs carry a version resource, the others the embedded record.
    if (!ReadVersionResource(fileName, numbers) && !FindRecord(fileName, numbers))
        return false;
    if (major)
        *major = numbers[0];
    if (minor)
        *minor = numbers[1];
    if (release)
        *release = numbers[2];
    if (build)
        *build = numbers[3];
    return true;
}

bool TFileVersion::LoadFromFile(const std::string& fileName)
{
    int major = 0, minor = 0, release = 0, build = 0;
    if (!ReadVersionNumbers(fileName, &major, &minor, &release, &build)) {
        Clear();
        return false;
    }
    m_major = major;
    m_minor = minor;
    m_release = release;
    m_build = build;
    m_versionText = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(release);
    return true;
}

void TFileVersion::Clear()
{
    m_versionText.clear();
    m_major = m_minor = m_release = m_build = 0;
}

} // namespace palvex
