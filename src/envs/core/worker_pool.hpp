// The process-wide pool that runs the chunked path: a map over task indices
// 0..count-1, the calling thread taking part and waiting until every task is done.
#pragma once

#include <cstddef>
#include <type_traits>

namespace vorlisk::envs {

class WorkerPool {
 public:
  // The pool of this process, created on first use. A child made by fork() after
  // the pool existed gets a pool of its own, since the parent's threads do not
  // exist in the child.
  static WorkerPool& global();

  // Threads that run tasks, the caller included: RAYON_NUM_THREADS when it holds a
  // positive integer, otherwise the number of logical CPUs.
  std::size_t thread_count() const { return helpers_ + 1; }

  // Runs task(i) for every i in [0, count). The first exception thrown by a task is
  // rethrown here after all tasks have ended.
  template <class F>
  void run(std::size_t count, F&& task) {
    auto trampoline = [](void* ctx, std::size_t i) { (*static_cast<std::remove_reference_t<F>*>(ctx))(i); };
    run_erased(count, trampoline, static_cast<void*>(&task));
  }

  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

 private:
  using TaskFn = void (*)(void*, std::size_t);
  explicit WorkerPool(std::size_t threads);
  ~WorkerPool() = delete;  // lives until the process ends; workers may still sleep on it

  void run_erased(std::size_t count, TaskFn fn, void* ctx);
  void worker_loop();

  struct State;
  State* state_;
  std::size_t helpers_;
};

// Parses a thread-count setting: a positive decimal integer, else 0.
std::size_t parse_thread_count(const char* text);

}  // namespace vorlisk::envs
