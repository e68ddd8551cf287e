#include "envs/core/lane_allocator.hpp"

#include <atomic>
#include <cstdint>
#include <cstring>

namespace vorlisk::envs {
namespace {

constexpr std::size_t kLine = 64;
constexpr std::size_t kPage = 4096;
constexpr std::size_t kStagger = 256;  // 16 different offsets within a page
// Smaller arrays are not worth a page of padding (a one-lane engine has a dozen).
constexpr std::size_t kStaggerFrom = kPage;

std::atomic<std::size_t> next_offset{0};

}  // namespace

void* allocate_lane_bytes(std::size_t bytes) {
  const bool stagger = bytes >= kStaggerFrom;
  const std::size_t alignment = stagger ? kPage : kLine;
  // A header line before the array keeps the pointer to free.
  const std::size_t offset =
      kLine + (stagger ? (next_offset.fetch_add(1, std::memory_order_relaxed) % (kPage / kStagger)) * kStagger : 0);
  if (bytes > SIZE_MAX - offset - kPage) throw std::bad_alloc();
  auto* raw = static_cast<std::byte*>(::operator new(bytes + offset, std::align_val_t(alignment)));
  std::byte* array = raw + offset;
  std::memcpy(array - sizeof(void*), &raw, sizeof(void*));
  std::memcpy(array - 2 * sizeof(void*), &alignment, sizeof(std::size_t));
  return array;
}

void free_lane_bytes(void* p) noexcept {
  if (!p) return;
  auto* array = static_cast<std::byte*>(p);
  void* raw;
  std::size_t alignment;
  std::memcpy(&raw, array - sizeof(void*), sizeof(void*));
  std::memcpy(&alignment, array - 2 * sizeof(void*), sizeof(std::size_t));
  ::operator delete(raw, std::align_val_t(alignment));
}

}  // namespace vorlisk::envs
