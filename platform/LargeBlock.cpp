#include "platform/LargeBlock.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace palvex {

#ifdef __linux__
namespace {

constexpr size_t kHugePage = kLargeBlockAlign;
// From 256 KB up a whole huge page is cheaper than faulting in small ones
// (an 800x450 result: 4 ms as small pages, 0.3 ms as one huge page).
constexpr size_t kHugeFrom = size_t(256) << 10;

// A batch run frees a photo-sized block and asks for the same size for the
// next photo. Handing the freed block back saves the kernel clearing it
// afresh, which costs 6 ms for a 60 MB block at best and ten times that when
// the pages are new to a virtual machine's host.
constexpr size_t kKeptBlocks = 4;
constexpr size_t kKeptBytes = size_t(512) << 20;
// Under AddressSanitizer every block goes back, so that a use after free is still caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kKeepBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kKeepBlocks = false;
#else
constexpr bool kKeepBlocks = true;
#endif
#else
constexpr bool kKeepBlocks = true;
#endif

struct TBlock {
    void* Address = nullptr;
    size_t Size = 0;
    bool Mapped = false; // a zeroed block of its own mapping, never kept
};

struct TBlockStore {
    std::mutex Lock;
    std::array<TBlock, 64> Live{}; // the huge blocks handed out, with their rounded sizes
    std::array<TBlock, kKeptBlocks> Kept{};
    size_t KeptBytes = 0;
};

TBlockStore& Store()
{
    static TBlockStore* store = new TBlockStore; // never destroyed: frees may come during exit
    return *store;
}

bool Remember(TBlockStore& s, void* address, size_t size, bool mapped = false)
{
    for (auto& b : s.Live)
        if (!b.Address) {
            b = {address, size, mapped};
            return true;
        }
    return false;
}

// Fresh zeroed pages, size a multiple of kHugePage, aligned to it.
void* MapAligned(size_t size)
{
    void* raw = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    auto* start = static_cast<uint8_t*>(raw);
    auto* aligned = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(start) + kHugePage - 1) & ~(kHugePage - 1));
    if (aligned > start)
        ::munmap(start, static_cast<size_t>(aligned - start));
    const size_t tail = static_cast<size_t>((start + size + kHugePage) - (aligned + size));
    if (tail > 0)
        ::munmap(aligned + size, tail);
    ::madvise(aligned, size, MADV_HUGEPAGE); // a hint: the block works without it
    return aligned;
}

} // namespace
#endif

void* AllocateLargeBlock(size_t bytes) noexcept
{
#ifdef __linux__
    if (bytes >= kHugeFrom && bytes <= size_t(-1) - kHugePage) {
        const size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
        TBlockStore& s = Store();
        std::lock_guard guard(s.Lock);
        // The smallest kept block that fits and wastes at most a quarter of itself.
        TBlock* best = nullptr;
        for (auto& b : s.Kept)
            if (b.Address && b.Size >= rounded && b.Size - rounded <= b.Size / 4 && (!best || b.Size < best->Size))
                best = &b;
        if (best && Remember(s, best->Address, best->Size)) {
            void* block = best->Address;
            s.KeptBytes -= best->Size;
            *best = {};
            return block;
        }
        void* block = std::aligned_alloc(kHugePage, rounded);
        if (!block)
            return nullptr;
        ::madvise(block, rounded, MADV_HUGEPAGE); // a hint: without it the block still works
        Remember(s, block, rounded); // when the table is full the block is simply not kept later
        return block;
    }
#endif
    return std::malloc(bytes ? bytes : 1);
}

void FreeLargeBlock(void* block) noexcept
{
#ifdef __linux__
    if (block) {
        TBlockStore& s = Store();
        std::lock_guard guard(s.Lock);
        for (auto& live : s.Live) {
            if (live.Address != block)
                continue;
            const TBlock freed = live;
            live = {};
            if (freed.Mapped) {
                ::munmap(freed.Address, freed.Size);
                return;
            }
            if (kKeepBlocks && freed.Size <= kKeptBytes) {
                auto freeSlot = [&s]() -> TBlock* {
                    for (auto& kept : s.Kept)
                        if (!kept.Address)
                            return &kept;
                    return nullptr;
                };
                while (s.KeptBytes + freed.Size > kKeptBytes || !freeSlot()) {
                    for (auto& kept : s.Kept)
                        if (kept.Address) {
                            std::free(kept.Address);
                            s.KeptBytes -= kept.Size;
                            kept = {};
                            break;
                        }
                }
                *freeSlot() = freed;
                s.KeptBytes += freed.Size;
                return;
            }
            break;
        }
    }
#endif
    std::free(block);
}

void* AllocateZeroedLargeBlock(size_t bytes) noexcept
{
#ifdef __linux__
    if (bytes >= kHugeFrom && bytes <= size_t(-1) - 2 * kHugePage) {
        const size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
        void* block = MapAligned(rounded);
        if (!block)
            return nullptr;
        TBlockStore& s = Store();
        std::lock_guard guard(s.Lock);
        if (Remember(s, block, rounded, true))
            return block;
        ::munmap(block, rounded); // no room to know it again: a plain block instead
    }
#endif
    return std::calloc(bytes ? bytes : 1, 1);
}

void DiscardLargeBlockPages([[maybe_unused]] void* address, [[maybe_unused]] size_t bytes) noexcept
{
#ifdef __linux__
    if (bytes > 0)
        ::madvise(address, bytes, MADV_DONTNEED);
#endif
}

void ReleaseKeptBlocks() noexcept
{
#ifdef __linux__
    TBlockStore& s = Store();
    std::lock_guard guard(s.Lock);
    for (auto& kept : s.Kept) {
        std::free(kept.Address);
        kept = {};
    }
    s.KeptBytes = 0;
#endif
}

} // namespace palvex
