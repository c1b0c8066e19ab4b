// The glue between TJPEGImage and libjpeg: the silent error manager, the
// stream source, the in-memory destination, and the one place that catches
// the library's longjmp.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio> // jpeglib.h needs FILE and size_t first
#include <vector>

#include <jpeglib.h>

#include "imageio/JPEGBytes.h"

namespace palvex {
class TStream;
}

namespace palvex::jpeg {

inline constexpr size_t kBufferSize = 4096;

struct TErrorManager {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    int Code = 0;             // message code of the fatal error
    bool OutOfMemory = false; // our own callback could not get memory
};

// Fills manager with the five handlers: fatal errors jump back into
// RunGuarded, every other message is dropped.
jpeg_error_mgr* InitErrorManager(TErrorManager& manager);

using TStep = void (*)(void* context);

// Runs step(context) and returns true, or false after a fatal library error.
// The library leaves step by longjmp, so step must not keep anything on its
// stack that needs destruction while it calls into the library.
bool RunGuarded(TErrorManager& manager, TStep step, void* context);

// The exception for a failed RunGuarded: EJPEG "JPEG error #%d", or the
// out-of-memory error when our own callback ran out.
[[noreturn]] void RaiseError(const TErrorManager& manager);

// Appends the compressed bytes to Bytes, one full buffer at a time.
struct TMemoryDestination {
    jpeg_destination_mgr Pub;
    TJPEGBytes* Bytes;
    uint8_t Buffer[kBufferSize];
};
void InitDestination(j_compress_ptr cinfo, TMemoryDestination& destination, TJPEGBytes& bytes);

// Hands the library the stream's bytes from its position at InitSource on,
// kStreamBufferSize at a time (a file is never held whole), and a fake EOI
// (with a warning) once they run out.
inline constexpr size_t kStreamBufferSize = size_t(64) << 10;
struct TStreamSource {
    jpeg_source_mgr Pub;
    TStream* Stream;
    int64_t Position; // next stream position to read
    int64_t End;
    bool StartOfFile;
    uint8_t Buffer[kStreamBufferSize];
};
void InitSource(j_decompress_ptr cinfo, TStreamSource& source, TStream& stream);

} // namespace palvex::jpeg
