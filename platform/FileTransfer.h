// Moving bytes through an open file descriptor in full. The system may move
// fewer bytes than asked, or stop for a signal, so each call is repeated until
// every byte is moved, the file ends or the system fails. POSIX only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace palvex {

// Each returns the bytes moved: fewer than count only at the end of the file or
// when the system failed (errno says why).
size_t ReadFully(int fd, void* buffer, size_t count);
size_t ReadFullyAt(int fd, uint64_t offset, void* buffer, size_t count);
size_t WriteFully(int fd, const void* buffer, size_t count);

} // namespace palvex
