// Decodes every sample of a corpus folder with our reader and with ImageMagick
// and compares them; files either side refuses are reported, not compared.
#pragma once

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "DecoderTestUtil.h"
#include "TestMain.h"

namespace palvex::test {

struct CorpusExpectations {
    std::set<std::string> Extensions;            // which files of the folder
    std::map<std::string, int> Tolerance;        // per file; default DefaultTolerance
    int DefaultTolerance = 0;
    std::map<std::string, std::string> Refused;  // file -> our exact message
    std::set<std::string> NoAlphaCompare;        // alpha left out of the comparison
    std::set<std::string> Skip;                  // ImageMagick reads these wrongly
    bool CompareAlpha = true;
    std::string MagickOptions;                   // e.g. "-auto-orient"
};

// Where the first differing pixel lies, for the failure text.
inline std::string FirstDifference(const TBitmap32& ours, const MagickPicture& magick, bool alpha)
{
    if (magick.RGBA.size() != ours.PixelCount() * 4)
        return "sizes differ";
    for (size_t i = 0; i < ours.PixelCount(); ++i) {
        const TColor32 c = ours.PixelData()[i];
        const uint8_t* m = &magick.RGBA[4 * i];
        const int o[4] = {int(RedComponent(c)), int(GreenComponent(c)), int(BlueComponent(c)), int(AlphaComponent(c))};
        for (int k = 0; k < (alpha ? 4 : 3); ++k)
            if (std::abs(o[k] - m[k]) > 0)
                return "pixel " + std::to_string(i % ours.Width()) + "," + std::to_string(i / ours.Width()) +
                       ": ours " + std::to_string(o[0]) + " " + std::to_string(o[1]) + " " + std::to_string(o[2]) +
                       " " + std::to_string(o[3]) + ", ImageMagick " + std::to_string(m[0]) + " " +
                       std::to_string(m[1]) + " " + std::to_string(m[2]) + " " + std::to_string(m[3]);
    }
    return "";
}

// Returns the number of files compared pixel for pixel.
// The message a decode of bytes ends with, or "" when it gives a picture.
inline std::string DecodeFailure(const std::string& extension, const std::vector<uint8_t>& bytes)
{
    try {
        TBitmap32 out;
        DecodeBytes(extension, bytes, out);
    } catch (const Exception& e) {
        return e.what();
    }
    return "";
}

// Cuts every sample of a folder at a few lengths and flips its header bytes.
inline void SweepCorpusFolder(const std::string& folder, const std::set<std::string>& extensions, size_t maxBytes,
                              size_t cuts = 24)
{
    for (const auto& entry : std::filesystem::directory_iterator(DataDir() / folder)) {
        const std::string ext = entry.path().extension().string();
        if (ext.size() < 2 || !extensions.count(ext.substr(1)) || entry.file_size() > maxBytes)
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        const std::vector<uint8_t> bytes = ReadFileBytes(entry.path());
        MutationSweep(ext.substr(1), bytes, 32, std::max<size_t>(1, bytes.size() / cuts));
    }
}

inline int CompareCorpusFolder(const std::string& folder, const CorpusExpectations& expect)
{
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(DataDir() / folder)) {
        const std::string name = entry.path().filename().string();
        std::string ext = entry.path().extension().string();
        if (ext.empty())
            continue;
        ext = ext.substr(1);
        if (!expect.Extensions.count(ext) || expect.Skip.count(name))
            continue;
        SCOPED_TRACE(name);
        TBitmap32 ours;
        std::string failure;
        try {
            DecodeBytes(ext, ReadFileBytes(entry.path()), ours);
        } catch (const Exception& e) {
            failure = e.what();
        }
        const auto refused = expect.Refused.find(name);
        if (refused != expect.Refused.end()) {
            EXPECT_EQ(failure, refused->second);
            continue;
        }
        const MagickPicture magick = MagickDecode(entry.path(), expect.MagickOptions);
        if (!failure.empty()) {
            EXPECT_EQ(magick.Width, 0) << "we refuse with \"" << failure << "\", ImageMagick reads it";
            continue;
        }
        if (magick.Width == 0)
            continue; // only we read it: nothing to compare with
        const auto tol = expect.Tolerance.find(name);
        const int allowed = tol != expect.Tolerance.end() ? tol->second : expect.DefaultTolerance;
        const bool alpha = expect.CompareAlpha && !expect.NoAlphaCompare.count(name);
        const int diff = MaxChannelDifference(ours, magick, alpha);
        EXPECT_GE(diff, 0) << "size " << ours.Width() << "x" << ours.Height() << " vs " << magick.Width << "x"
                           << magick.Height;
        EXPECT_LE(diff, allowed) << FirstDifference(ours, magick, alpha);
        ++compared;
    }
    return compared;
}

} // namespace palvex::test
