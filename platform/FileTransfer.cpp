#ifndef _WIN32

#include "platform/FileTransfer.h"

#include <cerrno>
#include <unistd.h>

namespace palvex {

namespace {

// step(done) moves part of what is left and answers as read(2) does.
template <typename Step>
size_t Repeat(size_t count, Step step)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t n = step(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

} // namespace

size_t ReadFully(int fd, void* buffer, size_t count)
{
    auto* p = static_cast<uint8_t*>(buffer);
    return Repeat(count, [&](size_t done) { return ::read(fd, p + done, count - done); });
}

size_t ReadFullyAt(int fd, uint64_t offset, void* buffer, size_t count)
{
    auto* p = static_cast<uint8_t*>(buffer);
    return Repeat(count, [&](size_t done) {
        return ::pread(fd, p + done, count - done, static_cast<off_t>(offset + done));
    });
}

size_t WriteFully(int fd, const void* buffer, size_t count)
{
    const auto* p = static_cast<const uint8_t*>(buffer);
    return Repeat(count, [&](size_t done) { return ::write(fd, p + done, count - done); });
}

} // namespace palvex

#endif // !_WIN32
