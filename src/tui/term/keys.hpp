// Turning the raw bytes a terminal sends into the monitor's keys.
//
// In raw mode the terminal sends characters as themselves and everything else as
// control bytes or escape sequences. The decoder sees one byte at a time and keeps its
// place between reads, so a sequence split across two reads is still consumed whole
// and none of its bytes is taken for a key.
//
// Mapping:
//   q, p, m, s            the keys themselves (Q, P, M, S with Shift are other keys)
//   0x11, 0x10, 0x13      Control-q, Control-p and Control-s: modifiers are not
//                         examined, so they act as q, p and s (raw mode turns flow
//                         control off, so Control-s arrives)
//   ESC q, ESC p, ESC m, ESC s   Alt+key: likewise (also ESC followed by 0x11/0x10/0x13)
//   0x0d                  Control-m is the same byte as Enter: nothing
//   0x03                  Control-c: nothing (raw mode, so no signal either)
// Consumed whole and ignored:
//   CSI  ESC [ params final     arrows, function keys, focus (ESC [ I / ESC [ O),
//                               SGR mouse (ESC [ < ... M/m)
//   X10 mouse  ESC [ M b x y    the three bytes after M are raw values
//   SS3  ESC O x                keypad and F1-F4 in application mode
//   paste  ESC [ 200 ~ ... ESC [ 201 ~, everything between included
//   Alt+other  ESC x
// Every other byte (other characters, UTF-8 sequences, control bytes) is ignored.
//
// A lone ESC cannot be told from the start of a sequence until more bytes come or
// none do: after a few idle polls it is taken as the Escape key (ignored); waiting a
// little longer than one poll keeps a sequence that a slow link splits right after
// its ESC from leaking. A sequence left incomplete for many idle polls (a lost byte,
// a paste that never ends) is dropped, so the keys come back.
#pragma once

#include <cstdint>
#include <optional>

namespace vorlisk::tui::term {

enum class Key : std::uint8_t { Quit, Pause, Mode, Save };

class KeyDecoder {
 public:
  // Idle polls after which a lone ESC is the Escape key.
  static constexpr int kEscapeIdlePolls = 5;
  // Idle polls after which any other unfinished sequence is dropped.
  static constexpr int kStaleIdlePolls = 50;

  // The key that `byte` completes, if any.
  std::optional<Key> feed(unsigned char byte) noexcept;

  // Tells the decoder that a poll found nothing to read.
  void idle() noexcept;

 private:
  enum class State : std::uint8_t { Ground, Escape, Csi, X10Mouse, Ss3, Paste };

  std::optional<Key> ground(unsigned char byte) noexcept;
  void csi(unsigned char byte) noexcept;
  void paste(unsigned char byte) noexcept;

  State state_ = State::Ground;
  int idle_polls_ = 0;
  int pending_ = 0;          // X10 mouse bytes still to come; matched bytes of the paste end
  bool params_are_200_ = false;  // the CSI parameters so far read "200" (paste start)
  int params_length_ = 0;
};

}  // namespace vorlisk::tui::term
