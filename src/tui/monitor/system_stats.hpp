// The three machine figures the device monitor samples, behind an interface so
// that tests can inject their own.
#pragma once

#include <cstdint>
#include <memory>

namespace vorlisk::tui::monitor {

class SystemStats {
 public:
  virtual ~SystemStats() = default;

  // Samples CPU time; cpu_usage() then covers the span since the previous refresh.
  virtual void refresh_cpu() = 0;
  virtual void refresh_memory() = 0;

  // Mean use of all logical CPUs, percent 0 to 100; NaN until two refreshes some
  // time apart have measured it.
  virtual float cpu_usage() const = 0;
  virtual std::uint64_t total_memory_bytes() const = 0;
  virtual std::uint64_t used_memory_bytes() const = 0;
};

// The operating system's figures. Creating it takes a first sample of both.
std::unique_ptr<SystemStats> make_system_stats();

}  // namespace vorlisk::tui::monitor
