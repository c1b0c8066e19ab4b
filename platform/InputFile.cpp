#include "platform/InputFile.h"

#include <algorithm>
#include <cerrno>

#include "platform/Errors.h"
#include "platform/FileTransfer.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace palvex {

namespace {

[[noreturn]] void OpenFailed(const std::string& fileName, int error)
{
    throw EFOpenError(Format(kSFOpenError, fileName.c_str(), SystemErrorText(error).c_str()));
}

} // namespace

#ifdef _WIN32

namespace {
std::wstring Widen(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(std::max(n, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}
} // namespace

TInputFile::TInputFile(const std::string& fileName) : m_fileName(fileName)
{
    HANDLE handle = CreateFileW(Widen(fileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        OpenFailed(fileName, ENOENT);
    LARGE_INTEGER size{};
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) {
        CloseHandle(handle);
        OpenFailed(fileName, EINVAL);
    }
    m_handle = handle;
    m_size = static_cast<uint64_t>(size.QuadPart);
}

TInputFile::~TInputFile()
{
    if (m_handle)
        CloseHandle(static_cast<HANDLE>(m_handle));
}

namespace {
size_t ReadHandleAt(HANDLE handle, uint64_t offset, void* buffer, size_t count)
{
    size_t done = 0;
    auto* p = static_cast<uint8_t*>(buffer);
    while (done < count) {
        OVERLAPPED at{};
        const uint64_t position = offset + done;
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
        if (!ReadFile(handle, p + done, want, &n, &at) || n == 0)
            break;
        done += n;
    }
    return done;
}
} // namespace

#else

TInputFile::TInputFile(const std::string& fileName) : m_fileName(fileName)
{
    // O_NONBLOCK: opening a FIFO for reading would wait for a writer.
    m_fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (m_fd < 0)
        OpenFailed(fileName, errno);
    struct stat info {};
    if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(m_fd);
        m_fd = -1;
        OpenFailed(fileName, error);
    }
    // A regular file never blocks; reads go on as usual without the flag.
    const int flags = ::fcntl(m_fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK);
    ::flock(m_fd, LOCK_SH | LOCK_NB);
    m_size = info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

TInputFile::~TInputFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

#endif

size_t TInputFile::ReadAt(uint64_t offset, void* buffer, size_t count) const
{
    if (offset >= m_size)
        return 0;
    count = static_cast<size_t>(std::min<uint64_t>(count, m_size - offset));
#ifdef _WIN32
    return ReadHandleAt(static_cast<HANDLE>(m_handle), offset, buffer, count);
#else
    return ReadFullyAt(m_fd, offset, buffer, count);
#endif
}

} // namespace palvex
