// Whole-image arrays of a libjpeg decompression in huge-page blocks.
#include "imageio/JPEGArrays.h"

#include <jerror.h>

#include "imageio/JPEGLibrary.h"
#include "platform/LargeBlock.h"

namespace palvex::jpeg {

#ifdef __linux__

namespace {

constexpr size_t kChunk = kLargeBlockAlign;
// Sample rows start on a boundary the library's vector code may rely on.
constexpr size_t kSampleRowAlign = 64;

TLargeArrays& Self(j_common_ptr cinfo)
{
    return *static_cast<TLargeArrays*>(cinfo->client_data);
}

[[noreturn]] void OutOfMemory(j_common_ptr cinfo)
{
    reinterpret_cast<TErrorManager*>(cinfo->err)->OutOfMemory = true;
    ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    __builtin_unreachable();
}

} // namespace

// The callbacks, as friends of TLargeArrays. They run inside the library and
// leave only by returning or through its error exit.
struct TLargeArraysAccess {
    static TLargeArrays::TArray* Find(TLargeArrays& self, const void* handle)
    {
        for (int i = 0; i < self.m_count; ++i)
            if (handle == &self.m_arrays[i])
                return &self.m_arrays[i];
        return nullptr;
    }

    static TLargeArrays::TArray* Request(j_common_ptr cinfo, int poolId, bool blocks, JDIMENSION perRow,
                                         JDIMENSION rows)
    {
        TLargeArrays& self = Self(cinfo);
        if (poolId != JPOOL_IMAGE)
            ERREXIT1(cinfo, JERR_BAD_POOL_ID, poolId);
        if (self.m_count == TLargeArrays::kMaxArrays)
            return nullptr; // the library keeps the rest
        size_t rowBytes = 0;
        size_t total = 0;
        if (__builtin_mul_overflow(static_cast<size_t>(perRow), blocks ? sizeof(JBLOCK) : sizeof(JSAMPLE), &rowBytes))
            ERREXIT(cinfo, JERR_WIDTH_OVERFLOW);
        if (!blocks)
            rowBytes = (rowBytes + kSampleRowAlign - 1) & ~(kSampleRowAlign - 1);
        if (rowBytes == 0 || __builtin_mul_overflow(rowBytes, static_cast<size_t>(rows), &total) ||
            total > (size_t(1) << 40))
            OutOfMemory(cinfo);
        TLargeArrays::TArray& array = self.m_arrays[self.m_count++];
        array = TLargeArrays::TArray{};
        array.Blocks = blocks;
        array.RowBytes = rowBytes;
        array.Rows = rows;
        return &array;
    }

    static jvirt_sarray_ptr RequestSamples(j_common_ptr cinfo, int poolId, boolean preZero, JDIMENSION samplesPerRow,
                                           JDIMENSION rows, JDIMENSION maxAccess)
    {
        if (TLargeArrays::TArray* array = Request(cinfo, poolId, false, samplesPerRow, rows))
            return reinterpret_cast<jvirt_sarray_ptr>(array);
        return Self(cinfo).m_library.request_virt_sarray(cinfo, poolId, preZero, samplesPerRow, rows, maxAccess);
    }

    static jvirt_barray_ptr RequestBlocks(j_common_ptr cinfo, int poolId, boolean preZero, JDIMENSION blocksPerRow,
                                          JDIMENSION rows, JDIMENSION maxAccess)
    {
        if (TLargeArrays::TArray* array = Request(cinfo, poolId, true, blocksPerRow, rows))
            return reinterpret_cast<jvirt_barray_ptr>(array);
        return Self(cinfo).m_library.request_virt_barray(cinfo, poolId, preZero, blocksPerRow, rows, maxAccess);
    }

    // Every array in a zeroed block of its own, so pre-zeroing costs nothing.
    static void Realize(j_common_ptr cinfo)
    {
        TLargeArrays& self = Self(cinfo);
        for (int i = 0; i < self.m_count; ++i) {
            TLargeArrays::TArray& array = self.m_arrays[i];
            if (array.Base)
                continue;
            const size_t bytes = array.RowBytes * array.Rows;
            const size_t size = (bytes + kChunk - 1) & ~(kChunk - 1);
            auto** rows = static_cast<void**>(
                self.m_library.alloc_small(cinfo, JPOOL_IMAGE, sizeof(void*) * (static_cast<size_t>(array.Rows) + 1)));
            array.Base = static_cast<uint8_t*>(AllocateZeroedLargeBlock(size));
            if (!array.Base)
                OutOfMemory(cinfo);
            array.Size = size;
            for (JDIMENSION r = 0; r < array.Rows; ++r)
                rows[r] = array.Base + static_cast<size_t>(r) * array.RowBytes;
            array.RowPointers = rows;
        }
        self.m_library.realize_virt_arrays(cinfo);
    }

    static void** Access(j_common_ptr cinfo, TLargeArrays::TArray& array, JDIMENSION startRow, JDIMENSION rows,
                         bool writable)
    {
        TLargeArrays& self = Self(cinfo);
        const uint64_t end = uint64_t(startRow) + rows;
        const size_t startByte = static_cast<size_t>(startRow) * array.RowBytes;
        // A row given back cannot be read again: fail rather than hand out zeros.
        if (!array.Base || end > array.Rows || startByte < array.Released)
            ERREXIT(cinfo, JERR_BAD_VIRTUAL_ACCESS);
        if (array.Blocks && self.m_releaseAllowed && !writable) {
            const size_t keep = startByte & ~(kChunk - 1);
            if (keep > array.Released) {
                DiscardLargeBlockPages(array.Base + array.Released, keep - array.Released);
                self.m_releasedTotal += keep - array.Released;
                array.Released = keep;
            }
        }
        return array.RowPointers + startRow;
    }

    static JSAMPARRAY AccessSamples(j_common_ptr cinfo, jvirt_sarray_ptr handle, JDIMENSION startRow,
                                    JDIMENSION rows, boolean writable)
    {
        if (TLargeArrays::TArray* array = Find(Self(cinfo), handle))
            return reinterpret_cast<JSAMPARRAY>(Access(cinfo, *array, startRow, rows, writable));
        return Self(cinfo).m_library.access_virt_sarray(cinfo, handle, startRow, rows, writable);
    }

    static JBLOCKARRAY AccessBlocks(j_common_ptr cinfo, jvirt_barray_ptr handle, JDIMENSION startRow,
                                    JDIMENSION rows, boolean writable)
    {
        if (TLargeArrays::TArray* array = Find(Self(cinfo), handle))
            return reinterpret_cast<JBLOCKARRAY>(Access(cinfo, *array, startRow, rows, writable));
        return Self(cinfo).m_library.access_virt_barray(cinfo, handle, startRow, rows, writable);
    }

    static void FreePool(j_common_ptr cinfo, int poolId)
    {
        TLargeArrays& self = Self(cinfo);
        if (poolId == JPOOL_IMAGE)
            self.FreeAll();
        self.m_library.free_pool(cinfo, poolId);
    }

    static void SelfDestruct(j_common_ptr cinfo)
    {
        TLargeArrays& self = Self(cinfo);
        self.FreeAll();
        cinfo->client_data = nullptr;
        self.m_library.self_destruct(cinfo);
    }
};

TLargeArrays::~TLargeArrays()
{
    FreeAll();
}

void TLargeArrays::Install(j_decompress_ptr cinfo)
{
    m_library = *cinfo->mem;
    cinfo->client_data = this;
    cinfo->mem->request_virt_sarray = TLargeArraysAccess::RequestSamples;
    cinfo->mem->request_virt_barray = TLargeArraysAccess::RequestBlocks;
    cinfo->mem->realize_virt_arrays = TLargeArraysAccess::Realize;
    cinfo->mem->access_virt_sarray = TLargeArraysAccess::AccessSamples;
    cinfo->mem->access_virt_barray = TLargeArraysAccess::AccessBlocks;
    cinfo->mem->free_pool = TLargeArraysAccess::FreePool;
    cinfo->mem->self_destruct = TLargeArraysAccess::SelfDestruct;
}

void TLargeArrays::FreeAll()
{
    // The row pointers live in the library's pool and go with it.
    for (int i = 0; i < m_count; ++i)
        if (m_arrays[i].Base)
            FreeLargeBlock(m_arrays[i].Base);
    m_count = 0;
}

size_t TLargeArrays::HeldBytes() const
{
    size_t held = 0;
    for (int i = 0; i < m_count; ++i)
        held += m_arrays[i].Base ? m_arrays[i].Size - m_arrays[i].Released : 0;
    return held;
}

#else

// Elsewhere the library keeps its own arrays.
TLargeArrays::~TLargeArrays() = default;
void TLargeArrays::Install(j_decompress_ptr) {}
void TLargeArrays::FreeAll() {}
size_t TLargeArrays::HeldBytes() const { return 0; }

#endif

} // namespace palvex::jpeg
