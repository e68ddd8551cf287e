// Helpers shared by the logger's, toolkit's and views' tests.
#pragma once

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "tui/logger/shared_state.hpp"
#include "tui/monitor/monitor.hpp"
#include "tui/term/frame.hpp"

namespace vorlisk::tui::testing {

// An anonymous in-memory file. writer_fd() hands out a descriptor for a writer to
// own, path() a name to open it by; it stays readable here after the writer is gone.
class MemFile {
 public:
  MemFile() : fd_(::memfd_create("vorlisk-test", MFD_CLOEXEC)) {}
  ~MemFile() { ::close(fd_); }
  int writer_fd() const { return ::dup(fd_); }
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }
  std::string contents() const {
    struct stat st {};
    ::fstat(fd_, &st);
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    text.resize(static_cast<std::size_t>(std::max<ssize_t>(::pread(fd_, text.data(), text.size(), 0), 0)));
    return text;
  }

 private:
  int fd_;
};

// Fixed machine figures: 12.5 % CPU, 2 of 8 GiB RAM. `on_cpu_refresh` runs at every
// CPU refresh (the first one at the start of each monitor cycle) with their count.
class FakeStats final : public monitor::SystemStats {
 public:
  using OnCpuRefresh = std::function<void(int)>;
  explicit FakeStats(OnCpuRefresh on_cpu_refresh) : on_cpu_refresh_(std::move(on_cpu_refresh)) {}

  void refresh_cpu() override {
    if (on_cpu_refresh_) on_cpu_refresh_(++cpu_refreshes_);
  }
  void refresh_memory() override {}
  float cpu_usage() const override { return cpu; }
  float cpu = 12.5f;  // NaN: no figure yet
  std::uint64_t total_memory_bytes() const override { return std::uint64_t{8} << 30; }
  std::uint64_t used_memory_bytes() const override { return std::uint64_t{2} << 30; }

 private:
  OnCpuRefresh on_cpu_refresh_;
  int cpu_refreshes_ = 0;
};

// Fails while holding `lock`, as a view that throws half-way would.
template <class T>
void poison(PoisonLock<T>& lock) {
  try {
    auto guard = lock.lock();
    throw std::runtime_error("failed while holding the lock");
  } catch (const std::runtime_error&) {
  }
}

inline constexpr const char* kNoNvml = "libvorlisk-test-no-such-nvml.so";

inline monitor::Sources fake_sources(FakeStats::OnCpuRefresh on_cpu_refresh = {}, std::string nvml = kNoNvml,
                                     float cpu = 12.5f) {
  return {[=] { auto s = std::make_unique<FakeStats>(on_cpu_refresh); s->cpu = cpu; return s; }, std::move(nvml)};
}

inline constexpr auto kNow = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);

// A logger's shared state to fill, and a frame to draw it in; the clock stands still.
struct ViewState {
  SharedState state;
  MetricsBuffer& metrics;

  explicit ViewState(std::chrono::seconds elapsed = {}, std::vector<std::string> user_metrics = {})
      : state(SharedState::create(TUIMode::Minimal, 100, std::move(user_metrics))), metrics(*state.metrics) {
    state.now = []() noexcept { return kNow; };
    state.start_time = kNow - elapsed;
  }

  void append(const HistoryPoint& point, std::vector<double> user = {}) {
    state.history->lock()->append(point, user);
  }

  // Draws a whole view, or a panel given the whole frame as its area.
  template <class View>
  term::Buffer draw(std::uint16_t width, std::uint16_t height, View view) const {
    term::Buffer buffer(term::Rect{0, 0, width, height});
    term::Frame frame{buffer};
    if constexpr (std::is_invocable_v<View, term::Frame&, const SharedState&>) {
      view(frame, state);
    } else {
      view(frame, frame.area(), state);
    }
    return buffer;
  }
};

// Rows y0 .. y1-1 of a buffer (all of them by default) as text.
inline std::vector<std::string> rows(const term::Buffer& b, std::uint16_t y0 = 0,
                                     std::uint16_t y1 = UINT16_MAX) {
  std::vector<std::string> out;
  for (std::uint16_t y = y0; y < std::min(y1, b.area().bottom()); ++y) out.push_back(b.row_text(y));
  return out;
}

// `glyph` repeated n times.
inline std::string line(std::size_t n, std::string_view glyph = "─") {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += glyph;
  return out;
}

}  // namespace vorlisk::tui::testing
