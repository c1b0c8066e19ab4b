#include "platform/Files.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/Errors.h"
#include "platform/UpperCase.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace palvex {

namespace fs = std::filesystem;

namespace {

// Length of the UTF-8 sequence that starts at text[i], at least 1.
size_t SequenceLength(std::string_view text, size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    length = std::min(length, text.size() - i);
    for (size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
            return k;
    }
    return length;
}

bool MatchFrom(std::string_view name, std::string_view pattern)
{
    // Iterative match with one backtrack point: linear in practice, never recursive.
    size_t n = 0, p = 0;
    size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            n += SequenceLength(name, n);
            ++p;
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++n;
            ++p;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            starN += SequenceLength(name, starN);
            n = starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

uint32_t AttributesOf(const fs::directory_entry& entry, const std::string& name)
{
    std::error_code ec;
    const fs::file_status link = entry.symlink_status(ec);
    fs::file_status status = entry.status(ec);
    if (ec)
        status = link; // a dangling link: judge the link itself
    uint32_t attr = 0;
    switch (status.type()) {
    case fs::file_type::directory:
        attr |= faDirectory;
        break;
    case fs::file_type::regular:
        attr |= faArchive;
        break;
    case fs::file_type::symlink:
        attr |= faSymLink;
        break;
    default:
        attr |= faDevice;
        break;
    }
    if (!name.empty() && name[0] == '.')
        attr |= faHidden;
#ifndef _WIN32
    if (::access(entry.path().c_str(), W_OK) != 0 && errno == EACCES)
        attr |= faReadOnly;
#else
    if ((status.permissions() & fs::perms::owner_write) == fs::perms::none)
        attr |= faReadOnly;
#endif
    return attr;
}

} // namespace

bool IsPathDelimiter(char c)
{
#ifdef _WIN32
    return c == '\\' || c == '/' || c == ':';
#else
    return c == '/';
#endif
}

std::string ExtractFileDir(std::string_view path)
{
    for (size_t i = path.size(); i > 0; --i) {
        if (IsPathDelimiter(path[i - 1]))
            return std::string(path.substr(0, i - 1));
    }
    return {};
}

std::string ExtractFileName(std::string_view path)
{
    for (size_t i = path.size(); i > 0; --i) {
        if (IsPathDelimiter(path[i - 1]))
            return std::string(path.substr(i));
    }
    return std::string(path);
}

bool MatchesWildcard(std::string_view name, std::string_view pattern)
{
    return MatchFrom(UpperCase(name), UpperCase(pattern));
}

namespace {

std::vector<TSearchRec> Search(const std::string& folder, std::string_view pattern, std::error_code& ec)
{
    std::vector<TSearchRec> found;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec);
    if (ec)
        return found;
    const std::string upperPattern = UpperCase(pattern);
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec)
            break;
        std::string name = it->path().filename().string();
        if (name == "." || name == ".." || !MatchFrom(UpperCase(name), upperPattern))
            continue;
        TSearchRec rec;
        rec.Attr = AttributesOf(*it, name);
        if (rec.Attr & faArchive) {
            std::error_code sizeError;
            const auto size = it->file_size(sizeError);
            rec.Size = sizeError ? 0 : static_cast<int64_t>(size);
        }
        rec.Name = std::move(name);
        found.push_back(std::move(rec));
    }
    std::sort(found.begin(), found.end(), [](const TSearchRec& a, const TSearchRec& b) { return a.Name < b.Name; });
    return found;
}

} // namespace

std::vector<TSearchRec> FindFiles(const std::string& folder, std::string_view pattern)
{
    std::error_code ignored;
    return Search(folder, pattern, ignored);
}

std::vector<TSearchRec> ListFolder(const std::string& folder, std::string_view pattern)
{
    std::error_code ec;
    std::vector<TSearchRec> found = Search(folder, pattern, ec);
    if (ec)
        throw EFOpenError(Format(kSFolderOpenError, folder.c_str(), ec.message().c_str()));
    return found;
}

} // namespace palvex
