// File search with attributes, the wildcard match behind it, and path parts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace palvex {

// Attribute bits of a found entry, as the Windows file search reports them.
inline constexpr uint32_t faReadOnly = 0x01;
inline constexpr uint32_t faHidden = 0x02;
inline constexpr uint32_t faSysFile = 0x04;
inline constexpr uint32_t faVolumeID = 0x08;
inline constexpr uint32_t faDirectory = 0x10;
inline constexpr uint32_t faArchive = 0x20;
inline constexpr uint32_t faSymLink = 0x400;
// Sockets, FIFOs and device files: never a picture, never opened.
inline constexpr uint32_t faDevice = 0x40;
// The bits a plain file or folder may carry.
inline constexpr uint32_t faCommon = faReadOnly | faHidden | faSysFile | faVolumeID | faDirectory | faArchive;

struct TSearchRec {
    std::string Name; // without the folder
    int64_t Size = 0;
    uint32_t Attr = 0;
};

// "*" any run of characters, "?" any one character; letters compare without
// regard to case (the framework's upper-casing).
bool MatchesWildcard(std::string_view name, std::string_view pattern);

// Every entry of folder whose name matches pattern, "." and ".." left out,
// sorted by name so that listings repeat. A missing folder gives none.
std::vector<TSearchRec> FindFiles(const std::string& folder, std::string_view pattern);

inline constexpr const char* kSFolderOpenError = "Cannot open folder \"%s\". %s";

// FindFiles of a folder that must be there: one that does not exist, is not a
// folder or cannot be read raises EFOpenError "Cannot open folder ...", so
// that a run over it is no silent empty run.
std::vector<TSearchRec> ListFolder(const std::string& folder, std::string_view pattern);

// The path up to its last path delimiter (not included); empty when there is none.
std::string ExtractFileDir(std::string_view path);
// The path after its last path delimiter.
std::string ExtractFileName(std::string_view path);
bool IsPathDelimiter(char c);
inline constexpr char kPathDelimiter =
#ifdef _WIN32
    '\\';
#else
    '/';
#endif

} // namespace palvex
