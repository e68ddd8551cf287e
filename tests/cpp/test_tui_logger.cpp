// The logger's state: the bounded histories and their gate,
// a poisoned or busy history lock, and the loggers closed at exit.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>
#include <vector>

#include "tui/logger/logger.hpp"
#include "tui_test_support.hpp"

namespace vorlisk::tui {
namespace {

using Steps = std::vector<std::uint64_t>;

Steps history_steps(const SharedState& state) {
  auto history = state.history->lock();
  Steps steps;
  for (std::size_t i = 0; i < history->size(); ++i) steps.push_back(history->steps()[i]);
  return steps;
}

TEST(HistoryBuffer, KeepsTheNewestPointsInStepWithEachOther) {
  for (auto [history_len, appended, kept] : {std::tuple<std::size_t, int, Steps>{3, 5, {3, 4, 5}}, {3, 2, {1, 2}},
                                             {0, 4, {4}}, {4, 11, {8, 9, 10, 11}}}) {
    HistoryBuffer history(history_len);
    for (int i = 1; i <= appended; ++i) {
      double x = i;
      history.append({static_cast<std::uint64_t>(i), x, x + 1, x + 2, x + 3, x + 4, x + 5, x + 6, x + 7});
    }
    ASSERT_EQ(history.size(), kept.size()) << history_len;
    for (std::size_t i = 0; i < kept.size(); ++i) {
      EXPECT_EQ(history.steps()[i], kept[i]);
      EXPECT_EQ(history.mean_reward()[i], static_cast<double>(kept[i]));
      EXPECT_EQ(history.gpu_memory_percent()[i], static_cast<double>(kept[i] + 7));
    }
  }
  EXPECT_THROW(HistoryBuffer(SIZE_MAX), std::bad_alloc);
}

TEST(LoggerHistory, AppendsWhenStepsMovedAWholeIntervalPastTheLastPoint) {
  for (auto [interval, calls, appended] : {std::tuple<std::uint64_t, Steps, Steps>{10000, {5000, 10000, 15000, 20000}, {10000, 20000}},
                                           {0, {0, 1, 1, 2}, {0, 1, 1, 2}},
                                           {10000, {0}, {}},
                                           {10000, {60000, 100, 5000, 69999, 70000}, {60000, 70000}},  // a new run
                                           {0, {60000, 100}, {60000, 100}}}) {
    Logger logger({.update_interval_steps = interval, .monitor_sources = testing::fake_sources()});
    for (std::uint64_t steps : calls) logger.update({.steps = steps});
    EXPECT_EQ(history_steps(logger.shared()), appended) << interval << ", " << calls.size();
  }
}

// A point takes each value from its cell after update()'s own stores; a memory
// percentage is 0 while its total is unknown.
TEST(LoggerHistory, PointsHoldTheLatestFigures) {
  Logger logger({.update_interval_steps = 0, .monitor_sources = testing::fake_sources()});
  logger.update({.steps = 1, .mean_reward = 2.5, .sps = 3, .policy_loss = 4, .value_loss = 5, .gpu_memory = 5000.0});
  logger.update({.steps = 2, .gpu_usage = 60, .total_gpu_memory = 10000.0});
  auto h = logger.shared().history->lock();
  EXPECT_EQ((std::vector<double>{h->mean_reward()[0], h->sps()[0], h->policy_loss()[0], h->value_loss()[0],
                                 h->gpu_memory_percent()[0], h->mean_reward()[1], h->gpu_usage()[1],
                                 h->gpu_memory_percent()[1]}),
            (std::vector<double>{2.5, 3, 4, 5, 0, 0, 60, 50}));
}

TEST(PoisonLock, ACleanReleaseDuringUnrelatedUnwindingDoesNotPoison) {
  PoisonLock<int> lock(std::in_place, 0);
  struct TouchesLockOnDestruction {
    PoisonLock<int>& lock;
    ~TouchesLockOnDestruction() { *lock.lock() += 1; }
  };
  try {
    TouchesLockOnDestruction touch{lock};
    throw 1;
  } catch (int) {
  }
  EXPECT_FALSE(lock.poisoned());
}

TEST(LoggerHistoryLock, PoisonedLockStopsHistoryButNotMetrics) {
  Logger logger({.update_interval_steps = 0, .monitor_sources = testing::fake_sources()});
  logger.update({.steps = 1});
  testing::poison(*logger.shared().history);
  logger.update({.steps = 2});
  EXPECT_EQ(logger.shared().metrics->steps.load(), 2u);
  EXPECT_EQ(history_steps(logger.shared()), Steps{1});
}

TEST(LoggerHistoryLock, BusyLockSkipsThePointAndRetriesNextCall) {
  Logger logger({.monitor_sources = testing::fake_sources()});
  std::promise<void> locked, release;
  std::thread view([&] {
    auto guard = logger.shared().history->lock();
    locked.set_value();
    release.get_future().wait();
  });
  locked.get_future().wait();
  logger.update({.steps = 10000});  // must not wait for the view
  release.set_value();
  view.join();
  logger.update({.steps = 10001});
  EXPECT_EQ(history_steps(logger.shared()), Steps{10001});
}

// What the exit handler runs: an open logger is closed (its CSV buffer reaches the
// file), a destroyed one is no longer known.
TEST(LoggerExit, OpenLoggersAreClosedAndDestroyedOnesForgotten) {
  testing::MemFile file;
  {
    Logger logger({.csv_path = file.path(), .monitor_sources = testing::fake_sources()});
    logger.update({.steps = 7});
    ASSERT_EQ(file.contents(), "");
    close_open_loggers();
    EXPECT_NE(file.contents().find("\n0."), std::string::npos);  // the row after the header
  }
  close_open_loggers();  // the destroyed logger is not touched
}

}  // namespace
}  // namespace vorlisk::tui
