// Helpers shared by the logger's tests.
#pragma once

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tui/monitor/monitor.hpp"

namespace vorlisk::tui::testing {

// An anonymous in-memory file. writer_fd() hands out a descriptor for a writer to
// own; the file stays readable here after the writer has closed it.
class MemFile {
 public:
  MemFile() : fd_(::memfd_create("vorlisk-test", MFD_CLOEXEC)) {}
  ~MemFile() { ::close(fd_); }
  int writer_fd() const { return ::dup(fd_); }
  std::size_t size() const {
    struct stat st {};
    ::fstat(fd_, &st);
    return static_cast<std::size_t>(st.st_size);
  }
  std::string contents() const {
    std::string text(size(), '\0');
    ssize_t n = ::pread(fd_, text.data(), text.size(), 0);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
  }

 private:
  int fd_;
};

// Fixed machine figures. `on_cpu_refresh` runs at every CPU refresh (the first one
// at the start of each monitor cycle) with the number of refreshes so far.
class FakeStats final : public monitor::SystemStats {
 public:
  struct Figures {
    float cpu = 12.5f;
    std::uint64_t total_bytes = std::uint64_t{8} << 30;
    std::uint64_t used_bytes = std::uint64_t{2} << 30;
    std::function<void(int)> on_cpu_refresh;
  };
  explicit FakeStats(Figures figures) : figures_(std::move(figures)) {}

  void refresh_cpu() override {
    if (figures_.on_cpu_refresh) figures_.on_cpu_refresh(++cpu_refreshes_);
  }
  void refresh_memory() override {}
  float cpu_usage() const override { return figures_.cpu; }
  std::uint64_t total_memory_bytes() const override { return figures_.total_bytes; }
  std::uint64_t used_memory_bytes() const override { return figures_.used_bytes; }

 private:
  Figures figures_;
  int cpu_refreshes_ = 0;
};

inline constexpr const char* kNoNvml = "libvorlisk-test-no-such-nvml.so";

inline monitor::Sources fake_sources(FakeStats::Figures figures = {},
                                     std::string nvml = kNoNvml) {
  return monitor::Sources{
      [figures] { return std::make_unique<FakeStats>(figures); },
      std::move(nvml),
  };
}

}  // namespace vorlisk::tui::testing
