// update() sits in the training loop and must never allocate; a warm frame
// allocates only what each view builds afresh. This file replaces the global
// operator new of the test program to count the calling thread's allocations.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "tui/logger/logger.hpp"
#include "tui/term/backend.hpp"
#include "tui/views/views.hpp"
#include "tui_test_support.hpp"

namespace {
thread_local bool counting = false;
thread_local long allocations = 0;

void* allocate(std::size_t size) {
  allocations += counting;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace vorlisk::tui {
namespace {

template <class F>
long allocations_of(F&& f) {
  allocations = 0;
  counting = true;
  f();
  counting = false;
  return allocations;
}

TEST(LoggerUpdate, AllocatesNothingWhateverItDoes) {
  Logger logger({.history_len = 4, .csv_path = "/dev/null", .update_interval_steps = 0,
                 .monitor_sources = testing::fake_sources()});
  // Enough rows to fill and flush the CSV buffer many times and to wrap the
  // histories, with every optional figure present.
  EXPECT_EQ(allocations_of([&] {
              for (std::uint64_t i = 0; i < 5000; ++i) {
                logger.update({.steps = i, .episodes = i, .mean_reward = 1e300, .sps = -1.5,
                               .policy_loss = 0.1, .gpu_usage = 50.0, .gpu_memory = 1e30,
                               .total_gpu_memory = 2.0});
              }
            }),
            0);
  EXPECT_EQ(logger.shared().history->lock()->size(), 4u);
}

class NullOutput : public term::Output {
 public:
  void write(std::string_view) override {}
  void flush() override {}
};

// One bar series per sparkline, one point list per chart dataset and the label
// list of each chart axis (labels are short enough to live inside their strings);
// the terminal's buffers and output text are reused.
TEST(WarmFrame, AllocatesOnlyItsSeriesPointsAndAxisLabels) {
  struct Case {
    TUIMode mode;
    bool gpu;
    long allocations;
  };
  for (Case c : {Case{TUIMode::Minimal, false, 0},
                 Case{TUIMode::Dashboard, false, 3},  // reward, CPU, RAM
                 Case{TUIMode::Dashboard, true, 5},   // and GPU, VRAM
                 Case{TUIMode::Chart, false, 5 + 2 * 4},  // Losses has two datasets
                 Case{TUIMode::Chart, true, 7 + 2 * 6}}) {
    testing::ViewState v;
    v.metrics.cpu_usage.store(42.0);
    v.metrics.total_memory_mb.store(4000);
    if (c.gpu) v.metrics.total_gpu_memory_mb.store(8000);
    for (std::uint64_t i = 0; i < 150; ++i) {  // wraps the 100-point history
      double x = static_cast<double>(i);
      v.append({.steps = i * 1000, .mean_reward = x, .policy_loss = 1 / (x + 1), .cpu_usage = 40,
                .gpu_usage = 70, .memory_percent = 25, .gpu_memory_percent = 50});
    }
    NullOutput output;
    term::Terminal terminal(output, term::ColorMode::Colors);
    auto frame = [&](std::uint64_t steps) {
      v.metrics.steps.store(steps);
      terminal.draw(term::Size{200, 60}, [&](term::Frame& f) { views::render_view(c.mode, f, v.state); });
    };
    frame(1);
    frame(2);
    EXPECT_EQ(allocations_of([&] { frame(3); }), c.allocations)
        << static_cast<int>(c.mode) << (c.gpu ? " with GPU" : "");
  }
}

}  // namespace
}  // namespace vorlisk::tui
