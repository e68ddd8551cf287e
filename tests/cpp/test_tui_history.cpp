#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tui/logger/history.hpp"
#include "tui/logger/logger.hpp"
#include "tui_test_support.hpp"

namespace vorlisk::tui {
namespace {

std::vector<std::uint64_t> history_steps(const Logger& logger) {
  auto history = logger.shared().history->lock();
  std::vector<std::uint64_t> steps;
  for (std::size_t i = 0; i < history->size(); ++i) steps.push_back(history->steps()[i]);
  return steps;
}

struct TrimCase {
  std::size_t history_len;
  int appended;
  std::vector<std::uint64_t> kept;
};

class HistoryTrim : public ::testing::TestWithParam<TrimCase> {};

TEST_P(HistoryTrim, KeepsTheNewestPointsInStepWithEachOther) {
  const TrimCase& c = GetParam();
  HistoryBuffer history(c.history_len);
  for (int i = 1; i <= c.appended; ++i) {
    double x = i;
    history.append({static_cast<std::uint64_t>(i), x, x + 1, x + 2, x + 3, x + 4, x + 5, x + 6, x + 7});
  }
  ASSERT_EQ(history.size(), c.kept.size());
  for (std::size_t i = 0; i < c.kept.size(); ++i) {
    double x = static_cast<double>(c.kept[i]);
    EXPECT_EQ(history.steps()[i], c.kept[i]);
    EXPECT_EQ(history.mean_reward()[i], x);
    EXPECT_EQ(history.gpu_memory_percent()[i], x + 7);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, HistoryTrim,
    ::testing::Values(TrimCase{3, 5, {3, 4, 5}}, TrimCase{3, 2, {1, 2}}, TrimCase{0, 1, {1}},
                      TrimCase{0, 4, {4}}, TrimCase{1, 3, {3}}, TrimCase{4, 11, {8, 9, 10, 11}}),
    [](const auto& info) {
      return "Len" + std::to_string(info.param.history_len) + "Appended" +
             std::to_string(info.param.appended);
    });

TEST(HistoryBuffer, ImpossibleReservationThrowsBadAlloc) {
  EXPECT_THROW(HistoryBuffer(SIZE_MAX), std::bad_alloc);
}

struct GateCase {
  const char* name;
  std::uint64_t update_interval_steps;
  std::vector<std::uint64_t> calls;
  std::vector<std::uint64_t> appended;
};

class HistoryGate : public ::testing::TestWithParam<GateCase> {};

TEST_P(HistoryGate, AppendsWhenStepsMovedAWholeIntervalPastTheLastPoint) {
  const GateCase& c = GetParam();
  Logger logger({.update_interval_steps = c.update_interval_steps,
                 .monitor_sources = testing::fake_sources()});
  for (std::uint64_t steps : c.calls) logger.update({.steps = steps});
  EXPECT_EQ(history_steps(logger), c.appended);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, HistoryGate,
    ::testing::Values(GateCase{"DefaultInterval", 10000, {5000, 10000, 15000, 20000}, {10000, 20000}},
                      GateCase{"EveryCallAtIntervalZero", 0, {0, 1, 1, 2}, {0, 1, 1, 2}},
                      GateCase{"StepZeroIsNotAnInterval", 10000, {0}, {}},
                      GateCase{"NewRunWithSmallerSteps", 10000,
                               {60000, 100, 5000, 69999, 70000}, {60000, 70000}},
                      GateCase{"NewRunAtIntervalZero", 0, {60000, 100}, {60000, 100}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HistoryGate, GpuMemoryPercentIsZeroUntilTheTotalIsKnown) {
  Logger logger({.update_interval_steps = 0, .monitor_sources = testing::fake_sources()});
  logger.update({.steps = 1, .gpu_memory = 5000.0});
  logger.update({.steps = 2, .total_gpu_memory = 10000.0});
  auto history = logger.shared().history->lock();
  ASSERT_EQ(history->size(), 2u);
  EXPECT_EQ(history->gpu_memory_percent()[0], 0.0);
  EXPECT_EQ(history->gpu_memory_percent()[1], 50.0);
}

}  // namespace
}  // namespace vorlisk::tui
