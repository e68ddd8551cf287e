// What a view draws into: the whole screen's area and its cell buffer.
#pragma once

#include "tui/term/buffer.hpp"

namespace vorlisk::tui::term {

struct Frame {
  Buffer& buffer;
  Rect area() const noexcept { return buffer.area(); }
};

}  // namespace vorlisk::tui::term
