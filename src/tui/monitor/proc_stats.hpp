// Parsers for the Linux process-statistics files the monitor reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vorlisk::tui::monitor {

// Jiffies of the aggregate "cpu" line of /proc/stat.
struct CpuTimes {
  std::uint64_t busy = 0;
  std::uint64_t total = 0;
};

// From the start of /proc/stat; nullopt when its first line is not the aggregate
// cpu line.
std::optional<CpuTimes> parse_cpu_times(std::string_view proc_stat) noexcept;

// Busy share of the interval between two samples, in percent; NaN (no figure)
// when no time passed or the counters went backwards.
float cpu_percent(const CpuTimes& before, const CpuTimes& after) noexcept;

struct MemoryFigures {
  std::uint64_t total_bytes = 0;
  std::uint64_t used_bytes = 0;  // total minus available
};

// From /proc/meminfo: MemTotal - MemAvailable (kernels before 3.14 lack
// MemAvailable; MemFree stands in for it there).
MemoryFigures parse_meminfo(std::string_view proc_meminfo) noexcept;

}  // namespace vorlisk::tui::monitor
