#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <future>
#include <thread>

#include "tui/monitor/monitor.hpp"
#include "tui/monitor/proc_stats.hpp"
#include "tui_test_support.hpp"

namespace vorlisk::tui::monitor {
namespace {

// One of the fake library's switches and call counters (fake_nvml/fake_nvml.cpp),
// reached through our own handle on the same loaded copy the monitor uses. The
// handle stays open, so the counters live across the monitor's loads and unloads.
int& fake_nvml(const std::string& name) {
  static void* const handle = ::dlopen(VORLISK_FAKE_NVML_PATH, RTLD_NOW | RTLD_LOCAL);
  return *static_cast<int*>(::dlsym(handle, ("fake_nvml_" + name).c_str()));
}

// Runs the monitor body on this thread for `cycles` cycles without pauses, over
// GPU cells that hold 7.0, 5 and 9 before it starts.
std::shared_ptr<MetricsBuffer> run_cycles(int cycles, const char* nvml) {
  auto metrics = std::make_shared<MetricsBuffer>();
  metrics->gpu_usage.store(7.0);
  metrics->gpu_memory_mb.store(5);
  metrics->total_gpu_memory_mb.store(9);
  auto running = std::make_shared<RunningFlag>();
  if (cycles == 0) running->stop();
  auto stop_after = [running, cycles](int n) {
    if (n == cycles) running->stop();
  };
  run_monitor(metrics, running, 0, testing::fake_sources(stop_after, nvml));
  return metrics;
}

// Start-up (total RAM, NVML, the GPU's total memory) runs even when the logger is
// already closed; each cycle then samples CPU, RAM and what the library reports.
TEST(Monitor, WritesWhatTheLibraryReportsAndLeavesTheRest) {
  struct Case {
    const char* library;
    const char* failing;  // the fake's fail_* switch to set
    int cycles;
    double gpu_usage;
    std::uint64_t gpu_memory_mb, total_gpu_memory_mb;
    int shutdowns;
  };
  for (const Case& c : {Case{VORLISK_FAKE_NVML_PATH, nullptr, 2, 42.0, 3072, 16384, 1},
                        Case{VORLISK_FAKE_NVML_PATH, nullptr, 0, 7.0, 3072, 16384, 1},
                        Case{VORLISK_FAKE_NVML_PATH, "init", 2, 7.0, 5, 9, 0},
                        Case{VORLISK_FAKE_NVML_PATH, "handle", 2, 7.0, 5, 9, 1},
                        Case{VORLISK_FAKE_NVML_PATH, "memory", 2, 42.0, 5, 9, 1},
                        Case{VORLISK_FAKE_NVML_PATH, "utilization", 2, 7.0, 3072, 16384, 1},
                        Case{testing::kNoNvml, nullptr, 2, 7.0, 5, 9, 0}}) {
    SCOPED_TRACE(std::string(c.failing ? c.failing : c.library) + " " + std::to_string(c.cycles));
    if (c.failing) fake_nvml(std::string("fail_") + c.failing) = 1;
    const int shutdowns = fake_nvml("shutdown_calls");
    auto m = run_cycles(c.cycles, c.library);
    if (c.failing) fake_nvml(std::string("fail_") + c.failing) = 0;
    EXPECT_EQ(m->gpu_usage.load(), c.gpu_usage);
    EXPECT_EQ(m->gpu_memory_mb.load(), c.gpu_memory_mb);
    EXPECT_EQ(m->total_gpu_memory_mb.load(), c.total_gpu_memory_mb);
    EXPECT_EQ(fake_nvml("shutdown_calls") - shutdowns, c.shutdowns);
    EXPECT_EQ(m->cpu_usage.load(), c.cycles ? 12.5 : 0.0);
    EXPECT_EQ(m->memory_mb.load(), 2048u);  // read with the total, so never 0 of a known total
    EXPECT_EQ(m->total_memory_mb.load(), 8192u);
  }
}

// close() must not wait out the period, however long it is.
TEST(Monitor, StoppingCutsTheLongestPauseShort) {
  auto metrics = std::make_shared<MetricsBuffer>();
  auto running = std::make_shared<RunningFlag>();
  std::promise<void> first_cycle;
  auto signal_first = [&first_cycle](int n) {
    if (n == 1) first_cycle.set_value();
  };
  std::thread thread = spawn_monitor_thread(metrics, running, UINT64_MAX, testing::fake_sources(signal_first));
  first_cycle.get_future().wait();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // into its pause
  running->stop();
  thread.join();
  EXPECT_EQ(metrics->memory_mb.load(), 2048u);
}

// Run by ctest with LD_LIBRARY_PATH leading to the fake library, so that the
// monitor's own file name finds it.
TEST(NvmlSearchPath, FindsTheLibraryByItsFileName) {
  if (std::getenv("VORLISK_FAKE_NVML_DIR") == nullptr) GTEST_SKIP() << "VORLISK_FAKE_NVML_DIR is not set";
  auto m = run_cycles(1, kNvmlLibrary);
  EXPECT_EQ(m->total_gpu_memory_mb.load(), 16384u);
}

TEST(ProcStats, ParsesCpuTimesAndMemory) {
  auto t = parse_cpu_times("cpu  100 5 50 800 40 3 2 0 10 0\ncpu0 1 2 3 4\n");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->total, 1000u);  // guest time (10) is already inside user
  EXPECT_EQ(t->busy, 160u);    // without idle and iowait
  EXPECT_FALSE(parse_cpu_times("cpu0 1 2 3 4\n"));
  EXPECT_FALSE(parse_cpu_times("cpu  1 2\n"));
  EXPECT_EQ(cpu_percent({100, 1000}, {400, 1600}), 50.0f);
  EXPECT_TRUE(std::isnan(cpu_percent({100, 1000}, {100, 1000})));  // no time passed: no figure
  auto m = parse_meminfo("MemTotal:       16000 kB\nMemFree:         3000 kB\nMemAvailable:    9000 kB\n");
  EXPECT_EQ(m.total_bytes, 16000u * 1024);
  EXPECT_EQ(m.used_bytes, 7000u * 1024);
  EXPECT_EQ(parse_meminfo("MemTotal: 16000 kB\nMemFree: 3000 kB\nBuffers: 10 kB\n").used_bytes, 13000u * 1024);
}

}  // namespace
}  // namespace vorlisk::tui::monitor
