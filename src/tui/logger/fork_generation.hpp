// Which process an object was made in. A child made by fork() inherits the parent's
// loggers (their buffers, descriptors and lock states) but not their threads, so it
// must neither write what the parent owns nor join threads that do not exist in it.
#pragma once

#include <cstdint>

namespace vorlisk::tui {

// Counts the fork() calls on the way from the process that loaded vorlisk to this
// one; an object made before a fork sees a different number in the child. Cheap
// (an atomic load): the hot path may ask it.
std::uint64_t fork_generation() noexcept;

}  // namespace vorlisk::tui
