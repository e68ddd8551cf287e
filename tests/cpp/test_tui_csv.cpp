#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tui/logger/buffered_writer.hpp"
#include "tui/logger/csv_log.hpp"
#include "tui_test_support.hpp"

namespace vorlisk::tui {
namespace {

constexpr std::size_t kCap = BufferedWriter::kCapacity;

TEST(BufferedWriter, FlushesOnlyWhenAPieceDoesNotFit) {
  struct Case {
    std::vector<std::size_t> pieces, file_size_after_each;
  };
  for (const Case& c : {Case{{kCap - 100, 100, 1}, {0, 0, kCap}},  // an exact fill stays
                        Case{{kCap}, {kCap}},                      // goes straight through
                        Case{{10, kCap + 500}, {0, 10 + kCap + 500}}}) {
    testing::MemFile file;
    std::string expected;
    {
      BufferedWriter writer(file.writer_fd());
      for (std::size_t i = 0; i < c.pieces.size(); ++i) {
        expected += std::string(c.pieces[i], static_cast<char>('a' + i));
        writer.write(std::string(c.pieces[i], static_cast<char>('a' + i)));
        EXPECT_EQ(file.contents().size(), c.file_size_after_each[i]) << c.pieces[0] << " piece " << i;
      }
    }
    EXPECT_EQ(file.contents(), expected);  // destruction flushes, order kept
  }
}

// A full disk costs rows, never the process: the writer counts the lines it lost
// for the logger to report.
TEST(BufferedWriter, CountsTheLinesItCouldNotWrite) {
  BufferedWriter writer(::open("/dev/full", O_WRONLY | O_CLOEXEC));
  for (int i = 0; i < 3000; ++i) writer.write("0.000,1\n");
  writer.flush();
  EXPECT_EQ(writer.first_error(), ENOSPC);
  EXPECT_EQ(writer.lost_lines(), 3000u);
}

std::string formatted(const CsvRow& row) {
  testing::MemFile file;
  {
    BufferedWriter writer(file.writer_fd());
    write_row(writer, row);
  }
  return file.contents();
}

// Fixed point rounds the exact binary value, ties to even, as printf does.
TEST(CsvRow, FixedPointFieldsPrintAsPrintfDoes) {
  for (double v : {1234.5, 1235.5, 0.5, 2.5, 0.125, 0.375, 2.675, -0.0, -0.001, -7.5, 1e300,
                   -1.7976931348623157e308, 5e-324, 123456789.98765432, 1e22}) {
    CsvRow row;
    row.sps = row.cpu_usage = row.policy_loss = v;
    char expected[1000];
    std::snprintf(expected, sizeof expected, "0.000,0,0,0.0000,%.0f,%.6f,0.000000,0.000000,%.2f,0.00,0,0\n", v, v, v);
    EXPECT_EQ(formatted(row), expected) << v;
  }
  CsvRow row;
  row.mean_reward = NAN;
  row.sps = -NAN;
  row.policy_loss = INFINITY;
  row.entropy = -INFINITY;
  EXPECT_EQ(formatted(row), "0.000,0,0,NaN,NaN,inf,0.000000,-inf,0.00,0.00,0,0\n");
}

// A write cut short (a full disk; here the file-size limit) loses whole rows, never splices
// them, and the report counts them (a lost header is no row).
TEST(CsvLog, RowsAreWholeOrAbsentAcrossAFailedWrite) {
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  const auto handler = std::signal(SIGXFSZ, SIG_IGN);  // write() fails with EFBIG instead
  for (rlim_t size : {100, 1000}) {  // the fault in the header, in a row
    testing::MemFile file;
    const rlimit small{size, saved.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    ::testing::internal::CaptureStderr();
    {
      CsvLog log(file.path());
      for (std::uint64_t i = 0; i < 400; ++i) {  // a buffer fills, mid-row, every ~140 rows
        if (i == 200) ::setrlimit(RLIMIT_FSIZE, &saved);
        log.try_write_row(CsvRow{.steps = i});
      }
    }
    const std::string report = ::testing::internal::GetCapturedStderr();
    std::istringstream text(file.contents());
    std::size_t rows = 0;
    for (std::string line; std::getline(text, line); rows += line[0] != 't') EXPECT_EQ(std::count(line.begin(), line.end(), ','), 11) << line;
    EXPECT_TRUE(rows > 200 && report.find(": " + std::to_string(400 - rows) + " rows were lost") != report.npos) << report;
  }
  std::signal(SIGXFSZ, handler);
}

// The helper thread flushes a paused loop's rows while the loop may resume at any
// moment: every row must arrive whole, once and in order, across many buffers.
TEST(CsvLog, RowsOfAPausedLoopArriveWithoutLossOrRace) {
  testing::MemFile file;
  std::uint64_t written = 0;
  bool seen_before_close = false;
  {
    CsvLog log(file.path());
    for (auto start = std::chrono::steady_clock::now();
         std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500);) {
      CsvRow row;
      row.steps = written++;
      log.try_write_row(row);  // timestamp 0: only the helper flushes
      std::this_thread::sleep_for(std::chrono::microseconds(50));
      if (written == 100) {  // a pause, during which the helper sends the rows out
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        seen_before_close = file.contents().find("0.000,99,") != std::string::npos;
      }
    }
  }
  std::istringstream text(file.contents());
  std::string line;
  std::getline(text, line);  // the header
  std::uint64_t expected = 0;
  while (std::getline(text, line)) {
    EXPECT_EQ(line, "0.000," + std::to_string(expected++) + ",0,0.0000,0,0.000000,0.000000,0.000000,0.00,0.00,0,0");
  }
  EXPECT_EQ(expected, written);
  EXPECT_TRUE(seen_before_close);
}

}  // namespace
}  // namespace vorlisk::tui
