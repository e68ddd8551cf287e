// Refusing, before anything is allocated, an object that cannot fit in memory.
//
// Zero-filling arrays larger than the machine's memory does not fail cleanly: the
// kernel overcommits, and its out-of-memory killer ends the process (and maybe
// others) half-way through. So the bytes an object will need are compared first
// with the physical memory, with the memory limit of the process's control group
// (a container's), and with the address-space limit, where those are set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace vorlisk::envs {

// Raised when an object would need more memory than there is; what() says how many
// bytes for how many items, and which limit they exceed.
class OutOfMemory : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct CgroupLimit {
  std::uint64_t bytes = UINT64_MAX;  // UINT64_MAX: none
  std::string file;                  // the file that sets it
};

struct MemoryLimits {
  std::uint64_t physical_bytes = UINT64_MAX;  // UINT64_MAX: unknown
  CgroupLimit cgroup;
  std::uint64_t address_space_bytes = UINT64_MAX;  // what RLIMIT_AS leaves; UINT64_MAX: none
};

// The limits of this process now.
MemoryLimits current_memory_limits() noexcept;

// The lowest memory limit on the way from this process's control group up to its
// hierarchy's root: memory.max under cgroup v2, memory.limit_in_bytes under the
// memory controller of v1, whichever the process is in. `root` goes in front of
// every path read (/proc/self/cgroup, /proc/self/mountinfo and the mounts these
// name); "" reads the system's own.
CgroupLimit cgroup_memory_limit(const std::string& root);

// Throws OutOfMemory unless `count` items of `bytes_per_item` bytes each fit within
// `limits`; `items` names them in the message ("lanes", "history points").
void check_fits(std::size_t count, std::size_t bytes_per_item, const char* items,
                const MemoryLimits& limits);

inline void check_fits(std::size_t count, std::size_t bytes_per_item, const char* items) {
  check_fits(count, bytes_per_item, items, current_memory_limits());
}

}  // namespace vorlisk::envs
