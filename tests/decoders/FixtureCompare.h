// The reader tests' fixtures in tests/data, and decodings of them by programs
// other than ImageMagick (converted to PNG, then read through ImageMagick).
#pragma once

#include <cstdlib>

#include "CorpusCompare.h"

namespace palvex::test {

inline bool ToolInstalled(const std::string& program)
{
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs command with %IN% and %OUT% replaced by the file and a temporary PNG,
// then reads the PNG; an empty picture when the command fails.
inline MagickPicture ToolDecode(std::string command, const std::filesystem::path& file)
{
    TempDir dir;
    const std::filesystem::path png = dir.Path() / "out.png";
    command.replace(command.find("%IN%"), 4, "'" + file.string() + "'");
    command.replace(command.find("%OUT%"), 5, "'" + png.string() + "'");
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0 || !std::filesystem::exists(png))
        return {};
    return MagickDecode(png);
}

// Every fixture of folder with one of extensions, with its path.
inline std::vector<std::filesystem::path> Fixtures(const std::string& folder, const std::set<std::string>& extensions)
{
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(DataDir() / folder)) {
        const std::string ext = entry.path().extension().string();
        if (ext.size() > 1 && extensions.count(ext.substr(1)))
            found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Our decoding of each fixture against reference(path); files both refuse
// are skipped, a file only one side reads fails. Colour under alpha below 255
// is compared only with straightColour (some tools store it premultiplied).
// Returns the files compared.
template <typename Reference>
int CompareFixtures(const std::vector<std::filesystem::path>& files, Reference reference,
                    const std::map<std::string, int>& tolerance = {}, bool straightColour = true)
{
    int compared = 0;
    for (const auto& path : files) {
        const std::string name = path.filename().string();
        SCOPED_TRACE(name);
        TBitmap32 ours;
        std::string failure;
        try {
            DecodeBytes(path.extension().string().substr(1), ReadFileBytes(path), ours);
        } catch (const Exception& e) {
            failure = e.what();
        }
        MagickPicture theirs = reference(path);
        if (!straightColour && theirs.RGBA.size() == ours.PixelCount() * 4)
            for (size_t i = 0; i < ours.PixelCount(); ++i)
                if (theirs.RGBA[4 * i + 3] != 255)
                    for (int c = 0; c < 3; ++c)
                        theirs.RGBA[4 * i + size_t(c)] = uint8_t(ours.PixelData()[i] >> (16 - 8 * c));
        if (!failure.empty() || theirs.Width == 0) {
            EXPECT_EQ(failure.empty(), theirs.Width != 0) << failure;
            continue;
        }
        const auto allowed = tolerance.find(name);
        EXPECT_LE(MaxChannelDifference(ours, theirs, true), allowed == tolerance.end() ? 0 : allowed->second)
            << FirstDifference(ours, theirs, true);
        EXPECT_GE(MaxChannelDifference(ours, theirs, true), 0);
        ++compared;
    }
    return compared;
}

// Each fixture cut at a few lengths and with its header bytes flipped.
inline void SweepFixtures(const std::vector<std::filesystem::path>& files, size_t headerBytes = 32, size_t cuts = 24)
{
    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        const std::vector<uint8_t> bytes = ReadFileBytes(path);
        MutationSweep(path.extension().string().substr(1), bytes, headerBytes,
                      std::max<size_t>(1, bytes.size() / cuts));
    }
}

// Little- and big-endian writers for building files in tests.
inline void PutLE(std::vector<uint8_t>& b, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}
inline void PutBE(std::vector<uint8_t>& b, uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        b.push_back(uint8_t(v >> (8 * i)));
}

inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

} // namespace palvex::test
