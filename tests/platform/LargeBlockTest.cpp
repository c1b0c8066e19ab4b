#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "platform/LargeBlock.h"

namespace palvex {
namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PALVEX_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define PALVEX_TEST_ASAN 1
#endif

TEST(LargeBlock, FreedPhotoBlockServesTheNextPhotoOfAboutItsSize)
{
#if defined(__linux__) && !defined(PALVEX_TEST_ASAN)
    constexpr size_t photo = size_t(5120) * 2880 * 4;
    ReleaseKeptBlocks();
    auto* first = static_cast<uint8_t*>(AllocateLargeBlock(photo));
    ASSERT_NE(first, nullptr);
    std::memset(first, 0x5A, photo);
    FreeLargeBlock(first);

    // A small request does not take the photo block away from the next photo.
    void* small = AllocateLargeBlock(size_t(1) << 20);
    EXPECT_NE(small, first);
    auto* second = static_cast<uint8_t*>(AllocateLargeBlock(photo - 4096));
    EXPECT_EQ(second, first);
    // Held twice at once, the second request gets a block of its own.
    void* third = AllocateLargeBlock(photo);
    EXPECT_NE(third, second);
    second[photo - 4097] = 1; // the whole request is usable
    FreeLargeBlock(small);
    FreeLargeBlock(second);
    FreeLargeBlock(third);
    ReleaseKeptBlocks();
    // Freed blocks from then on are not handed out again: the request still works.
    void* fourth = AllocateLargeBlock(photo);
    ASSERT_NE(fourth, nullptr);
    FreeLargeBlock(fourth);
    ReleaseKeptBlocks();
#else
    GTEST_SKIP() << "blocks go straight back to the system here";
#endif
}

TEST(LargeBlock, KeepsNoMoreThanItsShare)
{
    // Far more freed blocks than are kept: every one can still be had and freed.
    constexpr size_t size = size_t(200) << 20;
    void* blocks[6];
    for (auto& b : blocks) {
        b = AllocateLargeBlock(size);
        ASSERT_NE(b, nullptr);
    }
    for (auto* b : blocks)
        FreeLargeBlock(b);
    void* again = AllocateLargeBlock(size);
    ASSERT_NE(again, nullptr);
    FreeLargeBlock(again);
    ReleaseKeptBlocks();
}

TEST(LargeBlock, ZeroedBlockIsNeverAKeptOneAndGivesPagesBack)
{
    constexpr size_t size = size_t(24) << 20;
    auto* dirty = static_cast<uint8_t*>(AllocateLargeBlock(size));
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty, 0xA5, size);
    FreeLargeBlock(dirty); // kept, where blocks are kept

    auto* zeroed = static_cast<uint8_t*>(AllocateZeroedLargeBlock(size));
    ASSERT_NE(zeroed, nullptr);
    for (size_t at = 0; at < size; at += 4093)
        ASSERT_EQ(zeroed[at], 0) << at;
    std::memset(zeroed, 1, size);
    // The first pages go back; the rest of the block stays as written.
    DiscardLargeBlockPages(zeroed, kLargeBlockAlign);
    EXPECT_EQ(zeroed[kLargeBlockAlign], 1);
    EXPECT_EQ(zeroed[size - 1], 1);
    FreeLargeBlock(zeroed);
    // A freed zeroed block is not kept for plain requests either.
    void* next = AllocateLargeBlock(size);
    ASSERT_NE(next, nullptr);
    FreeLargeBlock(next);
    ReleaseKeptBlocks();
}

} // namespace
} // namespace palvex
