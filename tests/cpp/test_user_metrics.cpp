// The training loop's own metrics: cells that keep the last value given, histories
// in step with the built-in ones, CSV columns after the built-in ones.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "tui/logger/logger.hpp"
#include "tui_test_support.hpp"

namespace vorlisk::tui {
namespace {

using testing::rows;
using Values = std::vector<double>;

Values sequence(const RingBuffer<double>& ring) {
  Values out;
  for (std::size_t i = 0; i < ring.size(); ++i) out.push_back(ring[i]);
  return out;
}

// A metric not given keeps its value (NaN before the first); each history point and
// CSV row carries the cells as they stand after the call.
TEST(UserMetrics, KeepTheirLastValueInCellsHistoriesAndCsvRows) {
  testing::MemFile file;
  {
    Logger logger({.history_len = 3, .csv_path = file.path(), .update_interval_steps = 0,
                   .user_metrics = {"kl", "lr"}, .monitor_sources = testing::fake_sources()});
    const double first[] = {1.0, 0.0}, second[] = {0.0, 10.0}, fourth[] = {4.0, -1e-7};
    logger.update({.steps = 1, .user = {first, 0b01}});
    logger.update({.steps = 2, .user = {second, 0b10}});
    logger.update({.steps = 3});
    logger.update({.steps = 4, .user = {fourth, 0b11}});
    auto history = logger.shared().history->lock();
    EXPECT_EQ(sequence(history->user(0)), (Values{1.0, 1.0, 4.0}));
    EXPECT_EQ(sequence(history->user(1)), (Values{10.0, 10.0, -1e-7}));
    EXPECT_EQ(history->steps()[0], 2u);
  }
  // The last two columns of each line, after the twelve built-in ones.
  std::istringstream text(file.contents());
  std::vector<std::string> tails;
  for (std::string line; std::getline(text, line);) {
    std::size_t at = 0;
    for (int comma = 0; comma < 12; ++comma) at = line.find(',', at) + 1;
    tails.push_back(line.substr(at));
  }
  EXPECT_EQ(tails, (std::vector<std::string>{"kl,lr", "1.000000,NaN", "1.000000,10.000000", "1.000000,10.000000",
                                             "4.000000,-0.000000"}));
}

}  // namespace

}  // namespace vorlisk::tui
