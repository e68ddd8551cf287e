// What drawing the training monitor costs the training process: CPU time per frame
// (building the view into a cell buffer plus the terminal's diff against the
// previous frame, written to an output that discards it) and bytes written, for
// each view at 200 x 60 with a full 1,000-point history and GPU figures, and the
// dashboard and chart views again with eight metrics of the training loop's own.
//
//   frame_bench [frames]
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "tui/logger/shared_state.hpp"
#include "tui/term/backend.hpp"
#include "tui/views/views.hpp"

namespace {

using namespace vorlisk::tui;

class CountingOutput : public term::Output {
 public:
  void write(std::string_view bytes) override { written += bytes.size(); }
  void flush() override {}
  std::size_t written = 0;
};

double thread_cpu_ns() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

const std::vector<std::string> kUserMetrics = {"kl",      "clip_frac", "lr",            "episode_len",
                                               "epsilon", "grad_norm", "explained_var", "q_value"};

// Metric k of the loop's own at point i: waves on scales from 0.01 to 100.
double user_metric(std::size_t k, std::size_t i) {
  return std::pow(10.0, static_cast<double>(k % 5) - 2.0) * (1.5 + std::sin(static_cast<double>(i) * 0.05 + static_cast<double>(k)));
}

// A run in mid-training: a 1,000-point history along a learning curve.
SharedState make_state(std::size_t points, std::size_t user_metrics) {
  SharedState state = SharedState::create(
      TUIMode::Chart, points, {kUserMetrics.begin(), kUserMetrics.begin() + static_cast<std::ptrdiff_t>(user_metrics)});
  double latest[8];
  for (std::size_t k = 0; k < user_metrics; ++k) latest[k] = user_metric(k, points);
  state.user_metrics->store({latest, (1u << user_metrics) - 1});
  MetricsBuffer& m = *state.metrics;
  m.episodes.store(81'234);
  m.mean_reward.store(187.35);
  m.sps.store(51'234.0);
  m.policy_loss.store(0.0123);
  m.value_loss.store(0.48);
  m.entropy.store(0.69);
  m.cpu_usage.store(43.5);
  m.gpu_usage.store(71.0);
  m.memory_mb.store(10'240);
  m.total_memory_mb.store(32'768);
  m.gpu_memory_mb.store(6'144);
  m.total_gpu_memory_mb.store(8'192);
  auto history = state.history->lock();
  for (std::size_t i = 0; i < points; ++i) {
    double t = static_cast<double>(i) / static_cast<double>(points);
    double wiggle = static_cast<double>((i * 7919) % 101) / 100.0 - 0.5;
    double user[8];
    for (std::size_t k = 0; k < user_metrics; ++k) user[k] = user_metric(k, i);
    history->append({.steps = (i + 1) * 10'000,
                     .mean_reward = 200.0 * t + 10.0 * wiggle,
                     .sps = 51'000.0,
                     .policy_loss = 0.05 * (1.0 - t) + 0.01 * wiggle,
                     .value_loss = 2.0 * (1.0 - t) + 0.2 * wiggle,
                     .cpu_usage = 40.0 + 10.0 * wiggle,
                     .gpu_usage = 70.0 + 10.0 * wiggle,
                     .memory_percent = 30.0 + 5.0 * t,
                     .gpu_memory_percent = 75.0},
                    {user, user_metrics});
  }
  return state;
}

struct Result {
  double cpu_us;             // median over batches, per frame
  std::size_t step_bytes;    // a frame in which only the step count changed
  std::size_t point_bytes;   // a frame after a new history point
};

Result measure(TUIMode mode, std::size_t user_metrics, int frames) {
  SharedState state = make_state(1000, user_metrics);
  CountingOutput output;
  term::Terminal terminal(output, term::ColorMode::Colors);
  const term::Size size{200, 60};
  auto view = [&](term::Frame& frame) { views::render_view(mode, frame, state); };
  std::uint64_t steps = 10'000'000;
  auto next_frame = [&] {
    state.metrics->steps.store(++steps);
    terminal.draw(size, view);
  };
  for (int i = 0; i < 3; ++i) next_frame();  // sizes the buffers

  // Every frame changes the step count, as in training.
  std::vector<double> batches;
  for (int batch = 0; batch < 9; ++batch) {
    double start = thread_cpu_ns();
    for (int i = 0; i < frames; ++i) next_frame();
    batches.push_back((thread_cpu_ns() - start) / frames / 1000.0);
  }
  std::nth_element(batches.begin(), batches.begin() + 4, batches.end());

  Result r{batches[4], 0, 0};
  std::size_t before = output.written;
  next_frame();
  r.step_bytes = output.written - before;

  const double user[8] = {0.02, 0.2, 2.0, 20.0, 200.0, 0.02, 0.2, 2.0};
  state.history->lock()->append({.steps = steps, .mean_reward = 210.0, .policy_loss = 0.01,
                                 .value_loss = 0.3, .cpu_usage = 45.0, .gpu_usage = 72.0,
                                 .memory_percent = 35.0, .gpu_memory_percent = 75.0},
                                {user, user_metrics});
  before = output.written;
  next_frame();
  r.point_bytes = output.written - before;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  std::printf("200 x 60 cells, 1,000-point history, GPU figures; CPU time of the drawing thread,\n"
              "median of 9 batches of %d frames (each frame with a new step count)\n\n", frames);
  std::printf("| view                  | CPU per frame | vs 1 ms target | core share at 100 ms | bytes, steps changed "
              "| bytes, new history point |\n");
  std::printf("|---|---|---|---|---|---|\n");
  const struct {
    const char* name;
    TUIMode mode;
    std::size_t user_metrics;
  } views[] = {{"minimal", TUIMode::Minimal, 0},
               {"dashboard", TUIMode::Dashboard, 0},
               {"chart", TUIMode::Chart, 0},
               {"dashboard + 8 metrics", TUIMode::Dashboard, 8},
               {"chart + 8 metrics", TUIMode::Chart, 8}};
  for (const auto& v : views) {
    Result r = measure(v.mode, v.user_metrics, frames);
    std::printf("| %-21s | %9.1f us | %13.2fx | %19.3f%% | %20zu | %24zu |\n", v.name, r.cpu_us,
                r.cpu_us / 1000.0, r.cpu_us / 100'000.0 * 100.0, r.step_bytes, r.point_bytes);
  }
  return 0;
}
