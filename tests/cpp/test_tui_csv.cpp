#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "tui/logger/buffered_writer.hpp"
#include "tui/logger/csv_log.hpp"
#include "tui/logger/logger.hpp"
#include "tui_test_support.hpp"

namespace vorlisk::tui {
namespace {

using testing::MemFile;

constexpr std::size_t kCap = BufferedWriter::kCapacity;

struct FlushCase {
  const char* name;
  std::vector<std::size_t> pieces;
  std::vector<std::size_t> file_size_after_each;
};

class WriterBoundaries : public ::testing::TestWithParam<FlushCase> {};

TEST_P(WriterBoundaries, FlushOnlyWhenAPieceDoesNotFit) {
  const FlushCase& c = GetParam();
  MemFile file;
  std::string expected;
  {
    BufferedWriter writer(file.writer_fd());
    for (std::size_t i = 0; i < c.pieces.size(); ++i) {
      std::string piece(c.pieces[i], static_cast<char>('a' + i));
      writer.write(piece);
      expected += piece;
      EXPECT_EQ(file.size(), c.file_size_after_each[i]) << "after piece " << i;
    }
  }
  EXPECT_EQ(file.contents(), expected);  // destruction flushes, order kept
}

INSTANTIATE_TEST_SUITE_P(
    Pieces, WriterBoundaries,
    ::testing::Values(
        FlushCase{"ExactFillStaysBuffered", {kCap - 100, 100, 1}, {0, 0, kCap}},
        FlushCase{"OneByteShortOfTheBufferIsBuffered", {kCap - 1}, {0}},
        FlushCase{"BufferSizedPieceGoesStraightThrough", {kCap}, {kCap}},
        FlushCase{"LargePieceFlushesFirstThenGoesStraight", {10, kCap + 500}, {0, 10 + kCap + 500}},
        FlushCase{"PieceThatDoesNotFitFlushesTheRest", {5000, 5000, 3000}, {0, 5000, 5000}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BufferedWriter, WriteErrorsAreDroppedAndLaterOutputStillBuffers) {
  int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  BufferedWriter writer(full);
  EXPECT_EQ(writer.first_error(), 0);
  writer.write("row\nrow\nhalf a row");
  writer.flush();
  EXPECT_EQ(writer.buffered(), 0u);
  EXPECT_EQ(writer.first_error(), ENOSPC);
  EXPECT_EQ(writer.lost_lines(), 2u);
  writer.write(std::string(kCap - 1, 'y'));
  EXPECT_EQ(writer.buffered(), kCap - 1);
}

std::string formatted(const CsvRow& row) {
  MemFile file;
  {
    BufferedWriter writer(file.writer_fd());
    write_row(writer, row);
  }
  return file.contents();
}

const CsvRow kWorkedExample{3.2041, 20000, 150, 195.25, 51234.7, 0.0123456, 1.5, 0.6931, 12.5, 0.0, 10240, 0};

TEST(CsvRow, WorkedExample) {
  EXPECT_EQ(formatted(kWorkedExample),
            "3.204,20000,150,195.2500,51235,0.012346,1.500000,0.693100,12.50,0.00,10240,0\n");
}

struct FieldCase {
  double value;
  const char* sps;        // 0 decimals
  const char* cpu_usage;  // 2 decimals
};

class CsvFixedPoint : public ::testing::TestWithParam<FieldCase> {};

TEST_P(CsvFixedPoint, RoundsTheExactValueHalfToEven) {
  const FieldCase& c = GetParam();
  CsvRow row;
  row.sps = c.value;
  row.cpu_usage = c.value;
  std::string expected = std::string("0.000,0,0,0.0000,") + c.sps +
                         ",0.000000,0.000000,0.000000," + c.cpu_usage + ",0.00,0,0\n";
  EXPECT_EQ(formatted(row), expected);
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Values, CsvFixedPoint,
    ::testing::Values(FieldCase{1234.5, "1234", "1234.50"}, FieldCase{1235.5, "1236", "1235.50"},
                      FieldCase{0.5, "0", "0.50"}, FieldCase{2.5, "2", "2.50"},
                      FieldCase{0.125, "0", "0.12"}, FieldCase{0.375, "0", "0.38"},
                      FieldCase{2.675, "3", "2.67"},  // 2.675 is stored just below
                      FieldCase{-0.0, "-0", "-0.00"}, FieldCase{-0.001, "-0", "-0.00"},
                      FieldCase{-7.5, "-8", "-7.50"}, FieldCase{kNaN, "NaN", "NaN"},
                      FieldCase{-kNaN, "NaN", "NaN"}, FieldCase{kInf, "inf", "inf"},
                      FieldCase{-kInf, "-inf", "-inf"}));

// Every finite double, however long its decimal expansion, prints exactly as the
// C library's printf prints it.
TEST(CsvRow, LongExpansionsMatchPrintf) {
  for (double value : {1e300, -1.7976931348623157e308, 5e-324, 123456789.98765432, 1e22}) {
    CsvRow row;
    row.policy_loss = value;
    char expected[400];
    std::snprintf(expected, sizeof expected, "%.6f", value);
    std::string line = formatted(row);
    EXPECT_NE(line.find(std::string(",") + expected + ","), std::string::npos) << expected;
  }
}

TEST(CsvRow, ARowStraddlingTheBufferEndReachesTheFileInTwoParts) {
  MemFile file;
  BufferedWriter writer(file.writer_fd());
  writer.write(std::string(kCap - 12, '#'));
  write_row(writer, kWorkedExample);
  // "3.204," and "20000," filled the buffer exactly; "150," no longer fitted.
  EXPECT_EQ(file.size(), kCap);
  EXPECT_EQ(file.contents().substr(kCap - 12), "3.204,20000,");
}

TEST(CsvLog, CreationFailureStartsNoThread) {
  LoggerOptions options;
  options.csv_path = "/nonexistent-vorlisk-dir/m.csv";
  bool monitor_started = false;
  options.monitor_sources.make_stats = [&monitor_started] {
    monitor_started = true;
    return std::make_unique<testing::FakeStats>(testing::FakeStats::Figures{});
  };
  EXPECT_THROW(Logger{std::move(options)}, CsvCreateError);
  EXPECT_FALSE(monitor_started);
}

// The helper thread flushes a paused loop's rows while the loop may resume at any
// moment: every row must arrive whole, once and in order (TSan runs this too).
TEST(CsvLog, RowsOfAPausedLoopArriveWithoutLossOrRace) {
  char path[] = "/tmp/vorlisk-csv-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  std::uint64_t written = 0;
  bool seen_before_close = false;
  {
    CsvLog log(path);
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500)) {
      CsvRow row;
      row.steps = written++;
      log.try_write_row(row);  // timestamp 0: only the helper flushes
      std::this_thread::sleep_for(std::chrono::microseconds(written == 100 ? 1100000 : 50));
      struct stat info {};
      seen_before_close |= ::stat(path, &info) == 0 && info.st_size > 116;
    }
  }
  std::FILE* f = std::fopen(path, "r");
  ASSERT_NE(f, nullptr);
  char line[512];
  ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);  // the header
  std::uint64_t expected = 0;
  while (std::fgets(line, sizeof line, f)) {
    unsigned long long steps = 0;
    ASSERT_EQ(std::sscanf(line, "%*[^,],%llu,", &steps), 1) << line;
    EXPECT_EQ(steps, expected++);
  }
  std::fclose(f);
  ::unlink(path);
  EXPECT_EQ(expected, written);
  EXPECT_TRUE(seen_before_close);
}

}  // namespace
}  // namespace vorlisk::tui
