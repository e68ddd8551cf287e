// How the chunked path cuts N lanes into W contiguous chunks.
#pragma once

#include <algorithm>
#include <cstddef>

namespace vorlisk::envs {

enum class ChunkRule {
  kFloorAtLeast8,  // N / W rounded down to a multiple of 8, but at least 8
  kCeil,           // N / W rounded up to a multiple of 8, no minimum
};

struct LaneRange {
  std::size_t begin = 0;
  std::size_t end = 0;
  bool empty() const { return begin >= end; }
};

constexpr std::size_t chunk_size(ChunkRule rule, std::size_t num_envs, std::size_t workers) {
  const std::size_t per_worker = num_envs / workers;
  if (rule == ChunkRule::kCeil) return (per_worker + 7) / 8 * 8;
  return std::max<std::size_t>(per_worker / 8 * 8, 8);
}

// Chunk c of `workers`; the last chunk takes every remaining lane, and a chunk that
// starts at or past the end is empty.
constexpr LaneRange chunk_range(std::size_t c, std::size_t workers, std::size_t num_envs,
                                std::size_t size) {
  // Saturate: with a huge `workers`, c * size may exceed any lane index.
  const std::size_t begin = (size != 0 && c > num_envs / size) ? num_envs : std::min(c * size, num_envs);
  const std::size_t end = (c + 1 == workers) ? num_envs : std::min(begin + size, num_envs);
  return {begin, end};
}

// The chunks that can hold lanes, as a run of consecutive chunk indices. Chunks past
// the last lane are empty and contribute nothing, so they are never materialised:
// a huge `workers` costs no more than one chunk per lane group.
struct ChunkSpan {
  std::size_t first = 0;
  std::size_t count = 0;
};

constexpr ChunkSpan nonempty_chunks(std::size_t workers, std::size_t num_envs, std::size_t size) {
  // A size of 0 leaves every lane to the last chunk.
  if (size == 0) return {workers - 1, 1};
  const std::size_t needed = num_envs / size + (num_envs % size != 0 ? 1 : 0);
  return {0, std::min(workers, std::max<std::size_t>(needed, 1))};
}

}  // namespace vorlisk::envs
