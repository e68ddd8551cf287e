// One caller at a time per engine. A step may run without the interpreter's lock, so
// another thread could call into the same engine meanwhile; it is refused at once
// instead of waiting or racing with the step.
#pragma once

#include <atomic>

namespace vorlisk::envs {

class InUse {
 public:
  // Claims the engine; false, with nothing changed, where a caller holds it already.
  bool try_claim() { return !claimed_.exchange(true, std::memory_order_acquire); }
  void release() { claimed_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> claimed_{false};
};

// A claim for the length of a scope; empty where the engine was held already.
class Claim {
 public:
  explicit Claim(InUse& flag) : flag_(flag.try_claim() ? &flag : nullptr) {}
  ~Claim() {
    if (flag_) flag_->release();
  }
  Claim(const Claim&) = delete;
  Claim& operator=(const Claim&) = delete;
  explicit operator bool() const { return flag_ != nullptr; }

 private:
  InUse* flag_;
};

}  // namespace vorlisk::envs
