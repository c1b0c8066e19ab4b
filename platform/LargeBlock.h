// Memory for whole pictures.
#pragma once

#include <cstddef>
#include <new>

namespace palvex {

// Blocks of 256 KB and more are 2 MB aligned and, on Linux, asked for huge pages:
// touching a fresh picture-sized block page by page costs more than decoding
// a JPEG into it. Returns nullptr when the memory cannot be had.
void* AllocateLargeBlock(size_t bytes) noexcept;
// Freed picture-sized blocks are kept (up to 512 MB) for the next request of
// about their size; this gives them back to the system.
void FreeLargeBlock(void* block) noexcept;
void ReleaseKeptBlocks() noexcept;

// The alignment of large blocks, and the unit in which their pages go back.
inline constexpr size_t kLargeBlockAlign = size_t(2) << 20;

// A block whose bytes are all zero, fresh from the system (never a kept one),
// aligned and asked for huge pages as above: for a library's arrays that it
// expects zeroed, so that clearing them costs nothing. Freed by FreeLargeBlock.
void* AllocateZeroedLargeBlock(size_t bytes) noexcept;
// Gives the pages of [address, address + bytes) of a zeroed block back to the
// system while the rest of it stays in use; address and bytes are multiples
// of kLargeBlockAlign from the block's start. Those bytes must not be read again.
void DiscardLargeBlockPages(void* address, size_t bytes) noexcept;

struct TLargeBlockDeleter {
    void operator()(void* block) const noexcept { FreeLargeBlock(block); }
};

template <class T>
struct TLargeBlockAllocator {
    using value_type = T;
    TLargeBlockAllocator() = default;
    template <class U>
    TLargeBlockAllocator(const TLargeBlockAllocator<U>&) noexcept {}
    T* allocate(size_t n)
    {
        if (n > size_t(-1) / sizeof(T))
            throw std::bad_alloc();
        void* p = AllocateLargeBlock(n * sizeof(T));
        if (!p)
            throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t) noexcept { FreeLargeBlock(p); }
    template <class U>
    bool operator==(const TLargeBlockAllocator<U>&) const noexcept { return true; }
};

} // namespace palvex
