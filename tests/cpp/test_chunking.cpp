// How lanes are cut into chunks, and the pool that runs them.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "envs/core/chunking.hpp"
#include "envs/core/worker_pool.hpp"

namespace vorlisk::envs {
namespace {

struct ChunkCase {
  ChunkRule rule;
  std::size_t num_envs, workers;
  std::size_t size;
  std::vector<LaneRange> chunks;
};

class Chunking : public ::testing::TestWithParam<ChunkCase> {};

// Each case's expected chunks cover every lane exactly once, so chunks that match
// them cover the lanes too.
TEST_P(Chunking, CutsLanesIntoExactlyWorkersChunks) {
  const ChunkCase& c = GetParam();
  const std::size_t size = chunk_size(c.rule, c.num_envs, c.workers);
  EXPECT_EQ(size, c.size);
  ASSERT_EQ(c.chunks.size(), c.workers);
  const ChunkSpan used = nonempty_chunks(c.workers, c.num_envs, size);
  for (std::size_t ch = 0; ch < c.workers; ++ch) {
    const LaneRange r = chunk_range(ch, c.workers, c.num_envs, size);
    // The chunked path runs only the span; every chunk outside it must be empty.
    if (ch < used.first || ch >= used.first + used.count) {
      EXPECT_TRUE(r.empty()) << "chunk " << ch;
    }
    if (c.chunks[ch].empty()) {
      EXPECT_TRUE(r.empty()) << "chunk " << ch;
      continue;
    }
    EXPECT_EQ(r.begin, c.chunks[ch].begin) << "chunk " << ch;
    EXPECT_EQ(r.end, c.chunks[ch].end) << "chunk " << ch;
  }
}

constexpr LaneRange kEmpty{0, 0};
INSTANTIATE_TEST_SUITE_P(
    Rules, Chunking,
    ::testing::Values(
        ChunkCase{ChunkRule::kFloorAtLeast8, 100, 3, 32, {{0, 32}, {32, 64}, {64, 100}}},
        ChunkCase{ChunkRule::kFloorAtLeast8, 10, 4, 8, {{0, 8}, {8, 10}, kEmpty, kEmpty}},
        ChunkCase{ChunkRule::kFloorAtLeast8, 100, 8, 8,
                  {{0, 8}, {8, 16}, {16, 24}, {24, 32}, {32, 40}, {40, 48}, {48, 56}, {56, 100}}},
        ChunkCase{ChunkRule::kFloorAtLeast8, 1, 2, 8, {{0, 1}, kEmpty}},
        ChunkCase{ChunkRule::kCeil, 100, 3, 40, {{0, 40}, {40, 80}, {80, 100}}},
        ChunkCase{ChunkRule::kCeil, 3, 4, 0, {kEmpty, kEmpty, kEmpty, {0, 3}}},
        ChunkCase{ChunkRule::kCeil, 100, 8, 16,
                  {{0, 16}, {16, 32}, {32, 48}, {48, 64}, {64, 80}, {80, 96}, {96, 100}, kEmpty}}));

TEST(ThreadCount, AcceptsOnlyPositiveDecimalIntegers) {
  EXPECT_EQ(parse_thread_count("4"), 4u);
  EXPECT_EQ(parse_thread_count("16"), 16u);
  for (const char* bad : {"", "0", "-2", "2x", " 2", "1.5", "99999999999999999999999"}) {
    EXPECT_EQ(parse_thread_count(bad), 0u) << bad;
  }
  EXPECT_EQ(parse_thread_count(nullptr), 0u);
}

// A task's failure comes out after the others finish, and the pool stays usable:
// afterwards every run still does each of its tasks once and waits for them all.
TEST(WorkerPool, RethrowsATaskFailureThenRunsEveryTaskOnce) {
  std::atomic<int> finished{0};
  EXPECT_THROW(WorkerPool::global().run(16,
                                        [&](std::size_t i) {
                                          if (i == 5) throw std::runtime_error("chunk 5 failed");
                                          finished.fetch_add(1);
                                        }),
               std::runtime_error);
  EXPECT_EQ(finished.load(), 15);
  for (std::size_t count : {1u, 2u, 7u, 64u, 1000u}) {
    std::vector<std::atomic<int>> hits(count);
    WorkerPool::global().run(count, [&](std::size_t i) { hits[i].fetch_add(1); });
    for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(hits[i].load(), 1) << i;
  }
}

}  // namespace
}  // namespace vorlisk::envs
