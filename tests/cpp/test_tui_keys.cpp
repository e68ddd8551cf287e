// The key decoder: which bytes are keys, and that escape sequences are swallowed
// whole wherever the reads split them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tui/term/keys.hpp"

namespace vorlisk::tui::term {
namespace {

// Feeds each read in turn, with `idle_between` idle polls after each; the keys as
// "q", "p" and "m".
std::string decode(const std::vector<std::string>& reads, int idle_between = 0) {
  KeyDecoder decoder;
  std::string keys;
  for (const std::string& read : reads) {
    for (char c : read) {
      if (auto key = decoder.feed(static_cast<unsigned char>(c))) keys += "qpm"[static_cast<int>(*key)];
    }
    for (int i = 0; i < idle_between; ++i) decoder.idle();
  }
  return keys;
}

TEST(KeyDecoder, TurnsBytesIntoKeys) {
  const std::pair<std::string, std::string> cases[] = {
      {"qpm", "qpm"},
      {"\x11\x10", "qp"},                                      // Control-q, Control-p
      {"QPMsx 1\r\x03\x1a\x7f\n\xc3\xa9\xe2\x82\xac", ""},  // Control-m is Enter
      {"\x1bq\x1bx\x1b\x10", "qp"},                              // Alt
      {"\x1b[A\x1b[1;5D\x1b[15~\x1b[24;5~\x1bOP\x1bOq\x1b[I", ""},  // arrows, F keys, SS3, focus
      {"\x1b[<0;113;112M\x1b[M qp\x1b[Mmmm", ""},                // mouse reports
      {"\x1b[200~qp\x1b[20q\x1b\x1bm\x1b[201~m", "m"},           // a paste swallows its text
      {"\x1b[2001~q", "q"},
      {"q\x1b[Ap\x1bOSm", "qpm"},
      {"\x1b\x1b[Aq", "q"}};
  for (const auto& [bytes, keys] : cases) EXPECT_EQ(decode({bytes}), keys) << ::testing::PrintToString(bytes);
}

TEST(KeyDecoder, SequencesSplitAnywhereAreStillSwallowed) {
  const std::string input = std::string("\x1b[1;5A") + "\x1b[Mqpq" + "\x1b[200~q\x1b[20q\x1b[201~" +
                            "\x1bOq" + "\x1b[<0;113;80m" + "m";
  for (std::size_t split = 0; split <= input.size(); ++split) {
    EXPECT_EQ(decode({input.substr(0, split), input.substr(split)}), "m") << "split at " << split;
  }
}

TEST(KeyDecoder, UnfinishedSequencesEndAfterIdlePolls) {
  // "[q" continues a sequence when it follows in time (a split read), and is plain
  // input once the ESC stood alone long enough.
  EXPECT_EQ(decode({"\x1b", "[q"}, KeyDecoder::kEscapeIdlePolls - 1), "");
  EXPECT_EQ(decode({"\x1b", "[q"}, KeyDecoder::kEscapeIdlePolls), "q");
  for (std::string start : {"\x1b[200~", "\x1b[1;", "\x1b[M", "\x1bO"}) {
    EXPECT_EQ(decode({start, "q"}, KeyDecoder::kStaleIdlePolls - 1), "") << start.substr(1);
    EXPECT_EQ(decode({start, "q"}, KeyDecoder::kStaleIdlePolls), "q") << start.substr(1);
  }
}

}  // namespace
}  // namespace vorlisk::tui::term
