// Engine-only cost: nanoseconds per lane-step of the blocks (single-thread
// path, lane count a multiple of eight) and of the exact formulas (the chunked
// path with one chunk), without Python or auto-reset in the way; then the chunked
// path with two chunks on the worker pool (wall time per lane) and its speed-up over
// the blocks.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "envs/tasks/registry.hpp"

namespace {

using Clock = std::chrono::steady_clock;

template <class Step>
double ns_per_lane(std::size_t lanes, Step step) {
  std::size_t reps = 1;
  for (;;) {
    const auto start = Clock::now();
    for (std::size_t r = 0; r < reps; ++r) step();
    const double elapsed = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    if (elapsed > 2e8) return elapsed / static_cast<double>(reps * lanes);
    reps *= 2;
  }
}

// Each measured step starts from the same freshly reset lanes (restored by copy, a
// cost measured alone and subtracted), so no lane finishes or drifts into
// unphysical values however often the step is repeated.
template <class Engine>
double measure(std::size_t lanes, bool blocks, std::size_t workers = 1) {
  Engine start = Engine::with_workers(lanes, workers);
  start.reset(7);
  Engine engine = start;
  std::vector<float> actions(lanes);
  for (std::size_t i = 0; i < lanes; ++i) actions[i] = static_cast<float>((i * 7919) % 3 % 2);
  const double restore = ns_per_lane(lanes, [&] { engine = start; });
  const double step = ns_per_lane(lanes, [&] {
    engine = start;
    blocks ? engine.step_simd(actions) : engine.step_parallel(actions);
  });
  return step - restore;
}

template <class Engine>
void report(std::size_t lanes) {
  const char* name = Engine::kNames.title;
  const double blocks = measure<Engine>(lanes, true);
  const double per_lane = measure<Engine>(lanes, false);
  const double two_chunks = measure<Engine>(lanes, false, 2);
  std::printf(
      "%-21s lanes %6zu  blocks %6.2f ns/lane  exact formulas %6.2f ns/lane (%.2fx)"
      "  2 chunks %6.2f ns/lane (%.2fx the blocks' speed)\n",
      name, lanes, blocks, per_lane, per_lane / blocks, two_chunks, blocks / two_chunks);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t lanes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 4096;
  vorlisk::envs::tasks::Registry::each([&]<class Task>(std::size_t) { report<Task>(lanes); });
  return 0;
}
