#include "platform/pixel_pool.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

namespace scene {
namespace {

constexpr std::size_t kFrame = 4096;

// A stream's pool across its life: reuse while it runs, the storage of an
// overlap freed rather than kept, nothing kept once it stops (a frame still
// held then stays readable and is freed when it comes back), reuse again once
// it runs again.
TEST(PixelPoolTest, KeepsNoMoreThanItIsAskedToInAll) {
    const auto pool = std::make_shared<PixelPool>(1);
    auto frame = pool->take(kFrame);
    const std::uint8_t* first = frame->data();
    frame.reset();
    frame = pool->take(kFrame);
    EXPECT_EQ(frame->data(), first) << "a steady stream reuses its storage";

    auto overlap = pool->take(kFrame);
    frame.reset();
    EXPECT_EQ(pool->idle(), 0u) << "the next frame is still out: nothing to keep beside it";
    overlap.reset();
    EXPECT_EQ(pool->idle(), 1u);

    auto held = pool->take(kFrame);
    std::fill(held->begin(), held->end(), 7);
    pool->setKeep(2);
    pool->take(kFrame).reset();
    pool->setKeep(0);
    EXPECT_EQ(pool->idle(), 0u) << "stopped: idle storage goes at once";
    EXPECT_EQ(std::count(held->begin(), held->end(), 7), static_cast<long>(kFrame)) << "held storage is untouched";
    held.reset();
    EXPECT_EQ(pool->idle(), 0u) << "and held storage goes when it comes back";

    pool->setKeep(1);
    pool->take(kFrame).reset();
    EXPECT_EQ(pool->idle(), 1u) << "started again, the pool keeps storage again";
}

#if defined(__linux__)
// Idle storage is kept as address space: its pages go back to the system and
// read as zeros when it is taken again. Only the partial pages at its ends,
// which it may share with the allocator, keep what was written.
TEST(PixelPoolTest, IdleStorageHandsItsPagesBack) {
    constexpr std::size_t kPage = 4096;
    constexpr std::size_t kSize = 64 * kPage;
    const auto pool = std::make_shared<PixelPool>(1);
    auto frame = pool->take(kSize);
    const std::uint8_t* first = frame->data();
    std::fill(frame->begin(), frame->end(), 0xff);
    frame.reset();
    frame = pool->take(kSize);
    ASSERT_EQ(frame->data(), first);
    // ...and faults them in again as it is taken, in one go.
    const auto start = (reinterpret_cast<std::uintptr_t>(frame->data()) + kPage - 1) & ~(kPage - 1);
    std::vector<unsigned char> resident(kSize / kPage - 1);
    ASSERT_EQ(mincore(reinterpret_cast<void*>(start), resident.size() * kPage, resident.data()), 0);
    EXPECT_EQ(std::count_if(resident.begin(), resident.end(), [](unsigned char page) { return (page & 1) == 0; }), 0);
    EXPECT_LE(std::count(frame->begin(), frame->end(), 0xff), static_cast<long>(2 * kPage));
}
#endif

TEST(PixelPoolTest, StorageOutlivesThePool) {
    auto pool = std::make_shared<PixelPool>(1);
    auto held = pool->take(kFrame);
    pool.reset();
    std::fill(held->begin(), held->end(), 3);  // freed with the pool, this is a use after free
    EXPECT_EQ(held->front(), 3);
}

// Frames come back on the threads of their readers while the owner changes
// what is kept: no storage is lent to two holders at once, and once nothing
// is kept and everything is back, the pool holds nothing.
TEST(PixelPoolTest, ReturnsFromManyThreadsWhileKeepChanges) {
    const auto pool = std::make_shared<PixelPool>(1);
    std::vector<std::thread> readers;
    for (std::uint8_t id = 1; id <= 4; ++id) {
        readers.emplace_back([pool, id] {
            for (int round = 0; round < 500; ++round) {
                auto frame = pool->take(kFrame);
                std::fill(frame->begin(), frame->end(), id);
                std::this_thread::yield();
                ASSERT_EQ(std::count(frame->begin(), frame->end(), id), static_cast<long>(kFrame));
            }
        });
    }
    for (int round = 0; round < 500; ++round) pool->setKeep(round % 2);
    for (auto& reader : readers) reader.join();
    pool->setKeep(0);
    EXPECT_EQ(pool->idle(), 0u);
}

}  // namespace
}  // namespace scene
