// The device monitor: a thread that samples CPU, RAM and GPU figures into the
// logger's metric cells until the running flag is cleared.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "tui/logger/metrics.hpp"
#include "tui/logger/running_flag.hpp"
#include "tui/monitor/nvml.hpp"
#include "tui/monitor/system_stats.hpp"

namespace vorlisk::tui::monitor {

// Where the figures come from. Tests swap in their own statistics and library.
struct Sources {
  std::function<std::unique_ptr<SystemStats>()> make_stats = make_system_stats;
  std::string nvml_library = kNvmlLibrary;
};

// The thread body. Start-up (first samples, total RAM, NVML and the GPU's total
// memory) always runs, even when `running` is already false; then one cycle per
// period until `running` is cleared. A period of 0 means no pause between
// cycles. Clearing `running` also cuts a pause short.
void run_monitor(std::shared_ptr<MetricsBuffer> metrics, std::shared_ptr<RunningFlag> running,
                 std::uint64_t period_ms, const Sources& sources) noexcept;

// Starts run_monitor on its own thread. Throws std::system_error when the
// operating system refuses the thread.
std::thread spawn_monitor_thread(std::shared_ptr<MetricsBuffer> metrics,
                                 std::shared_ptr<RunningFlag> running, std::uint64_t period_ms,
                                 Sources sources);

}  // namespace vorlisk::tui::monitor
