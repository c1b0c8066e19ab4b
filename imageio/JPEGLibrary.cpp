// libjpeg glue for TJPEGImage: error manager, stream source, memory destination.
#include "imageio/JPEGLibrary.h"

#include <algorithm>
#include <new>

#include <jerror.h>

#include "imageio/Streams.h"
#include "platform/Errors.h"

namespace palvex::jpeg {

namespace {

TErrorManager& Manager(j_common_ptr cinfo)
{
    return *reinterpret_cast<TErrorManager*>(cinfo->err);
}

void ErrorExit(j_common_ptr cinfo)
{
    TErrorManager& manager = Manager(cinfo);
    manager.Code = manager.Pub.msg_code;
    std::longjmp(manager.Jump, 1);
}

// Warnings never surface: the library goes on with what it has.
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}
void FormatMessage(j_common_ptr, char* buffer) { buffer[0] = '\0'; }

void ResetErrorManager(j_common_ptr cinfo)
{
    cinfo->err->num_warnings = 0;
    cinfo->err->msg_code = 0;
}

// Destination callbacks. A failed append cannot throw through the library's
// frames, so it is flagged and turned into a library error after the catch.
void InitDestinationBuffer(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<TMemoryDestination*>(cinfo->dest);
    dest->Pub.next_output_byte = dest->Buffer;
    dest->Pub.free_in_buffer = kBufferSize;
}

bool Append(TMemoryDestination& dest, size_t count)
{
    try {
        dest.Bytes->insert(dest.Bytes->end(), dest.Buffer, dest.Buffer + count);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<TMemoryDestination*>(cinfo->dest);
    if (!Append(*dest, kBufferSize)) {
        Manager(reinterpret_cast<j_common_ptr>(cinfo)).OutOfMemory = true;
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    }
    dest->Pub.next_output_byte = dest->Buffer;
    dest->Pub.free_in_buffer = kBufferSize;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<TMemoryDestination*>(cinfo->dest);
    if (!Append(*dest, kBufferSize - dest->Pub.free_in_buffer)) {
        Manager(reinterpret_cast<j_common_ptr>(cinfo)).OutOfMemory = true;
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    }
}

// Source callbacks.
const JOCTET kFakeEOI[2] = {0xFF, JPEG_EOI};

void InitSourceBuffer(j_decompress_ptr) {}

// The end of the data: an empty file is an error, a cut one ends with EOI.
void EndOfData(j_decompress_ptr cinfo, jpeg_source_mgr& pub, bool startOfFile)
{
    if (startOfFile)
        ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    pub.next_input_byte = kFakeEOI;
    pub.bytes_in_buffer = sizeof kFakeEOI;
}

void TermSource(j_decompress_ptr) {}

boolean FillStreamBuffer(j_decompress_ptr cinfo)
{
    auto* src = reinterpret_cast<TStreamSource*>(cinfo->src);
    size_t count = 0;
    if (src->Position < src->End) {
        // The callbacks are C code's: a failing stream reads as the end.
        try {
            const auto want = static_cast<size_t>(std::min<int64_t>(kStreamBufferSize, src->End - src->Position));
            src->Stream->Seek(src->Position, SEEK_SET);
            count = src->Stream->Read(src->Buffer, want);
        } catch (...) {
            count = 0;
        }
    }
    if (count == 0) {
        src->Position = src->End;
        EndOfData(cinfo, src->Pub, src->StartOfFile);
    } else {
        src->Pub.next_input_byte = src->Buffer;
        src->Pub.bytes_in_buffer = count;
        src->Position += static_cast<int64_t>(count);
    }
    src->StartOfFile = false;
    return TRUE;
}

// Skips without reading, so a huge marker length costs nothing.
void SkipStreamData(j_decompress_ptr cinfo, long numBytes)
{
    auto* src = reinterpret_cast<TStreamSource*>(cinfo->src);
    if (numBytes <= 0)
        return;
    auto count = static_cast<size_t>(numBytes);
    if (count <= src->Pub.bytes_in_buffer) {
        src->Pub.next_input_byte += count;
        src->Pub.bytes_in_buffer -= count;
        return;
    }
    count -= src->Pub.bytes_in_buffer;
    src->Position += static_cast<int64_t>(std::min<uint64_t>(count, static_cast<uint64_t>(src->End - src->Position)));
    src->Pub.bytes_in_buffer = 0;
}

} // namespace

jpeg_error_mgr* InitErrorManager(TErrorManager& manager)
{
    jpeg_std_error(&manager.Pub);
    manager.Pub.error_exit = ErrorExit;
    manager.Pub.emit_message = EmitMessage;
    manager.Pub.output_message = OutputMessage;
    manager.Pub.format_message = FormatMessage;
    manager.Pub.reset_error_mgr = ResetErrorManager;
    manager.Code = 0;
    manager.OutOfMemory = false;
    return &manager.Pub;
}

bool RunGuarded(TErrorManager& manager, TStep step, void* context)
{
    if (setjmp(manager.Jump) != 0)
        return false;
    step(context);
    return true;
}

void RaiseError(const TErrorManager& manager)
{
    if (manager.OutOfMemory)
        throw EOutOfMemory("Out of memory");
    throw EJPEG(Format("JPEG error #%d", manager.Code));
}

void InitDestination(j_compress_ptr cinfo, TMemoryDestination& destination, TJPEGBytes& bytes)
{
    destination.Pub.init_destination = InitDestinationBuffer;
    destination.Pub.empty_output_buffer = EmptyOutputBuffer;
    destination.Pub.term_destination = TermDestination;
    destination.Pub.next_output_byte = destination.Buffer;
    destination.Pub.free_in_buffer = kBufferSize;
    destination.Bytes = &bytes;
    cinfo->dest = &destination.Pub;
}

void InitSource(j_decompress_ptr cinfo, TStreamSource& source, TStream& stream)
{
    source.Pub.init_source = InitSourceBuffer;
    source.Pub.fill_input_buffer = FillStreamBuffer;
    source.Pub.skip_input_data = SkipStreamData;
    source.Pub.resync_to_restart = jpeg_resync_to_restart;
    source.Pub.term_source = TermSource;
    source.Pub.next_input_byte = nullptr;
    source.Pub.bytes_in_buffer = 0;
    source.Stream = &stream;
    source.Position = stream.Position();
    source.End = std::max(stream.Size(), source.Position);
    source.StartOfFile = true;
    cinfo->src = &source.Pub;
}

} // namespace palvex::jpeg
