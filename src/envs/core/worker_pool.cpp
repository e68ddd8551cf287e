#include "envs/core/worker_pool.hpp"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace vorlisk::envs {
namespace {

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// A training loop calls step after step, with a little Python work in between. A
// thread that waits that long without sleeping is there at once for the next step; a
// wake-up through the kernel would cost a good part of a step. So a waiting thread
// spins briefly, then keeps yielding its processor to any other runnable thread for
// up to a millisecond, and only then sleeps.
constexpr auto kSpinTime = std::chrono::microseconds(50);
constexpr auto kYieldTime = std::chrono::microseconds(1000);

template <class Ready>
bool spin_until(Ready ready) {
  const auto start = std::chrono::steady_clock::now();
  for (unsigned n = 1;; ++n) {
    if (ready()) return true;
    if ((n & 63) != 0) {
      cpu_relax();
      continue;
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    if (waited > kYieldTime) return false;
    if (waited > kSpinTime) std::this_thread::yield();
  }
}

std::size_t logical_cpus() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<std::size_t>(n);
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? n : 1;
}

}  // namespace

std::size_t parse_thread_count(const char* text) {
  if (!text || *text == '\0') return 0;
  std::size_t value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return 0;
    const std::size_t digit = static_cast<std::size_t>(*p - '0');
    if (value > (SIZE_MAX - digit) / 10) return 0;
    value = value * 10 + digit;
  }
  return value;
}

struct Job {
  Job(void (*f)(void*, std::size_t), void* c, std::size_t n) : fn(f), ctx(c), count(n) {}

  void (*fn)(void*, std::size_t);
  void* ctx;
  std::size_t count;
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  std::atomic<std::size_t> refs{0};  // helpers that hold a pointer to this job
  std::atomic<bool> failed{false};
  std::exception_ptr error;

  void work() {
    for (;;) {
      const std::size_t i = next.fetch_add(1, std::memory_order_relaxed);
      if (i >= count) return;
      try {
        fn(ctx, i);
      } catch (...) {
        if (!failed.exchange(true, std::memory_order_acq_rel)) error = std::current_exception();
      }
      if (done.fetch_add(1, std::memory_order_acq_rel) + 1 == count) done.notify_all();
    }
  }
};

struct WorkerPool::State {
  std::mutex run_mutex;  // one map at a time
  std::mutex mutex;      // guards `current`; generation changes under it
  std::condition_variable wake;
  std::atomic<std::uint64_t> generation{0};
  Job* current = nullptr;
};

WorkerPool::WorkerPool(std::size_t threads) : state_(new State), helpers_(0) {
  for (std::size_t i = 1; i < threads; ++i) {
    try {
      std::thread(&WorkerPool::worker_loop, this).detach();
      ++helpers_;
    } catch (const std::system_error&) {
      break;  // run with the threads we have; the caller always takes part
    }
  }
}

void WorkerPool::worker_loop() {
  State& s = *state_;
  std::uint64_t seen = 0;
  for (;;) {
    if (!spin_until([&] { return s.generation.load(std::memory_order_acquire) != seen; })) {
      std::unique_lock lock(s.mutex);
      s.wake.wait(lock, [&] { return s.generation.load(std::memory_order_relaxed) != seen; });
    }
    Job* job;
    {
      std::lock_guard lock(s.mutex);
      seen = s.generation.load(std::memory_order_relaxed);
      job = s.current;
      if (job) job->refs.fetch_add(1, std::memory_order_relaxed);
    }
    if (job) {
      job->work();
      job->refs.fetch_sub(1, std::memory_order_release);
    }
  }
}

void WorkerPool::run_erased(std::size_t count, TaskFn fn, void* ctx) {
  if (count == 0) return;
  State& s = *state_;
  std::lock_guard run_lock(s.run_mutex);
  Job job(fn, ctx, count);
  if (helpers_ > 0 && count > 1) {
    {
      std::lock_guard lock(s.mutex);
      s.current = &job;
      s.generation.fetch_add(1, std::memory_order_release);
    }
    s.wake.notify_all();
  }
  job.work();
  if (!spin_until([&] { return job.done.load(std::memory_order_acquire) == count; })) {
    for (std::size_t d; (d = job.done.load(std::memory_order_acquire)) != count;) job.done.wait(d);
  }
  {
    std::lock_guard lock(s.mutex);
    s.current = nullptr;
  }
  while (job.refs.load(std::memory_order_acquire) != 0) std::this_thread::yield();
  if (job.error) std::rethrow_exception(job.error);
}

namespace {

std::mutex global_mutex;
WorkerPool* global_pool = nullptr;

void forget_pool_in_child() {
  // The parent's threads do not exist here. Leak the parent's pool (its locks may
  // be held by threads that are gone) and let the next use build a fresh one.
  new (&global_mutex) std::mutex;
  global_pool = nullptr;
}

}  // namespace

WorkerPool& WorkerPool::global() {
  static const bool registered = [] {
    pthread_atfork(nullptr, nullptr, forget_pool_in_child);
    return true;
  }();
  (void)registered;
  std::lock_guard lock(global_mutex);
  if (!global_pool) {
    std::size_t threads = parse_thread_count(std::getenv("RAYON_NUM_THREADS"));
    if (threads == 0) threads = logical_cpus();
    global_pool = new WorkerPool(threads);
  }
  return *global_pool;
}

}  // namespace vorlisk::envs
