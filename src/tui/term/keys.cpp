#include "tui/term/keys.hpp"

#include <string_view>

namespace vorlisk::tui::term {

namespace {

constexpr unsigned char kEsc = 0x1b;
constexpr std::string_view kPasteEnd = "\x1b[201~";
constexpr std::string_view kPasteStartParams = "200";

std::optional<Key> key_of(unsigned char byte) noexcept {
  switch (byte) {
    case 'q':
    case 0x11:  // Control-q
      return Key::Quit;
    case 'p':
    case 0x10:  // Control-p
      return Key::Pause;
    case 'm':
      return Key::Mode;
    case 's':
    case 0x13:  // Control-s
      return Key::Save;
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<Key> KeyDecoder::feed(unsigned char byte) noexcept {
  idle_polls_ = 0;
  switch (state_) {
    case State::Ground:
      return ground(byte);
    case State::Escape:
      if (byte == '[') {
        state_ = State::Csi;
        params_length_ = 0;
        params_are_200_ = true;
        return std::nullopt;
      }
      if (byte == 'O') {
        state_ = State::Ss3;
        return std::nullopt;
      }
      if (byte == kEsc) return std::nullopt;  // the first ESC was the Escape key
      state_ = State::Ground;
      return key_of(byte);  // Alt+key: the modifier is not examined
    case State::Csi:
      csi(byte);
      return std::nullopt;
    case State::X10Mouse:
      if (--pending_ == 0) state_ = State::Ground;
      return std::nullopt;
    case State::Ss3:
      state_ = State::Ground;
      return std::nullopt;
    case State::Paste:
      paste(byte);
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<Key> KeyDecoder::ground(unsigned char byte) noexcept {
  if (byte == kEsc) {
    state_ = State::Escape;
    return std::nullopt;
  }
  return key_of(byte);
}

void KeyDecoder::csi(unsigned char byte) noexcept {
  if (byte == 'M' && params_length_ == 0) {  // X10 mouse: button, column, row follow
    state_ = State::X10Mouse;
    pending_ = 3;
    return;
  }
  if (byte >= 0x20 && byte <= 0x3f) {  // parameter and intermediate bytes
    params_are_200_ = params_are_200_ && params_length_ < static_cast<int>(kPasteStartParams.size()) &&
                      kPasteStartParams[params_length_] == static_cast<char>(byte);
    ++params_length_;
    return;
  }
  if (byte >= 0x40 && byte <= 0x7e) {  // final byte
    bool paste_start = byte == '~' && params_are_200_ &&
                       params_length_ == static_cast<int>(kPasteStartParams.size());
    state_ = paste_start ? State::Paste : State::Ground;
    pending_ = 0;
    return;
  }
  // Anything else cannot belong to a sequence: it ends this one. A new ESC starts
  // the next; other bytes here are control bytes or UTF-8, which are no keys
  // except Control-q and Control-p, and those a terminal never sends inside a
  // sequence, so they are dropped with it.
  state_ = byte == kEsc ? State::Escape : State::Ground;
}

void KeyDecoder::paste(unsigned char byte) noexcept {
  if (static_cast<char>(byte) == kPasteEnd[pending_]) {
    if (++pending_ == static_cast<int>(kPasteEnd.size())) {
      state_ = State::Ground;
      pending_ = 0;
    }
    return;
  }
  pending_ = byte == kEsc ? 1 : 0;
}

void KeyDecoder::idle() noexcept {
  if (state_ == State::Ground) return;
  ++idle_polls_;
  if (idle_polls_ >= (state_ == State::Escape ? kEscapeIdlePolls : kStaleIdlePolls)) {
    state_ = State::Ground;
    idle_polls_ = 0;
    pending_ = 0;
  }
}

}  // namespace vorlisk::tui::term
