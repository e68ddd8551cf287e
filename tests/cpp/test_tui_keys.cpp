// The key decoder: which bytes are keys, and that escape sequences are swallowed whole.
#include <gtest/gtest.h>

#include <string>

#include "tui/term/keys.hpp"

namespace vorlisk::tui::term {
namespace {

// The keys in `bytes`, as "q", "p" and "m".
std::string decode(const std::string& bytes) {
  KeyDecoder decoder;
  std::string keys;
  for (char c : bytes) {
    if (auto key = decoder.feed(static_cast<unsigned char>(c))) keys += "qpm"[static_cast<int>(*key)];
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
  for (const auto& [bytes, keys] : cases) EXPECT_EQ(decode(bytes), keys) << ::testing::PrintToString(bytes);
}

}  // namespace
}  // namespace vorlisk::tui::term
