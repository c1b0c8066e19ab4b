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
struct TCompressedBytesAllocator : TLargeBlockAllocator<T> {
    TCompressedBytesAllocator() = default;
    template <class U>
    TCompressedBytesAllocator(const TCompressedBytesAllocator<U>&) noexcept
    {
    }
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
};

using TJPEGBytes = std::vector<uint8_t, TCompressedBytesAllocator<uint8_t>>;

} // namespace palvex
