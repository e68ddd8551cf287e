// What the process prints while the display is on: the log, the capture and the pane.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <tuple>
#include <system_error>
#include <utility>
#include <vector>

#include "tui/term/capture.hpp"
#include "tui/term/text.hpp"
#include "tui/views/output_pane.hpp"
#include "tui/views/views.hpp"
#include "tui_test_support.hpp"

namespace vorlisk::tui {
namespace {

using term::OutputLog;
using term::Stream;

using Chunks = std::vector<std::pair<Stream, std::string>>;

Chunks chunks(const OutputLog& log) {
  Chunks out;
  log.for_each_chunk([&](Stream s, std::string_view bytes) { out.emplace_back(s, bytes); });
  return out;
}

TEST(OutputLog, KeepsTheNewestWholeLinesAndCountsTheRest) {
  OutputLog log(64);
  std::string all;
  for (int i = 0; i < 30; ++i) {
    std::string line = "line " + std::to_string(i) + "\n";
    log.append(i % 3 ? Stream::Out : Stream::Err, line);
    all += line;
  }
  EXPECT_TRUE(log.text().starts_with("line ") && all.ends_with(log.text())) << log.text();
  EXPECT_EQ(log.dropped() + log.text().size(), all.size());
  EXPECT_EQ(chunks(log).back(), (std::pair<Stream, std::string>{Stream::Out, "line 28\nline 29\n"}));

  log.append(Stream::Err, std::string(100, 'x') + "end");  // more than it holds: its end
  EXPECT_EQ(chunks(log), (Chunks{{Stream::Err, std::string(61, 'x') + "end"}}));
}

// Standard output and error on one terminal, as usual (one pipe for both), or to two files.
class OutputCaptureTest : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(OneTerminalOrTwoFiles, OutputCaptureTest, ::testing::Bool());

TEST_P(OutputCaptureTest, TakesBothDescriptorsAndWritesOutWhenItFinishes) {
  const bool one_terminal = GetParam();
  testing::MemFile out_file, err_file;
  const int out = out_file.writer_fd(), err = (one_terminal ? out_file : err_file).writer_fd();
  auto put = [](int fd, std::string_view s) { ASSERT_EQ(::write(fd, s.data(), s.size()), static_cast<ssize_t>(s.size())); };
  {
    term::OutputCapture capture({out, err}, 16);
    EXPECT_THROW(term::OutputCapture({out, err}), std::system_error);  // one at a time
    put(out, "one\n");
    put(err, "two\n");
    capture.drain();
    put(capture.terminal(), "[frame]");  // frames go straight to the terminal
    const Chunks read = one_terminal ? Chunks{{Stream::Out, "one\ntwo\n"}}
                                     : Chunks{{Stream::Out, "one\n"}, {Stream::Err, "two\n"}};
    EXPECT_EQ(chunks(capture.log()), read);
    put(out, "three\n");  // still in the pipe
  }
  EXPECT_EQ(out_file.contents(), one_terminal ? "[frame]one\ntwo\nthree\n" : "[frame]one\nthree\n");
  EXPECT_EQ(err_file.contents(), one_terminal ? "" : "two\n");
  const std::size_t before = out_file.contents().size();
  {
    term::OutputCapture capture({out, err}, 16);
    put(out, "0123456789abcdefghij");
  }
  put(out, "after\n");
  const std::string dropped = "vorlisk: 4 bytes of output were dropped (the oldest; the display keeps the newest 16 bytes)\n";
  EXPECT_EQ(out_file.contents().substr(before), one_terminal ? "456789abcdefghij\n" + dropped + "after\n"
                                                         : "456789abcdefghijafter\n");
  EXPECT_EQ(err_file.contents(), one_terminal ? "" : "two\n" + dropped);
  ::close(out), ::close(err);
}

std::string boxed(std::string_view text) {
  return "│" + std::string(text) + std::string(38 - term::text_width(text), ' ') + "│";
}

TEST(OutputPane, ShowsTheNewestLinesAsTheyLookedAboveTheKeyHelp) {
  for (const auto& [raw, columns, shown] : std::initializer_list<std::tuple<std::string, std::size_t, std::string>>{
           {"\x1b[31mred\x1b[0m \x1b]0;title\x07!", 9, "red !"}, {"a\tb", 9, "a       b"}, {"a\tb", 4, "a   "},
           {"10%\r50%\r", 9, "50%"}, {"h\xc3\xa9llo", 3, "h\xc3\xa9l"}, {"\x01\x7f" "cut", 9, "cut"}}) {
    views::StackText text;
    views::printable_line(raw, columns, text);
    EXPECT_EQ(text.view(), shown) << raw;
  }

  testing::ViewState v;
  OutputLog log(1024);
  for (int i = 1; i <= 8; ++i) log.append(Stream::Out, "printed " + std::to_string(i) + "\n");
  log.append(Stream::Err, "epoch 9: 40%\repoch 9: 80%");
  v.state.output = &log;
  for (auto view : {&views::render_dashboard, &views::render_chart_dashboard}) {
    EXPECT_EQ(testing::rows(v.draw(40, 40, view), 29, 37),
              (std::vector<std::string>{"┌ Output " + testing::line(30) + "┐", boxed("printed 4"), boxed("printed 5"),
                                        boxed("printed 6"), boxed("printed 7"), boxed("printed 8"),
                                        boxed("epoch 9: 80%"), "└" + testing::line(38) + "┘"}));
  }
  // No room beside the sparklines' minimum; the minimal view counts the lines.
  EXPECT_EQ(testing::rows(v.draw(40, 21, views::render_dashboard), 18, 19)[0], "┌" + testing::line(38) + "┐");
  EXPECT_EQ(testing::rows(v.draw(40, 5, views::render_minimal), 3, 4)[0], boxed(" Output: 8 lines │ epoch 9: 80%"));
}

}  // namespace
}  // namespace vorlisk::tui
