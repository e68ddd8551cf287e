#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "envs/core/memory_limit.hpp"

namespace vorlisk::envs {
namespace {

// A container's files: the lowest limit from the group up counts, named when it refuses.
TEST(MemoryLimit, TheLowestLimitOfTheProcesssControlGroupRefuses) {
  const auto root = std::filesystem::temp_directory_path() / ("vorlisk-cgroup-" + std::to_string(::getpid()));
  for (const auto& [path, text] : std::initializer_list<std::pair<std::string, std::string>>{
           {"proc/self/mountinfo", "30 23 0:26 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n"  // v1: the container's own group
                                   "35 31 0:32 /docker/abc /sys/fs/cgroup/mem\\040ory rw shared:9 - cgroup x rw,memory\n"},
           {"sys/fs/cgroup/user/app/memory.max", "max\n"},
           {"sys/fs/cgroup/user/memory.max", "1073741824\n"},
           {"sys/fs/cgroup/huge/memory.max", "9223372036854771712\n"},  // how v1 says "none"
           {"sys/fs/cgroup/mem ory/memory.limit_in_bytes", "536870912\n"}}) {
    std::filesystem::create_directories((root / path).parent_path());
    std::ofstream(root / path) << text;
  }
  struct Case { const char* group; std::uint64_t bytes; std::string file; };
  for (const auto& [group, bytes, file] : {Case{"0::/user/app\n", 1u << 30, "user/memory.max"},
                                           Case{"4:memory:/docker/abc\n0::/\n", 512u << 20, "mem ory/memory.limit_in_bytes"},
                                           Case{"0::/huge\n", UINT64_MAX, ""}}) {
    std::ofstream(root / "proc/self/cgroup") << group;
    std::string message;
    const CgroupLimit limit = cgroup_memory_limit(root.string());
    EXPECT_EQ(limit.bytes, bytes) << group;
    if (bytes == UINT64_MAX) continue;
    try { check_fits(1, bytes + 1, "lanes", {.cgroup = limit}); } catch (const OutOfMemory& e) { message = e.what(); }
    EXPECT_NE(message.find("group (" + root.string() + "/sys/fs/cgroup/" + file + ") allows"), message.npos) << message;
  }
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace vorlisk::envs
