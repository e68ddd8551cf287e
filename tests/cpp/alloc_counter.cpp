#include "alloc_counter.hpp"

#include <cstdlib>
#include <new>

namespace {
thread_local int counting = 0;
thread_local long allocations = 0;

void* allocate(std::size_t size) {
  if (counting > 0) ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace vorlisk::testing {

CountAllocations::CountAllocations() : start_(allocations) { ++counting; }
CountAllocations::~CountAllocations() { --counting; }
long CountAllocations::count() const { return allocations - start_; }

}  // namespace vorlisk::testing
