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
      if (auto key = decoder.feed(static_cast<unsigned char>(c))) {
        keys += *key == Key::Quit ? 'q' : *key == Key::Pause ? 'p' : 'm';
      }
    }
    for (int i = 0; i < idle_between; ++i) decoder.idle();
  }
  return keys;
}

struct Case {
  const char* name;
  std::string bytes;
  std::string keys;
};

class KeyBytes : public ::testing::TestWithParam<Case> {};

TEST_P(KeyBytes, DecodeTo) { EXPECT_EQ(decode({GetParam().bytes}), GetParam().keys); }

INSTANTIATE_TEST_SUITE_P(
    Decoder, KeyBytes,
    ::testing::Values(
        Case{"Letters", "qpm", "qpm"}, Case{"ControlQAndP", "\x11\x10", "qp"},
        Case{"ShiftedAndOtherKeys", "QPMsx 1", ""},
        Case{"ControlMIsEnterAndControlCNothing", std::string("\r\x03\x1a\x7f\n", 5), ""},
        Case{"Utf8", "\xc3\xa9\xe2\x82\xac", ""}, Case{"AltKeys", "\x1bq\x1bx\x1b\x10", "qp"},
        Case{"Arrows", "\x1b[A\x1b[1;5D\x1b[1;2B", ""}, Case{"FunctionKeys", "\x1b[15~\x1b[24;5~", ""},
        Case{"Ss3", "\x1bOP\x1bOq", ""}, Case{"Focus", "\x1b[I\x1b[O", ""},
        Case{"SgrMouse", "\x1b[<0;113;112M\x1b[<0;10;5m", ""},
        Case{"X10MouseWithKeyBytes", "\x1b[M qp\x1b[Mmmm", ""},
        Case{"PasteSwallowsItsText", "\x1b[200~qp\x1b[20q\x1b\x1bm\x1b[201~m", "m"},
        Case{"OtherCsiWith200Prefix", "\x1b[2001~q", "q"},
        Case{"KeysAroundSequences", "q\x1b[Ap\x1bOSm", "qpm"},
        Case{"EscEscStartsAfresh", "\x1b\x1b[Aq", "q"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Decoder, SequencesSplitAnywhereAreStillSwallowed) {
  const std::string input = std::string("\x1b[1;5A") + "\x1b[Mqpq" + "\x1b[200~q\x1b[20q\x1b[201~" +
                            "\x1bOq" + "\x1b[<0;113;80m" + "m";
  for (std::size_t split = 0; split <= input.size(); ++split) {
    EXPECT_EQ(decode({input.substr(0, split), input.substr(split)}), "m") << "split at " << split;
  }
}

TEST(Decoder, ALoneEscapeIsTheEscapeKeyOnlyAfterSeveralIdlePolls) {
  // "[q" continues a sequence when it follows in time (a split read) ...
  EXPECT_EQ(decode({"\x1b", "[q"}, KeyDecoder::kEscapeIdlePolls - 1), "");
  // ... and is plain input once the ESC stood alone long enough.
  EXPECT_EQ(decode({"\x1b", "[q"}, KeyDecoder::kEscapeIdlePolls), "q");
}

TEST(Decoder, AnUnfinishedSequenceIsDroppedAfterALongSilence) {
  for (std::string start : {"\x1b[200~", "\x1b[1;", "\x1b[M", "\x1bO"}) {
    EXPECT_EQ(decode({start, "q"}, KeyDecoder::kStaleIdlePolls - 1).size(), 0u) << start.substr(1);
    EXPECT_EQ(decode({start, "q"}, KeyDecoder::kStaleIdlePolls), "q") << start.substr(1);
  }
}

}  // namespace
}  // namespace vorlisk::tui::term
