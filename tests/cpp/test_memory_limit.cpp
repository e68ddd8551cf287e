#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "envs/core/memory_limit.hpp"

namespace vorlisk::envs {
namespace {

struct CgroupCase {
  std::string cgroup, mountinfo;
  std::map<std::string, std::string> files;  // under the tree, with their text
  std::uint64_t bytes;
  std::string file;  // the one that sets the limit
};

class CgroupLimitTest : public testing::TestWithParam<CgroupCase> {};

// Files as a container's process sees them; the guard must name the limit it hits.
TEST_P(CgroupLimitTest, TheLowestLimitOfTheProcesssGroupRefuses) {
  const CgroupCase& c = GetParam();
  const auto root = std::filesystem::temp_directory_path() /
                    ("vorlisk-cgroup-" + std::to_string(::getpid()));
  std::filesystem::remove_all(root);
  std::map<std::string, std::string> files = c.files;
  files["proc/self/cgroup"] = c.cgroup;
  files["proc/self/mountinfo"] = c.mountinfo;
  for (const auto& [path, text] : files) {
    std::filesystem::create_directories((root / path).parent_path());
    std::ofstream(root / path) << text;
  }
  const CgroupLimit limit = cgroup_memory_limit(root.string());
  EXPECT_EQ(limit.bytes, c.bytes);
  EXPECT_EQ(limit.file, c.bytes == UINT64_MAX ? "" : root.string() + c.file);
  if (c.bytes != UINT64_MAX) {
    try {
      check_fits(1, c.bytes + 1, "lanes", {.cgroup = limit});
      ADD_FAILURE() << "not refused";
    } catch (const OutOfMemory& e) {
      EXPECT_NE(std::string(e.what()).find("control group (" + limit.file + ")"), std::string::npos);
    }
  }
  std::filesystem::remove_all(root);
}

const std::string kV2 = "30 23 0:26 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n";
const std::string kV1 = "35 31 0:32 /docker/abc /sys/fs/cgroup/mem\\040ory rw shared:9 - cgroup cgroup rw,memory\n";

INSTANTIATE_TEST_SUITE_P(
    Hierarchies, CgroupLimitTest,
    testing::Values(
        // v2: unlimited itself ("max"), limited by its parent
        CgroupCase{"0::/user/app\n", kV2,
                   {{"sys/fs/cgroup/user/app/memory.max", "max\n"},
                    {"sys/fs/cgroup/user/memory.max", "1073741824\n"},
                    {"sys/fs/cgroup/memory.max", "2147483648\n"}},
                   1u << 30, "/sys/fs/cgroup/user/memory.max"},
        // v1 beside an empty v2 hierarchy, mounted from the container's own group
        CgroupCase{"4:memory:/docker/abc\n0::/\n", kV2 + kV1,
                   {{"sys/fs/cgroup/mem ory/memory.limit_in_bytes", "536870912\n"}},
                   512u << 20, "/sys/fs/cgroup/mem ory/memory.limit_in_bytes"},
        // v1's "no limit"; no cgroup files at all
        CgroupCase{"4:memory:/docker/abc\n", kV1,
                   {{"sys/fs/cgroup/mem ory/memory.limit_in_bytes", "9223372036854771712\n"}},
                   UINT64_MAX, ""},
        CgroupCase{"", "", {}, UINT64_MAX, ""}));

}  // namespace
}  // namespace vorlisk::envs
