#include "envs/core/memory_limit.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlisk::envs {
namespace {

std::optional<std::string> read_file(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return std::nullopt;
  std::string text;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
  std::fclose(f);
  return text;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t end; (end = text.find(separator)) != std::string_view::npos;) {
    parts.push_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  parts.push_back(text);
  return parts;
}

bool lists(std::string_view comma_list, std::string_view item) {
  for (std::string_view part : split(comma_list, ',')) {
    if (part == item) return true;
  }
  return false;
}

// mountinfo writes a space, tab, newline or backslash in a path as \ooo (octal).
std::string unescape(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                               (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

struct Mount {
  std::string root;   // the hierarchy's path that is mounted
  std::string point;  // where
};

// A limit file's value. "max" (v2) and sizes no machine has (v1 writes "none" as
// about 2**63) mean no limit.
std::uint64_t parse_limit(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec != std::errc() || value >= (std::uint64_t{1} << 62) ? UINT64_MAX : value;
}

// Lowers `limit` to the lowest `file` from the cgroup at `path` up to the mount.
void lower_to_hierarchy_limit(const std::string& root, const Mount& mount, std::string_view path,
                              const char* file, CgroupLimit& limit) {
  // The mount shows the hierarchy from mount.root down. A container without a
  // cgroup namespace sees its host path there; a path outside the mount (or one
  // climbing out of a namespace) leaves only the mount point to read.
  if (mount.root != "/") {
    const bool inside = path.starts_with(mount.root) &&
                        (path.size() == mount.root.size() || path[mount.root.size()] == '/');
    path = inside ? path.substr(mount.root.size()) : std::string_view();
  }
  if (path == "/.." || path.starts_with("/../")) path = {};
  std::string dir = root + mount.point;
  const std::size_t top = dir.size();
  dir += path;
  while (dir.size() > top && dir.back() == '/') dir.pop_back();
  for (;;) {
    if (const auto text = read_file(dir + "/" + file)) {
      if (const std::uint64_t bytes = parse_limit(*text); bytes < limit.bytes) {
        limit = {bytes, dir + "/" + file};
      }
    }
    if (dir.size() <= top) return;
    dir.resize(dir.rfind('/'));
  }
}

// The address space this process already maps, from /proc (0 where unreadable).
std::uint64_t mapped_bytes() noexcept {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  unsigned long long pages = 0;
  const int got = std::fscanf(f, "%llu", &pages);
  std::fclose(f);
  const long page = sysconf(_SC_PAGESIZE);
  return got == 1 && page > 0 ? pages * static_cast<std::uint64_t>(page) : 0;
}

}  // namespace

CgroupLimit cgroup_memory_limit(const std::string& root) {
  CgroupLimit limit;
  const auto groups = read_file(root + "/proc/self/cgroup");
  const auto mounts = read_file(root + "/proc/self/mountinfo");
  if (!groups || !mounts) return limit;
  // "id parent device root point options [optional fields] - type source super-options"
  std::optional<Mount> v2, v1;
  for (std::string_view line : split(*mounts, '\n')) {
    const auto fields = split(line, ' ');
    std::size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (dash + 3 >= fields.size()) continue;
    if (fields[dash + 1] == "cgroup2" && !v2) {
      v2 = Mount{unescape(fields[3]), unescape(fields[4])};
    } else if (fields[dash + 1] == "cgroup" && !v1 && lists(fields[dash + 3], "memory")) {
      v1 = Mount{unescape(fields[3]), unescape(fields[4])};
    }
  }
  // "hierarchy-id:controllers:path"; v2's line is "0::path".
  for (std::string_view line : split(*groups, '\n')) {
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos) continue;
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    const std::string_view path = line.substr(second + 1);
    if (line.substr(0, first) == "0" && controllers.empty() && v2) {
      lower_to_hierarchy_limit(root, *v2, path, "memory.max", limit);
    } else if (v1 && lists(controllers, "memory")) {
      lower_to_hierarchy_limit(root, *v1, path, "memory.limit_in_bytes", limit);
    }
  }
  return limit;
}

MemoryLimits current_memory_limits() noexcept {
  MemoryLimits limits;
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page > 0) {
    limits.physical_bytes = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
  }
  try {
    limits.cgroup = cgroup_memory_limit("");
  } catch (...) {  // out of memory reading a few small files: check the other limits
  }
  rlimit as{};
  if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) {
    const std::uint64_t cap = as.rlim_cur;
    const std::uint64_t used = mapped_bytes();
    limits.address_space_bytes = cap > used ? cap - used : 0;
  }
  return limits;
}

void check_fits(std::size_t count, std::size_t bytes_per_item, const char* items,
                const MemoryLimits& limits) {
  std::uint64_t bytes = 0;
  const bool overflow = __builtin_mul_overflow(static_cast<std::uint64_t>(count),
                                               static_cast<std::uint64_t>(bytes_per_item), &bytes);
  const std::string needed = overflow ? "more than 2**64 bytes"
                                      : "about " + std::to_string(bytes) + " bytes";
  const std::string what = needed + " for " + std::to_string(count) + " " + items;
  if (overflow || bytes > limits.physical_bytes) {
    throw OutOfMemory("not enough memory: " + what + ", more than the machine's " +
                      std::to_string(limits.physical_bytes) + " bytes of physical memory");
  }
  if (bytes > limits.cgroup.bytes) {
    throw OutOfMemory("not enough memory: " + what + ", more than the " +
                      std::to_string(limits.cgroup.bytes) +
                      " bytes the memory limit of this process's control group (" +
                      limits.cgroup.file + ") allows");
  }
  if (bytes > limits.address_space_bytes) {
    throw OutOfMemory("not enough memory: " + what + ", more than the " +
                      std::to_string(limits.address_space_bytes) +
                      " bytes the address-space limit (RLIMIT_AS) leaves this process");
  }
}

}  // namespace vorlisk::envs
