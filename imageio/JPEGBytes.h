// The compressed bytes of a JPEG picture: whole files live in memory, in
// large blocks (huge pages: first touch of small pages costs more than reading
// the file), not cleared before being filled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "platform/LargeBlock.h"

namespace palvex {

template <class T>
struct TCompressedBytesAllocator {
    using value_type = T;
    TCompressedBytesAllocator() = default;
    template <class U>
    TCompressedBytesAllocator(const TCompressedBytesAllocator<U>&) noexcept
    {
    }
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
    // Default-initialised: a resize leaves the new bytes for the reader to fill.
    template <class U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <class U>
    bool operator==(const TCompressedBytesAllocator<U>&) const noexcept
    {
        return true;
    }
};

using TJPEGBytes = std::vector<uint8_t, TCompressedBytesAllocator<uint8_t>>;

} // namespace palvex
