#include "tui/monitor/proc_stats.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <limits>

#include "tui/monitor/system_stats.hpp"

namespace vorlisk::tui::monitor {

namespace {

// Reads the next unsigned number after optional spaces; false at the end of the line.
bool next_number(std::string_view& text, std::uint64_t* out) noexcept {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), *out);
  if (ec != std::errc()) return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return true;
}

// The value of "Key:   123 kB" in bytes, if the key is present.
std::optional<std::uint64_t> meminfo_value(std::string_view text, std::string_view key) noexcept {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t eol = text.find('\n', at);
    std::string_view line = text.substr(at, eol == std::string_view::npos ? eol : eol - at);
    if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == ':') {
      line.remove_prefix(key.size() + 1);
      std::uint64_t kib = 0;
      if (!next_number(line, &kib)) return std::nullopt;
      return kib * 1024;
    }
    if (eol == std::string_view::npos) break;
    at = eol + 1;
  }
  return std::nullopt;
}

}  // namespace

std::optional<CpuTimes> parse_cpu_times(std::string_view text) noexcept {
  if (text.substr(0, 4) != "cpu ") return std::nullopt;
  text.remove_prefix(4);
  text = text.substr(0, text.find('\n'));
  // user nice system idle iowait irq softirq steal guest guest_nice. Guest time is
  // already counted in user and nice, so it is left out of the total.
  std::uint64_t fields[8] = {};
  int count = 0;
  while (count < 8 && next_number(text, &fields[count])) ++count;
  if (count < 4) return std::nullopt;
  CpuTimes times;
  for (int i = 0; i < count; ++i) times.total += fields[i];
  times.busy = times.total - fields[3] - fields[4];
  return times;
}

float cpu_percent(const CpuTimes& before, const CpuTimes& after) noexcept {
  if (after.total <= before.total || after.busy < before.busy) {
    return std::numeric_limits<float>::quiet_NaN();
  }
  double busy = static_cast<double>(after.busy - before.busy);
  double total = static_cast<double>(after.total - before.total);
  double percent = busy / total * 100.0;
  return static_cast<float>(percent > 100.0 ? 100.0 : percent);
}

MemoryFigures parse_meminfo(std::string_view text) noexcept {
  MemoryFigures figures;
  figures.total_bytes = meminfo_value(text, "MemTotal").value_or(0);
  std::optional<std::uint64_t> available = meminfo_value(text, "MemAvailable");
  if (!available) available = meminfo_value(text, "MemFree");
  std::uint64_t free = available.value_or(0);
  figures.used_bytes = free < figures.total_bytes ? figures.total_bytes - free : 0;
  return figures;
}

namespace {

// Keeps both files open and rereads them from the start, so a sample costs two
// system calls each and allocates nothing.
class ProcStats final : public SystemStats {
 public:
  ProcStats()
      : stat_fd_(::open("/proc/stat", O_RDONLY | O_CLOEXEC)),
        meminfo_fd_(::open("/proc/meminfo", O_RDONLY | O_CLOEXEC)) {
    refresh_memory();
    refresh_cpu();
  }
  ~ProcStats() override {
    if (stat_fd_ >= 0) ::close(stat_fd_);
    if (meminfo_fd_ >= 0) ::close(meminfo_fd_);
  }

  void refresh_cpu() override {
    std::optional<CpuTimes> now = parse_cpu_times(read_all(stat_fd_));
    if (!now) return;
    // The first refresh right after the one at construction usually finds no time
    // passed: the last figure (or none yet) stands.
    if (previous_) {
      const float percent = cpu_percent(*previous_, *now);
      if (!std::isnan(percent)) usage_ = percent;
    }
    previous_ = now;
  }
  void refresh_memory() override { memory_ = parse_meminfo(read_all(meminfo_fd_)); }

  float cpu_usage() const override { return usage_; }
  std::uint64_t total_memory_bytes() const override { return memory_.total_bytes; }
  std::uint64_t used_memory_bytes() const override { return memory_.used_bytes; }

 private:
  // The first few kilobytes hold every line we read (the aggregate cpu line comes
  // first, and MemAvailable is the third line of meminfo).
  std::string_view read_all(int fd) noexcept {
    if (fd < 0) return {};
    ssize_t n = ::pread(fd, buffer_, sizeof buffer_, 0);
    return n > 0 ? std::string_view(buffer_, static_cast<std::size_t>(n)) : std::string_view();
  }

  int stat_fd_;
  int meminfo_fd_;
  char buffer_[4096];
  std::optional<CpuTimes> previous_;
  float usage_ = std::numeric_limits<float>::quiet_NaN();  // not measured yet
  MemoryFigures memory_;
};

}  // namespace

std::unique_ptr<SystemStats> make_system_stats() { return std::make_unique<ProcStats>(); }

}  // namespace vorlisk::tui::monitor
