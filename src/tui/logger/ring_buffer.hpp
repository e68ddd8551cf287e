// A first-in-first-out ring of fixed capacity. Its storage is allocated once, at
// construction; push_back and pop_front are constant-time and never allocate.
#pragma once

#include <cassert>
#include <cstddef>
#include <memory>
#include <type_traits>

namespace vorlisk::tui {

template <class T>
class RingBuffer {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  // The storage is left uninitialised, so a large capacity costs address space
  // only until it fills. Throws std::bad_alloc when it cannot be reserved.
  explicit RingBuffer(std::size_t capacity)
      : data_(std::make_unique_for_overwrite<T[]>(capacity)), capacity_(capacity) {}

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }

  // Element i counted from the oldest.
  const T& operator[](std::size_t i) const noexcept {
    assert(i < size_);
    return data_[wrap(head_ + i)];
  }

  // Precondition: the ring is not full.
  void push_back(T value) noexcept {
    assert(size_ < capacity_);
    data_[wrap(head_ + size_)] = value;
    ++size_;
  }

  void pop_front() noexcept {
    if (size_ == 0) return;
    head_ = wrap(head_ + 1);
    --size_;
  }

 private:
  // Indices never exceed 2 * capacity - 1, so one subtraction wraps them.
  std::size_t wrap(std::size_t i) const noexcept { return i >= capacity_ ? i - capacity_ : i; }

  std::unique_ptr<T[]> data_;
  std::size_t capacity_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

}  // namespace vorlisk::tui
