// KVFileVersion: the four version numbers of a program file. On Windows they come
// from the version resource; elsewhere from the version record the build embeds
// in every executable (cmake/Version.cmake).
#pragma once

#include <string>

namespace palvex {

class TFileVersion {
public:
    TFileVersion() = default;

    // True when the file has version numbers; otherwise everything is cleared.
    bool LoadFromFile(const std::string& fileName);
    void Clear();

    const std::string& VersionText() const { return m_versionText; }
    int Major() const { return m_major; }
    int Minor() const { return m_minor; }
    int Release() const { return m_release; }
    int Build() const { return m_build; }

private:
    std::string m_versionText;
    int m_major = 0;
    int m_minor = 0;
    int m_release = 0;
    int m_build = 0;
};

// Each destination may be null. False when the file has no version numbers or cannot be read.
bool ReadVersionNumbers(const std::string& fileName, int* major, int* minor, int* release, int* build);

// The 32 bytes of the embedded version record, as the build writes them.
std::string EncodeVersionRecord(int major, int minor, int release, int build);

} // namespace palvex
