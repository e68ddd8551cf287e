// Counting the allocations of the calling thread, for tests of code that must not
// allocate (update(), a warm frame). alloc_counter.cpp replaces the global
// operator new of the test program; it counts only while a CountAllocations lives.
#pragma once

namespace vorlisk::testing {

class CountAllocations {
 public:
  CountAllocations();
  ~CountAllocations();
  CountAllocations(const CountAllocations&) = delete;
  CountAllocations& operator=(const CountAllocations&) = delete;

  // operator new calls of this thread since construction.
  long count() const;

 private:
  long start_;
};

}  // namespace vorlisk::testing
