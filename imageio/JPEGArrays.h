// libjpeg's whole-image arrays (the coefficients of a progressive or
// multi-scan picture, the samples of two-pass quantising) in 2 MB aligned
// huge-page blocks of their own, instead of the library's page-by-page heap
// blocks; coefficient rows that the output pass has left behind are given
// back to the system while it goes on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio> // jpeglib.h needs FILE and size_t first

#include <jpeglib.h>

namespace palvex::jpeg {

class TLargeArrays {
public:
    TLargeArrays() = default;
    ~TLargeArrays();
    TLargeArrays(const TLargeArrays&) = delete;
    TLargeArrays& operator=(const TLargeArrays&) = delete;

    // Takes over the array requests of cinfo's memory manager. Call once,
    // right after jpeg_CreateDecompress; cinfo->client_data becomes ours.
    void Install(j_decompress_ptr cinfo);

    // From now on every coefficient row below the lowest one the library asks
    // to read is not needed again: call once all input has been absorbed
    // (after jpeg_start_decompress) and only reading remains.
    void AllowRelease() { m_releaseAllowed = true; }

    // Bytes now held in blocks, and given back so far (for tests).
    size_t HeldBytes() const;
    size_t ReleasedBytes() const { return m_releasedTotal; }

    struct TArray {
        bool Blocks = false;      // coefficient blocks, else samples
        size_t RowBytes = 0;
        JDIMENSION Rows = 0;
        uint8_t* Base = nullptr;  // null until realised
        size_t Size = 0;          // bytes mapped at Base
        void** RowPointers = nullptr;
        size_t Released = 0;      // bytes from Base given back
    };
    static constexpr int kMaxArrays = 16;

private:
    friend struct TLargeArraysAccess;
    void FreeAll();

    jpeg_memory_mgr m_library{}; // the library's own methods
    TArray m_arrays[kMaxArrays];
    int m_count = 0;
    bool m_releaseAllowed = false;
    size_t m_releasedTotal = 0;
};

} // namespace palvex::jpeg
