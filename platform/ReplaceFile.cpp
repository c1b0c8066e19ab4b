#include "platform/ReplaceFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace palvex {

namespace {

constexpr std::string_view kTemporaryMark = ".tmp-";
constexpr size_t kTemporaryTail = 6; // mkstemp's XXXXXX
#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of(kSeparators);
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    const size_t slash = path.find_last_of(kSeparators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

bool IsTemporaryNameOf(std::string_view entryName, std::string_view fileName)
{
    const size_t stem = 1 + fileName.size() + kTemporaryMark.size();
    return entryName.size() == stem + kTemporaryTail && entryName.front() == '.' &&
           entryName.substr(1, fileName.size()) == fileName &&
           entryName.substr(1 + fileName.size(), kTemporaryMark.size()) == kTemporaryMark;
}

#ifndef _WIN32

std::string FollowFileLinks(const std::string& path)
{
    std::string current = path;
    // The kernel's own limit on links followed in one lookup.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size())
            return current;
        target.resize(static_cast<size_t>(n));
        current = target.front() == '/' ? target : FolderOf(current) + "/" + target;
        // Said the way people write it, without the ".." of a relative link.
        if (char* folder = ::realpath(FolderOf(current).c_str(), nullptr)) {
            current = std::string(folder) + (folder[1] ? "/" : "") + NameOf(current);
            std::free(folder);
        }
    }
    return current;
}

int ReplaceFileContents(const std::string& path, std::string_view bytes, unsigned mode, TFlush flush)
{
    const std::string target = FollowFileLinks(path);
    const std::string folder = FolderOf(target);
    std::string temp = folder + "/." + NameOf(target) + std::string(kTemporaryMark) + "XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        ::fchmod(fd, old.st_mode & 07777);
        // A privileged writer must not take a person's file away from them.
        if (::geteuid() == 0)
            (void)::fchown(fd, old.st_uid, old.st_gid);
    } else {
        ::fchmod(fd, mode);
    }
    int error = 0;
    size_t done = 0;
    while (done < bytes.size() && error == 0) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            error = n < 0 ? errno : EIO;
        else
            done += static_cast<size_t>(n);
    }
    if (error == 0 && flush != TFlush::Nothing && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return error;
    }
    if (flush != TFlush::Everything)
        return 0;
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return 0;
}

void FlushFileSystems(const std::vector<std::string>& paths)
{
    std::vector<dev_t> flushed;
    for (const std::string& path : paths) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || std::find(flushed.begin(), flushed.end(), st.st_dev) != flushed.end())
            continue;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::syncfs(fd);
            ::close(fd);
            flushed.push_back(st.st_dev);
        }
    }
}

void RemoveLeftoverTemporaries(const std::string& path)
{
    const std::string target = FollowFileLinks(path);
    const std::string folder = FolderOf(target);
    const std::string name = NameOf(target);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir))
        if (IsTemporaryNameOf(entry->d_name, name))
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    ::closedir(dir);
}

#else

std::string FollowFileLinks(const std::string& path) { return path; }

int ReplaceFileContents(const std::string& path, std::string_view bytes, unsigned, TFlush)
{
    const std::string temp = FolderOf(path) + "/." + NameOf(path) + std::string(kTemporaryMark) + "000000";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush())
            return EIO;
    }
    std::error_code error;
    std::filesystem::rename(temp, path, error);
    if (error) {
        std::filesystem::remove(temp, error);
        return EIO;
    }
    return 0;
}

void FlushFileSystems(const std::vector<std::string>&) {}

void RemoveLeftoverTemporaries(const std::string& path)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(FolderOf(path), error))
        if (IsTemporaryNameOf(entry.path().filename().string(), NameOf(path)))
            std::filesystem::remove(entry.path(), error);
}

#endif

} // namespace palvex
