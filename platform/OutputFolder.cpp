#include "platform/OutputFolder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/UpperCase.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace palvex {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPartialPrefix = ".palvex-";
constexpr std::string_view kPartialSuffix = ".part";
constexpr size_t kPartialDigits = 16;

std::string NewPartialName()
{
    thread_local std::mt19937_64 generator{(uint64_t(std::random_device{}()) << 32) ^ std::random_device{}()};
    char digits[kPartialDigits + 1];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(generator()));
    return std::string(kPartialPrefix) + digits + std::string(kPartialSuffix);
}

#ifdef _WIN32
std::wstring Native(const std::string& path)
{
    return fs::path(std::u8string(path.begin(), path.end())).wstring();
}
#endif

// A new file, never an existing one; -1 with errno set.
int CreateNew(const std::string& path)
{
#ifdef _WIN32
    return ::_wopen(Native(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                    _S_IREAD | _S_IWRITE);
#else
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
}

// 0 when every byte is on the disk, else the errno of the failure.
int WriteAndFlush(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const unsigned chunk = static_cast<unsigned>(std::min<size_t>(size, 1u << 30));
#ifdef _WIN32
        const int n = ::_write(fd, data, chunk);
#else
        const ssize_t n = ::write(fd, data, chunk);
#endif
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        data += n;
        size -= static_cast<size_t>(n);
    }
#ifdef _WIN32
    return ::_commit(fd) == 0 ? 0 : errno;
#else
    return ::fsync(fd) == 0 ? 0 : errno;
#endif
}

void CloseFile(int fd)
{
#ifdef _WIN32
    ::_close(fd);
#else
    ::close(fd);
#endif
}

void RemoveFile(const std::string& path)
{
#ifdef _WIN32
    ::DeleteFileW(Native(path).c_str());
#else
    ::unlink(path.c_str());
#endif
}

// Gives from the name to, which must be free. 0 when done, else an errno:
// EEXIST when to is taken, ENOTSUP when the file system has no way but the
// in-place write (naming is then InPlace).
int NameWithoutReplacing(TOutputFolder::TNaming& naming, const std::string& from, const std::string& to)
{
#ifdef _WIN32
    (void)naming;
    if (::MoveFileExW(Native(from).c_str(), Native(to).c_str(), MOVEFILE_WRITE_THROUGH))
        return 0;
    switch (::GetLastError()) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    default:
        return EIO;
    }
#else
    using TNaming = TOutputFolder::TNaming;
    if (naming == TNaming::Rename) {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return 0;
        if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
            return errno;
        naming = TNaming::Link;
    }
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (errno != EPERM && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    naming = TNaming::InPlace;
    return ENOTSUP;
#endif
}

// Removes a partial file whose run is gone: a live run holds a lock on its
// own until the file has its name. True when it was removed.
bool RemoveIfAbandoned(const std::string& path)
{
#ifdef _WIN32
    // A live run has it open, which makes the removal fail.
    return ::DeleteFileW(Native(path).c_str()) != 0;
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    const bool removed = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                         ::unlink(path.c_str()) == 0;
    ::close(fd);
    return removed;
#endif
}

} // namespace

bool IsPartialFileName(std::string_view name)
{
    if (name.size() != kPartialPrefix.size() + kPartialDigits + kPartialSuffix.size() ||
        !name.starts_with(kPartialPrefix) || !name.ends_with(kPartialSuffix))
        return false;
    for (const char c : name.substr(kPartialPrefix.size(), kPartialDigits))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

TOutputFolder::TOutputFolder(std::string folder, fs::file_time_type runStart, TNaming naming)
    : m_folder(std::move(folder)), m_naming(naming)
{
    std::string_view base = m_folder;
    if (!base.empty() && IsPathDelimiter(base.back()))
        base.remove_suffix(1);
    m_prefix = std::string(base) + kPathDelimiter;

    std::error_code ec;
    fs::directory_iterator it(m_prefix, ec);
    if (ec)
        return;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec)
            break;
        const std::string name = it->path().filename().string();
        if (IsPartialFileName(name)) {
            std::error_code timeError;
            const fs::file_time_type written = it->last_write_time(timeError);
            if (!timeError && written < runStart && RemoveIfAbandoned(m_prefix + name))
                continue;
        }
        m_names.insert(UpperCase(name));
    }
}

std::string TOutputFolder::PathOf(std::string_view name) const
{
    return m_prefix + std::string(name);
}

bool TOutputFolder::Holds(std::string_view name) const
{
    return m_names.count(UpperCase(name)) != 0;
}

bool TOutputFolder::Publish(std::string_view name, const uint8_t* data, size_t size)
{
    const std::string path = PathOf(name);
    const bool named = m_naming == TNaming::InPlace ? PublishInPlace(path, data, size)
                                                    : PublishThroughPartial(path, data, size);
    // Ours now, or another program's: either way no longer free.
    m_names.insert(UpperCase(name));
    m_published = m_published || named;
    return named;
}

bool TOutputFolder::PublishThroughPartial(const std::string& path, const uint8_t* data, size_t size)
{
    // A run that starts meanwhile may take a partial file for abandoned in the
    // moment before it is locked; the name then fails with ENOENT: write again.
    for (int attempt = 0;; ++attempt) {
        std::string partial;
        int fd = -1;
        do {
            partial = m_prefix + NewPartialName();
            fd = CreateNew(partial);
        } while (fd < 0 && errno == EEXIST);
        if (fd < 0)
            throw EFCreateError(Format(kSFCreateError, path.c_str(), SystemErrorText(errno).c_str()));
#ifndef _WIN32
        ::flock(fd, LOCK_EX);
#endif
        int error = WriteAndFlush(fd, data, size);
        if (error != 0) {
            CloseFile(fd);
            RemoveFile(partial);
            throw EWriteError(Format(kSFWriteError, path.c_str(), SystemErrorText(error).c_str()));
        }
#ifdef _WIN32
        CloseFile(fd); // an open file cannot be renamed there
        error = NameWithoutReplacing(m_naming, partial, path);
#else
        error = NameWithoutReplacing(m_naming, partial, path);
        CloseFile(fd); // the bytes were flushed: nothing left for close to report
#endif
        if (error == 0)
            return true;
        RemoveFile(partial);
        if (error == EEXIST)
            return false;
        if (m_naming == TNaming::InPlace)
            return PublishInPlace(path, data, size);
        if (error == ENOENT && attempt < 2)
            continue;
        throw EFCreateError(Format(kSFCreateError, path.c_str(), SystemErrorText(error).c_str()));
    }
}

bool TOutputFolder::PublishInPlace(const std::string& path, const uint8_t* data, size_t size)
{
    const int fd = CreateNew(path);
    if (fd < 0 && errno == EEXIST)
        return false;
    if (fd < 0)
        throw EFCreateError(Format(kSFCreateError, path.c_str(), SystemErrorText(errno).c_str()));
    const int error = WriteAndFlush(fd, data, size);
    CloseFile(fd);
    if (error != 0) {
        RemoveFile(path);
        throw EWriteError(Format(kSFWriteError, path.c_str(), SystemErrorText(error).c_str()));
    }
    return true;
}

void TOutputFolder::Sync() noexcept
{
#ifndef _WIN32
    if (!m_published)
        return;
    const int fd = ::open(m_prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#endif
}

} // namespace palvex
