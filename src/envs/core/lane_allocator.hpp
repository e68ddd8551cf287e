// Storage for the per-lane arrays. A step streams through several arrays of the same
// length at once; when their starts share the same offset within a 4 KiB page (as
// the C library's allocator tends to make them), the processor mistakes stores to one
// for stores to another and stalls the loads (4K aliasing), which costs up to a
// quarter of a step depending on where the arrays happen to land. So each larger
// array starts at its own offset within a page, and every array on a cache line.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace vorlisk::envs {

void* allocate_lane_bytes(std::size_t bytes);
void free_lane_bytes(void* p) noexcept;

template <class T>
struct LaneAllocator {
  using value_type = T;

  LaneAllocator() = default;
  template <class U>
  LaneAllocator(const LaneAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocate_lane_bytes(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t) noexcept { free_lane_bytes(p); }

  friend bool operator==(const LaneAllocator&, const LaneAllocator&) { return true; }
};

template <class T>
using LaneVector = std::vector<T, LaneAllocator<T>>;

// Lane arrays compare with plain vectors by their elements.
template <class T>
bool operator==(const LaneVector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace vorlisk::envs
