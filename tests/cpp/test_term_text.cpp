// Cells, styled text and the two text widgets: Block and Paragraph.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "term_test_support.hpp"
#include "tui/term/text.hpp"
#include "tui/term/widgets/block.hpp"
#include "tui/term/widgets/paragraph.hpp"

namespace vorlisk::tui::term {
namespace {

using testing::blank;
using testing::rows;
using Rows = std::vector<std::string>;

TEST(Text, EveryCodePointIsOneColumn) {
  EXPECT_EQ(text_width(""), 0u);
  EXPECT_EQ(text_width("abc"), 3u);
  EXPECT_EQ(text_width("┌─│█⣿"), 5u);
  EXPECT_EQ(text_width("a\xE2\x94"), 3u);  // a cut-off sequence counts byte by byte
}

TEST(Buffer, TextIsCutAtTheAreaAndAtTheGivenWidthNeverWrapped) {
  Buffer buffer = blank(6, 2);
  EXPECT_EQ(buffer.set_string(3, 0, "│abcdef", Style{}), 6);
  EXPECT_EQ(buffer.set_string(0, 1, "xyz", Style{}, 2), 2);
  EXPECT_EQ(buffer.set_string(0, 2, "outside", Style{}), 0);
  EXPECT_EQ(rows(buffer), (Rows{"   │ab", "xy    "}));
}

TEST(Buffer, TextLeftOfAnOffsetAreaIsSkipped) {
  Buffer buffer(Rect{2, 1, 3, 1});
  EXPECT_EQ(buffer.set_string(0, 1, "abcdef", Style{}), 5);
  EXPECT_EQ(buffer.row_text(1), "cde");
}

TEST(Buffer, ControlAndMalformedBytesNeverReachTheTerminal) {
  Buffer buffer = blank(6, 1);
  buffer.set_string(0, 0, "\x1b[\t\x7f\xC2\x9B\xFF", Style{});
  EXPECT_EQ(buffer.row_text(0), " [   \xEF\xBF\xBD");
}

TEST(Buffer, StyleWithoutColourKeepsWhatIsBeneath) {
  Buffer buffer = blank(3, 1);
  buffer.set_style(Rect{0, 0, 3, 1}, Style{}.fg_color(Color::Red).bg_color(Color::Blue).bold());
  buffer.set_style(Rect{1, 0, 5, 5}, Style{}.fg_color(Color::Green).remove(Modifier::Bold).add(Modifier::Italic));
  const Cell& kept = buffer.at(0, 0);
  const Cell& laid = buffer.at(2, 0);
  EXPECT_EQ(kept.fg, Color::Red);
  EXPECT_EQ(kept.modifier, Modifier::Bold);
  EXPECT_EQ(laid.fg, Color::Green);
  EXPECT_EQ(laid.bg, Color::Blue);
  EXPECT_EQ(laid.modifier, Modifier::Italic);
}

TEST(Block, DrawsFourBordersAndCutsTheTitleBeforeTheCorner) {
  Buffer buffer = blank(9, 4);
  Block{.title = " Title "}.render(Rect{0, 0, 9, 3}, buffer);
  Block{.title = " Much longer "}.render(Rect{1, 3, 6, 5}, buffer);  // leaves the buffer
  EXPECT_EQ(rows(buffer), (Rows{"┌ Title ┐", "│       │", "└───────┘", " ┌ Muc┐  "}));
  EXPECT_EQ(Block::inner(Rect{0, 0, 9, 3}), (Rect{1, 1, 7, 1}));
}

TEST(Block, TinyAreasStayInside) {
  for (std::uint16_t w = 0; w < 3; ++w) {
    for (std::uint16_t h = 0; h < 3; ++h) {
      Buffer buffer = blank(4, 4);
      Block{.title = "title"}.render(Rect{1, 1, w, h}, buffer);
      for (std::uint16_t y = 0; y < 4; ++y) {
        for (std::uint16_t x = 0; x < 4; ++x) {
          if (!Rect{1, 1, w, h}.contains(x, y)) {
            EXPECT_EQ(buffer.at(x, y), Cell{}) << w << "x" << h;
          }
        }
      }
    }
  }
}

TEST(Paragraph, StyleColoursTheBlockAndSpansPatchIt) {
  const std::array spans{Span{"Key: ", fg(Color::Gray)}, Span{"value that is cut", Style{}.bold()}};
  const std::array lines{Line{spans}, Line{spans}, Line{spans}};
  Buffer buffer = blank(14, 4);
  Paragraph{.lines = lines, .style = fg(Color::Cyan), .block = Block{.title = " P "}}.render(buffer.area(), buffer);
  EXPECT_EQ(rows(buffer), (Rows{"┌ P ─────────┐", "│Key: value t│", "│Key: value t│", "└────────────┘"}));
  EXPECT_EQ(buffer.at(0, 0).fg, Color::Cyan);
  EXPECT_EQ(buffer.at(1, 0).fg, Color::Cyan);
  EXPECT_EQ(buffer.at(1, 1).fg, Color::Gray);
  EXPECT_EQ(buffer.at(6, 1).fg, Color::Cyan);
  EXPECT_EQ(buffer.at(6, 1).modifier, Modifier::Bold);
  EXPECT_EQ(buffer.at(12, 2).modifier, Modifier::Bold);
  EXPECT_EQ(buffer.at(13, 2).modifier, Modifier::None);
}

TEST(Paragraph, WithoutBlockUsesTheWholeArea) {
  const std::array spans{Span{"abcdef", Style{}}};
  const std::array lines{Line{spans}};
  Buffer buffer = blank(5, 2);
  Paragraph{.lines = lines}.render(Rect{1, 1, 3, 1}, buffer);
  EXPECT_EQ(rows(buffer), (Rows{"     ", " abc "}));
}

}  // namespace
}  // namespace vorlisk::tui::term
