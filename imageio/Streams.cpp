#include "imageio/Streams.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "platform/Errors.h"
#include "platform/FileTransfer.h"
#include "platform/InputFile.h"

namespace palvex {

int64_t TStream::Size()
{
    const int64_t here = Seek(0, SEEK_CUR);
    const int64_t end = Seek(0, SEEK_END);
    Seek(here, SEEK_SET);
    return end;
}

void TStream::ReadBuffer(void* buffer, size_t count)
{
    if (count != 0 && Read(buffer, count) != count)
        throw EReadError(kSReadError);
}

void TStream::WriteBuffer(const void* buffer, size_t count)
{
    if (count != 0 && Write(buffer, count) != count)
        throw EWriteError(kSWriteError);
}

std::vector<uint8_t> TStream::ReadRemaining()
{
    const int64_t size = Size() - Position();
    std::vector<uint8_t> bytes(size > 0 ? static_cast<size_t>(size) : 0);
    ReadBuffer(bytes.data(), bytes.size());
    return bytes;
}

size_t TMemoryStream::Read(void* buffer, size_t count)
{
    if (m_position >= m_bytes.size())
        return 0;
    const size_t n = std::min(count, m_bytes.size() - m_position);
    std::memcpy(buffer, m_bytes.data() + m_position, n);
    m_position += n;
    return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count)
{
    if (count == 0)
        return 0;
    if (m_position + count > m_bytes.size())
        m_bytes.resize(m_position + count);
    std::memcpy(m_bytes.data() + m_position, buffer, count);
    m_position += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, int origin)
{
    int64_t base = 0;
    if (origin == SEEK_CUR)
        base = static_cast<int64_t>(m_position);
    else if (origin == SEEK_END)
        base = static_cast<int64_t>(m_bytes.size());
    const int64_t target = base + offset;
    m_position = target < 0 ? 0 : static_cast<size_t>(target);
    return static_cast<int64_t>(m_position);
}

size_t TByteSpanStream::Read(void* buffer, size_t count)
{
    if (m_position >= m_size)
        return 0;
    const size_t n = std::min(count, m_size - m_position);
    std::memcpy(buffer, m_data + m_position, n);
    m_position += n;
    return n;
}

int64_t TByteSpanStream::Seek(int64_t offset, int origin)
{
    const int64_t base = origin == SEEK_CUR ? static_cast<int64_t>(m_position)
                         : origin == SEEK_END ? static_cast<int64_t>(m_size)
                                              : 0;
    const int64_t target = base + offset;
    m_position = target < 0 ? 0 : static_cast<size_t>(target);
    return static_cast<int64_t>(m_position);
}

TFileStream::TFileStream(const std::string& fileName, Mode mode) : m_fileName(fileName)
{
    if (mode == Mode::OpenRead) {
        m_input = std::make_unique<TInputFile>(fileName);
        return;
    }
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == Mode::CreateExclusive ? O_EXCL : O_TRUNC);
    m_fd = ::open(fileName.c_str(), flags, 0666);
    if (m_fd < 0)
        throw EFCreateError(Format(kSFCreateError, fileName.c_str(), SystemErrorText(errno).c_str()));
}

TFileStream::~TFileStream()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

size_t TFileStream::Read(void* buffer, size_t count)
{
    if (m_input) {
        const size_t n = m_input->ReadAt(static_cast<uint64_t>(m_position), buffer, count);
        m_position += static_cast<int64_t>(n);
        return n;
    }
    return ReadFully(m_fd, buffer, count);
}

size_t TFileStream::Write(const void* buffer, size_t count)
{
    return WriteFully(m_fd, buffer, count);
}

int64_t TFileStream::Seek(int64_t offset, int origin)
{
    if (!m_input)
        return ::lseek(m_fd, offset, origin);
    const int64_t base = origin == SEEK_CUR ? m_position : origin == SEEK_END ? Size() : 0;
    int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) || target < 0)
        return -1;
    m_position = target;
    return m_position;
}

int64_t TFileStream::Size()
{
    return m_input ? static_cast<int64_t>(m_input->Size()) : TStream::Size();
}

bool TFileStream::Close()
{
    m_input.reset();
    const int fd = m_fd;
    m_fd = -1;
    return fd < 0 || ::close(fd) == 0;
}

} // namespace palvex
