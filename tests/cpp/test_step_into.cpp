// The step that converts its actions and writes its results into the caller's arrays,
// over every task: the arrays must hold what the engine's own writers give after the
// plain step, on both paths, in every autoreset mode, across tiles and the tail; and
// engines stepped from several threads at once (as Python does with the GIL let go)
// must give what they give alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "envs/core/in_use.hpp"
#include "envs/tasks/registry.hpp"

namespace vorlisk::envs::tasks {
namespace {

template <class List>
struct GTestTypes;
template <class... Tasks>
struct GTestTypes<TaskList<Tasks...>> {
  using type = ::testing::Types<Tasks...>;
};

template <class Engine>
class StepInto : public ::testing::Test {};
TYPED_TEST_SUITE(StepInto, typename GTestTypes<Registry>::type);

// Two tiles, part of a third and a tail that is not a whole block.
constexpr std::size_t kLanes = 2 * kTileLanes + 13;

// Short episodes, so that every task's lanes finish and restart within a short run.
constexpr std::uint32_t kLimit = 7;

std::int32_t action(std::size_t lane, int step) {
  constexpr std::int32_t kMenu[] = {0, 1, 2, -1, 1, 0, 3};
  return kMenu[(lane * 5 + static_cast<std::size_t>(step) * 3) % 7];
}

struct Results {
  std::vector<float> observations, rewards;
  std::vector<std::uint8_t> terminals, truncations;
  explicit Results(std::size_t n, std::size_t k)
      : observations(n * k), rewards(n), terminals(n), truncations(n) {}
  StepResults out() {
    return {observations.data(), rewards.data(), terminals.data(), truncations.data()};
  }
  bool operator==(const Results&) const = default;
};

// Every step's results, through step_into with int32 actions stored `misalign`
// bytes off their natural alignment, and the log at the end.
template <class Engine>
std::vector<Results> run_into(std::size_t n, std::size_t workers, AutoresetMode mode,
                              bool per_lane, std::size_t misalign, int steps, float* total) {
  auto env = Engine::with_workers(n, workers);
  env.autoreset_mode = mode;
  env.max_steps = kLimit;
  env.reset(5);
  std::vector<char> bytes(n * sizeof(std::int32_t) + misalign);
  std::vector<float> converted(n);
  std::vector<Results> trace;
  for (int step = 0; step < steps; ++step) {
    for (std::size_t i = 0; i < n; ++i) {
      const std::int32_t a = action(i, step);
      std::memcpy(bytes.data() + misalign + i * sizeof a, &a, sizeof a);
    }
    Results r(n, Engine::kObservationSize);
    // Poison, so that a lane left unwritten shows.
    std::fill(r.observations.begin(), r.observations.end(), -123.0f);
    std::fill(r.terminals.begin(), r.terminals.end(), 9);
    const StepActions actions{n, nullptr, bytes.data() + misalign, converted.data()};
    per_lane ? env.step_into_per_lane(actions, r.out()) : env.step_into(actions, r.out());
    trace.push_back(std::move(r));
  }
  *total = env.log.total_reward;
  return trace;
}

template <class Engine>
std::vector<Results> run_plain(std::size_t n, std::size_t workers, AutoresetMode mode,
                               bool per_lane, int steps, float* total) {
  auto env = Engine::with_workers(n, workers);
  env.autoreset_mode = mode;
  env.max_steps = kLimit;
  env.reset(5);
  std::vector<float> actions(n);
  std::vector<Results> trace;
  for (int step = 0; step < steps; ++step) {
    for (std::size_t i = 0; i < n; ++i) actions[i] = static_cast<float>(action(i, step));
    per_lane ? env.step_auto_reset_parallel(actions) : env.step_auto_reset(actions);
    Results r(n, Engine::kObservationSize);
    env.write_observations(r.observations);
    env.write_rewards(r.rewards);
    env.write_terminals(r.terminals);
    env.write_truncations(r.truncations);
    trace.push_back(std::move(r));
  }
  *total = env.log.total_reward;
  return trace;
}

TYPED_TEST(StepInto, ResultsInPlaceEqualTheWritersOnEveryPathAndMode) {
  struct Case {
    std::size_t workers;
    bool per_lane;
    std::size_t misalign;
  };
  for (const AutoresetMode mode :
       {AutoresetMode::kSameStep, AutoresetMode::kNextStep, AutoresetMode::kDisabled}) {
    for (const Case c : {Case{1, false, 0}, Case{1, false, 1}, Case{3, false, 0}, Case{1, true, 2}}) {
      float total_into = 0.0f, total_plain = 0.0f;
      const auto into = run_into<TypeParam>(kLanes, c.workers, mode, c.per_lane, c.misalign, 30,
                                            &total_into);
      const auto plain = run_plain<TypeParam>(kLanes, c.workers, mode, c.per_lane, 30, &total_plain);
      for (std::size_t s = 0; s < into.size(); ++s) {
        ASSERT_TRUE(into[s] == plain[s]) << "step " << s << ", mode " << static_cast<int>(mode)
                                         << ", workers " << c.workers << ", per lane " << c.per_lane;
      }
      EXPECT_EQ(std::memcmp(&total_into, &total_plain, sizeof(float)), 0);
    }
  }
}

// Engines of their own, each on its own thread and sharing the worker pool, step as
// they do one after the other. Under ThreadSanitizer this is the check that a step
// holds no state outside its engine.
TYPED_TEST(StepInto, EnginesOnSeveralThreadsStepAsTheyDoAlone) {
  constexpr std::size_t kThreads = 3;
  constexpr std::size_t kN = kTileLanes + 40;
  std::vector<std::vector<Results>> alone(kThreads), together(kThreads);
  std::vector<float> totals(kThreads);
  for (std::size_t t = 0; t < kThreads; ++t) {
    alone[t] = run_into<TypeParam>(kN, t + 1, AutoresetMode::kSameStep, false, 0, 12, &totals[t]);
  }
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      float total = 0.0f;
      together[t] = run_into<TypeParam>(kN, t + 1, AutoresetMode::kSameStep, false, 0, 12, &total);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(alone, together);
}

// However the threads interleave, one claim at a time holds the flag.
TEST(InUse, OneClaimAtATime) {
  InUse flag;
  int holders = 0, most = 0, claims = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        const Claim claim(flag);
        if (!claim) continue;
        // Plain ints: a second holder would be a data race ThreadSanitizer reports.
        ++holders;
        most = std::max(most, holders);
        ++claims;
        --holders;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(most, 1);
  EXPECT_GT(claims, 0);
  const Claim first(flag);
  EXPECT_TRUE(first);
  EXPECT_FALSE(Claim(flag));
}

}  // namespace
}  // namespace vorlisk::envs::tasks
