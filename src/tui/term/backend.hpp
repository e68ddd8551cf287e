// Turning frames into terminal output.
//
// A Terminal keeps the previous and the current frame's cells. draw() lets a view fill
// the current buffer, then writes only the cells that differ from the previous frame
// as ANSI sequences (cursor moves where cells are not adjacent, SGR attributes only
// when they change: 256-colour palette indices for the sixteen colours, the default
// colour for Color::Reset), hides the cursor, and sends it all with one write and one
// flush; a frame equal to the last one writes nothing at all. Each frame leaves the
// terminal in the default attributes. The buffers and the output text are reused, so
// once they have grown to the screen's size a frame allocates nothing. Writing goes
// through Output, so tests capture it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tui/term/buffer.hpp"
#include "tui/term/frame.hpp"
#include "tui/term/rect.hpp"

namespace vorlisk::tui::term {

// Where the bytes go. Both calls throw std::system_error when writing fails.
class Output {
 public:
  virtual ~Output() = default;
  virtual void write(std::string_view bytes) = 0;
  virtual void flush() = 0;
};

enum class ColorMode : std::uint8_t { Colors, NoColor };

// NoColor when the environment variable NO_COLOR holds a non-empty value. Read once
// per process, at the first call.
ColorMode color_mode_from_env() noexcept;

class Terminal {
 public:
  explicit Terminal(Output& output, ColorMode colors = color_mode_from_env());
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;
  // Shows the cursor again if a frame hid it; errors are ignored here.
  ~Terminal();

  // Draws one frame of `size`. When the size differs from the last frame's (and at
  // the first frame, or after a failed write), the screen is cleared first and every
  // cell that is not blank is written.
  // `view` is called as view(Frame&). Throws std::system_error when writing fails,
  // and lets an exception from `view` pass (nothing is written then).
  template <class View>
  void draw(Size size, View&& view) {
    Frame frame = begin_frame(size);
    view(frame);
    end_frame();
  }

  // Shows the cursor if a frame hid it. Throws std::system_error when writing fails.
  void show_cursor();

  // The screen shows something else now (another display's frame, or what the shell
  // drew while the process was stopped): the next frame clears it, writes every cell
  // and hides the cursor again.
  void redraw_all() noexcept {
    clear_needed_ = true;
    cursor_hidden_ = false;
  }

  const Buffer& current() const noexcept { return buffers_[current_]; }  // the last frame

 private:
  Frame begin_frame(Size size);
  void end_frame();

  Output& output_;
  ColorMode colors_;
  Buffer buffers_[2];
  int current_ = 0;
  bool cursor_hidden_ = false;
  bool clear_needed_ = true;
  std::string bytes_;  // reused between frames
};

// The ANSI text of the cells of `next` that differ from `previous`, as appended to
// `out`: what Terminal::draw writes, without the cursor hiding and the clearing. A
// `previous` of another area counts as a blank screen. Exposed for tests and the
// capture tool.
void render_diff(const Buffer& previous, const Buffer& next, ColorMode colors, std::string& out);

// `buffer` as rows of text with SGR attributes (no cursor moves), each row ending with
// an attribute reset (when attributes were set) and a line feed: how the capture tool
// prints a view. With ColorMode::NoColor only modifiers such as bold are written.
void render_full(const Buffer& buffer, ColorMode colors, std::string& out);

}  // namespace vorlisk::tui::term
