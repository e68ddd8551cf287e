#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <thread>

#include "tui/logger/metrics.hpp"
#include "tui/monitor/monitor.hpp"
#include "tui/monitor/proc_stats.hpp"
#include "tui_test_support.hpp"

namespace vorlisk::tui::monitor {
namespace {

using testing::FakeStats;
using testing::fake_sources;

// The fake library's switches and call counters, reached through our own handle
// on the same loaded copy the monitor uses.
class FakeNvml {
 public:
  FakeNvml() : handle_(::dlopen(VORLISK_FAKE_NVML_PATH, RTLD_NOW | RTLD_LOCAL)) {}
  ~FakeNvml() {
    if (!handle_) return;
    for (const char* name : {"fake_nvml_fail_init", "fake_nvml_fail_handle", "fake_nvml_fail_memory",
                             "fake_nvml_fail_utilization"}) {
      var(name) = 0;
    }
    ::dlclose(handle_);
  }
  bool loaded() const { return handle_ != nullptr; }
  int& var(const char* name) { return *static_cast<int*>(::dlsym(handle_, name)); }

 private:
  void* handle_;
};

// Values the GPU cells hold before the monitor starts.
struct Seed {
  double gpu_usage = 7.0;
  std::uint64_t gpu_memory_mb = 5;
  std::uint64_t total_gpu_memory_mb = 9;
};

// Runs the monitor body on this thread for `cycles` cycles without pauses.
std::shared_ptr<MetricsBuffer> run_cycles(int cycles, const char* nvml,
                                          FakeStats::Figures figures = {}) {
  Seed seed;
  auto metrics = std::make_shared<MetricsBuffer>();
  metrics->gpu_usage.store(seed.gpu_usage);
  metrics->gpu_memory_mb.store(seed.gpu_memory_mb);
  metrics->total_gpu_memory_mb.store(seed.total_gpu_memory_mb);
  auto running = std::make_shared<RunningFlag>();
  if (cycles == 0) running->stop();
  figures.on_cpu_refresh = [running, cycles](int n) {
    if (n == cycles) running->stop();
  };
  run_monitor(metrics, running, 0, fake_sources(figures, nvml));
  return metrics;
}

struct GpuCase {
  const char* name;
  const char* failing;  // fake_nvml_fail_* switch to set, or nullptr
  double gpu_usage;
  std::uint64_t gpu_memory_mb;
  std::uint64_t total_gpu_memory_mb;
  int shutdowns;
};

class MonitorWithFakeNvml : public ::testing::TestWithParam<GpuCase> {};

TEST_P(MonitorWithFakeNvml, WritesWhatTheLibraryReports) {
  const GpuCase& c = GetParam();
  FakeNvml nvml;
  ASSERT_TRUE(nvml.loaded());
  if (c.failing) nvml.var(c.failing) = 1;
  int shutdowns_before = nvml.var("fake_nvml_shutdown_calls");

  auto m = run_cycles(2, VORLISK_FAKE_NVML_PATH);

  EXPECT_EQ(m->gpu_usage.load(), c.gpu_usage);
  EXPECT_EQ(m->gpu_memory_mb.load(), c.gpu_memory_mb);
  EXPECT_EQ(m->total_gpu_memory_mb.load(), c.total_gpu_memory_mb);
  EXPECT_EQ(nvml.var("fake_nvml_shutdown_calls") - shutdowns_before, c.shutdowns);
}

// Seeded cells (7.0, 5, 9) show where the monitor left a cell alone.
INSTANTIATE_TEST_SUITE_P(
    Library, MonitorWithFakeNvml,
    ::testing::Values(GpuCase{"Readable", nullptr, 42.0, 3072, 16384, 1},
                      GpuCase{"InitFails", "fake_nvml_fail_init", 7.0, 5, 9, 0},
                      GpuCase{"NoDevice", "fake_nvml_fail_handle", 7.0, 5, 9, 1},
                      GpuCase{"MemoryQueryFails", "fake_nvml_fail_memory", 42.0, 5, 9, 1},
                      GpuCase{"UtilizationQueryFails", "fake_nvml_fail_utilization", 7.0, 3072,
                              16384, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Monitor, WithoutTheLibraryGpuCellsChangeOnlyThroughUpdate) {
  auto m = run_cycles(3, testing::kNoNvml);
  EXPECT_EQ(m->gpu_usage.load(), 7.0);
  EXPECT_EQ(m->gpu_memory_mb.load(), 5u);
  EXPECT_EQ(m->total_gpu_memory_mb.load(), 9u);
  EXPECT_EQ(m->cpu_usage.load(), 12.5);
  EXPECT_EQ(m->memory_mb.load(), 2048u);
  EXPECT_EQ(m->total_memory_mb.load(), 8192u);
}

TEST(Monitor, StartUpRunsEvenWhenAlreadyStopped) {
  FakeNvml nvml;
  ASSERT_TRUE(nvml.loaded());
  int shutdowns_before = nvml.var("fake_nvml_shutdown_calls");
  auto m = run_cycles(0, VORLISK_FAKE_NVML_PATH);
  EXPECT_EQ(m->total_memory_mb.load(), 8192u);
  EXPECT_EQ(m->total_gpu_memory_mb.load(), 16384u);
  EXPECT_EQ(m->cpu_usage.load(), 0.0);  // no cycle ran
  EXPECT_EQ(m->gpu_usage.load(), 7.0);
  EXPECT_EQ(nvml.var("fake_nvml_shutdown_calls") - shutdowns_before, 1);
}

class MemoryMiB : public ::testing::TestWithParam<std::pair<std::uint64_t, std::uint64_t>> {};

TEST_P(MemoryMiB, UsedBytesAreShiftedDownTo) {
  FakeStats::Figures figures;
  figures.used_bytes = GetParam().first;
  EXPECT_EQ(run_cycles(1, testing::kNoNvml, figures)->memory_mb.load(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Bytes, MemoryMiB,
                         ::testing::Values(std::pair<std::uint64_t, std::uint64_t>{1048575, 0},
                                           std::pair<std::uint64_t, std::uint64_t>{1048576, 1},
                                           std::pair<std::uint64_t, std::uint64_t>{3u << 30, 3072}));

// close() must not wait out the period, however long it is.
TEST(Monitor, StoppingCutsTheLongestPauseShort) {
  auto metrics = std::make_shared<MetricsBuffer>();
  auto running = std::make_shared<RunningFlag>();
  std::promise<void> first_cycle;
  FakeStats::Figures figures;
  figures.on_cpu_refresh = [&first_cycle](int n) {
    if (n == 1) first_cycle.set_value();
  };
  std::thread thread = spawn_monitor_thread(metrics, running, UINT64_MAX, fake_sources(figures));
  first_cycle.get_future().wait();
  running->stop();
  thread.join();
  EXPECT_EQ(metrics->memory_mb.load(), 2048u);
}

// Run by ctest with LD_LIBRARY_PATH leading to the fake library, so that the
// monitor's own file name finds it.
TEST(NvmlSearchPath, FindsTheLibraryByItsFileName) {
  if (std::getenv("VORLISK_FAKE_NVML_DIR") == nullptr) {
    GTEST_SKIP() << "VORLISK_FAKE_NVML_DIR is not set";
  }
  auto m = run_cycles(1, kNvmlLibrary);
  EXPECT_EQ(m->total_gpu_memory_mb.load(), 16384u);
  EXPECT_EQ(m->gpu_usage.load(), 42.0);
  EXPECT_EQ(m->gpu_memory_mb.load(), 3072u);
}

TEST(ProcStats, ParsesTheAggregateCpuLine) {
  auto t = parse_cpu_times("cpu  100 5 50 800 40 3 2 0 10 0\ncpu0 1 2 3 4\n");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->total, 1000u);  // guest time (10) is already inside user
  EXPECT_EQ(t->busy, 160u);    // without idle and iowait
  EXPECT_FALSE(parse_cpu_times("cpu0 1 2 3 4\n"));
  EXPECT_FALSE(parse_cpu_times("cpu  1 2\n"));
}

TEST(ProcStats, UsedMemoryIsTotalMinusAvailable) {
  auto m = parse_meminfo("MemTotal:       16000 kB\nMemFree:         3000 kB\nMemAvailable:    9000 kB\n");
  EXPECT_EQ(m.total_bytes, 16000u * 1024);
  EXPECT_EQ(m.used_bytes, 7000u * 1024);
  auto old_kernel = parse_meminfo("MemTotal: 16000 kB\nMemFree: 3000 kB\nBuffers: 10 kB\n");
  EXPECT_EQ(old_kernel.used_bytes, 13000u * 1024);
}

TEST(ProcStats, ThisMachineReportsPlausibleFigures) {
  auto stats = make_system_stats();
  stats->refresh_cpu();
  stats->refresh_memory();
  EXPECT_GT(stats->total_memory_bytes(), 0u);
  EXPECT_GT(stats->used_memory_bytes(), 0u);
  EXPECT_LT(stats->used_memory_bytes(), stats->total_memory_bytes());
  EXPECT_GE(stats->cpu_usage(), 0.0f);
  EXPECT_LE(stats->cpu_usage(), 100.0f);
}

}  // namespace
}  // namespace vorlisk::tui::monitor
