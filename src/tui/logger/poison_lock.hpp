// A mutex around a value that remembers an abnormal end.
//
// When a thread leaves a locked section by unwinding with an exception, the value
// may be half-updated. The guard notices this in its destructor and marks the
// lock poisoned for good; later holders can ask and decide what to trust.
#pragma once

#include <atomic>
#include <exception>
#include <mutex>
#include <utility>

namespace vorlisk::tui {

template <class T>
class PoisonLock {
 public:
  class Guard {
   public:
    Guard() = default;  // holds nothing
    Guard(Guard&&) noexcept = default;
    Guard& operator=(Guard&&) = delete;
    ~Guard() {
      if (lock_.owns_lock() && std::uncaught_exceptions() > exceptions_at_entry_) {
        owner_->poisoned_.store(true, std::memory_order_relaxed);
      }
    }

    // False for the empty guard of a failed try_lock.
    explicit operator bool() const noexcept { return lock_.owns_lock(); }
    bool poisoned() const noexcept { return owner_ && owner_->poisoned(); }

    T& operator*() const noexcept { return owner_->value_; }
    T* operator->() const noexcept { return &owner_->value_; }

   private:
    friend class PoisonLock;
    Guard(PoisonLock* owner, std::unique_lock<std::mutex> lock) noexcept
        : owner_(owner), lock_(std::move(lock)), exceptions_at_entry_(std::uncaught_exceptions()) {}

    PoisonLock* owner_ = nullptr;
    std::unique_lock<std::mutex> lock_;
    int exceptions_at_entry_ = 0;
  };

  template <class... Args>
  explicit PoisonLock(std::in_place_t, Args&&... args) : value_(std::forward<Args>(args)...) {}

  PoisonLock(const PoisonLock&) = delete;
  PoisonLock& operator=(const PoisonLock&) = delete;

  // Waits for the lock.
  Guard lock() { return Guard(this, std::unique_lock(mutex_)); }

  // Never waits: an empty guard when the lock is busy.
  Guard try_lock() noexcept {
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) return Guard();
    return Guard(this, std::move(lock));
  }

  bool poisoned() const noexcept { return poisoned_.load(std::memory_order_relaxed); }

 private:
  std::mutex mutex_;
  std::atomic<bool> poisoned_{false};
  T value_;
};

}  // namespace vorlisk::tui
