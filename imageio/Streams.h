// Byte streams: the abstract stream, files and memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace palvex {

class TStream {
public:
    virtual ~TStream() = default;

    // Reads up to count bytes; returns how many were read.
    virtual size_t Read(void* buffer, size_t count) = 0;
    virtual size_t Write(const void* buffer, size_t count) = 0;
    virtual int64_t Seek(int64_t offset, int origin) = 0; // origin: SEEK_SET, SEEK_CUR, SEEK_END

    int64_t Position() { return Seek(0, SEEK_CUR); }
    void SetPosition(int64_t position) { Seek(position, SEEK_SET); }
    virtual int64_t Size();

    // All count bytes or EReadError "Stream read error".
    void ReadBuffer(void* buffer, size_t count);
    // All count bytes or EWriteError "Stream write error".
    void WriteBuffer(const void* buffer, size_t count);
    // Everything from the current position to the end.
    std::vector<uint8_t> ReadRemaining();

    // The file the bytes come from; empty for bytes in memory. Readers that
    // need a companion file (a palette beside the picture) look for it there.
    virtual std::string FileName() const { return {}; }
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, int origin) override;
    int64_t Size() override { return static_cast<int64_t>(m_bytes.size()); }

    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    std::vector<uint8_t>& Bytes() { return m_bytes; }
    void Clear()
    {
        m_bytes.clear();
        m_position = 0;
    }

private:
    std::vector<uint8_t> m_bytes;
    size_t m_position = 0;
};

class TInputFile;

class TFileStream : public TStream {
public:
    enum class Mode {
        OpenRead,        // a regular file only, opened without blocking (TInputFile)
        Create,          // create or truncate, write
        CreateExclusive, // create a new file only; an existing name fails
    };

    // EFOpenError "Cannot open file ..." for OpenRead, EFCreateError
    // "Cannot create file ..." for the create modes.
    TFileStream(const std::string& fileName, Mode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, int origin) override;

    int64_t Size() override;

    // Closes now; false with errno set when the system reports a failed write.
    bool Close();
    std::string FileName() const override { return m_fileName; }

private:
    std::string m_fileName;
    std::unique_ptr<TInputFile> m_input; // OpenRead
    int64_t m_position = 0;              // OpenRead
    int m_fd = -1;                       // the create modes
};

} // namespace palvex
