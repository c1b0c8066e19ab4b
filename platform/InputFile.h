// A file opened for reading pictures from: a regular file, opened without
// blocking and read where the reader asks, never copied whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace palvex {

class TInputFile {
public:
    // Opens without blocking (a FIFO named like a picture must not hang the
    // run), then refuses anything but a regular file: EFOpenError
    // "Cannot open file "%s". %s" with the system's text for the reason.
    // Others may not write the file meanwhile, as far as advisory locks go.
    explicit TInputFile(const std::string& fileName);
    ~TInputFile();
    TInputFile(const TInputFile&) = delete;
    TInputFile& operator=(const TInputFile&) = delete;

    const std::string& FileName() const { return m_fileName; }
    // The size when it was opened; reads never go beyond it.
    uint64_t Size() const { return m_size; }

    // Up to count bytes from offset; fewer only at the end of the file or
    // when the system fails the read (a file cut meanwhile reads short).
    size_t ReadAt(uint64_t offset, void* buffer, size_t count) const;

private:
    std::string m_fileName;
    uint64_t m_size = 0;
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};

} // namespace palvex
