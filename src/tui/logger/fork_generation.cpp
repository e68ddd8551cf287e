#include "tui/logger/fork_generation.hpp"

#include <pthread.h>

#include <atomic>

namespace vorlisk::tui {
namespace {

std::atomic<std::uint64_t> generation{0};

void count_fork_in_child() { generation.fetch_add(1, std::memory_order_relaxed); }

// Registered when the library loads, so that every fork after that is counted.
const bool registered = [] { return pthread_atfork(nullptr, nullptr, count_fork_in_child) == 0; }();

}  // namespace

std::uint64_t fork_generation() noexcept {
  (void)registered;
  return generation.load(std::memory_order_relaxed);
}

}  // namespace vorlisk::tui
