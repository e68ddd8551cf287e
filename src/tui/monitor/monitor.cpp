#include "tui/monitor/monitor.hpp"

#include <cmath>
#include <utility>

namespace vorlisk::tui::monitor {

namespace {

constexpr std::uint64_t to_mib(std::uint64_t bytes) noexcept { return bytes >> 20; }

void sample(MetricsBuffer& metrics, SystemStats& stats, const Nvml& nvml,
            const Nvml::Device* device) {
  stats.refresh_cpu();
  stats.refresh_memory();
  // No figure yet (no time has passed since the first reading) leaves the cell at 0.
  const float cpu = stats.cpu_usage();
  if (!std::isnan(cpu)) {
    metrics.cpu_usage.store(static_cast<double>(cpu));
    metrics.cpu_sampled.store(true, std::memory_order_release);
  }
  metrics.memory_mb.store(to_mib(stats.used_memory_bytes()));
  if (device == nullptr) return;
  // A failed query leaves its cell as it was until the next cycle.
  unsigned percent = 0;
  if (nvml.gpu_utilization(*device, &percent)) {
    metrics.gpu_usage.store(static_cast<double>(percent));
    metrics.gpu_sampled.store(true, std::memory_order_release);
  }
  GpuMemory memory;
  if (nvml.memory_info(*device, &memory)) metrics.gpu_memory_mb.store(to_mib(memory.used));
}

void monitor_body(MetricsBuffer& metrics, RunningFlag& running, std::uint64_t period_ms,
                  const Sources& sources) {
  std::unique_ptr<SystemStats> stats = sources.make_stats();
  // The used figures before the totals, so that no history point takes a known
  // total with a used figure of 0 for a percentage.
  stats->refresh_memory();
  metrics.memory_mb.store(to_mib(stats->used_memory_bytes()));
  metrics.total_memory_mb.store(to_mib(stats->total_memory_bytes()));

  Nvml nvml(sources.nvml_library.c_str());
  Nvml::Device device = nullptr;
  bool has_device = nvml.device_by_index(0, &device);
  GpuMemory memory;
  if (has_device && nvml.memory_info(device, &memory)) {
    metrics.gpu_memory_mb.store(to_mib(memory.used));
    metrics.total_gpu_memory_mb.store(to_mib(memory.total));
  }

  const auto period = millis_to_duration(period_ms);
  while (running.is_running()) {
    sample(metrics, *stats, nvml, has_device ? &device : nullptr);
    if (period_ms != 0) running.sleep_for(period);
  }
}

}  // namespace

void run_monitor(std::shared_ptr<MetricsBuffer> metrics, std::shared_ptr<RunningFlag> running,
                 std::uint64_t period_ms, const Sources& sources) noexcept {
  try {
    monitor_body(*metrics, *running, period_ms, sources);
  } catch (...) {
    // Only the start-up can throw (out of memory for the statistics object). The
    // monitor then simply stops sampling; the logger goes on without it.
  }
}

std::thread spawn_monitor_thread(std::shared_ptr<MetricsBuffer> metrics,
                                 std::shared_ptr<RunningFlag> running, std::uint64_t period_ms,
                                 Sources sources) {
  return std::thread([metrics = std::move(metrics), running = std::move(running), period_ms,
                      sources = std::move(sources)]() mutable {
    run_monitor(std::move(metrics), std::move(running), period_ms, sources);
  });
}

}  // namespace vorlisk::tui::monitor
