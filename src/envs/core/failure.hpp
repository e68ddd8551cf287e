// Broken internal invariants are reported as exceptions, never as crashes; the
// Python layer turns them into its internal-failure exception.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace vorlisk::envs {

class InternalFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline void check_length(const char* what, std::size_t got, std::size_t expected) {
  if (got != expected) {
    throw InternalFailure(std::string(what) + " has length " + std::to_string(got) +
                          ", expected " + std::to_string(expected));
  }
}

}  // namespace vorlisk::envs
