#include "tui/monitor/nvml.hpp"

#include <dlfcn.h>

namespace vorlisk::tui::monitor {

namespace {

constexpr int kSuccess = 0;

// The library's utilisation record: two unsigned percentages, gpu then memory.
struct Utilization {
  unsigned gpu;
  unsigned memory;
};

// The memory record is three u64 byte counts in the order total, free, used.
static_assert(sizeof(GpuMemory) == 3 * sizeof(std::uint64_t));

template <class Fn>
Fn lookup(void* library, const char* name) noexcept {
  return reinterpret_cast<Fn>(::dlsym(library, name));
}

}  // namespace

Nvml::Nvml(const char* file_name) noexcept {
  library_ = ::dlopen(file_name, RTLD_LAZY | RTLD_LOCAL);
  if (library_ == nullptr) return;
  auto init = lookup<int (*)()>(library_, "nvmlInit_v2");
  get_handle_ = lookup<decltype(get_handle_)>(library_, "nvmlDeviceGetHandleByIndex_v2");
  get_memory_ = lookup<decltype(get_memory_)>(library_, "nvmlDeviceGetMemoryInfo");
  get_utilization_ = lookup<decltype(get_utilization_)>(library_, "nvmlDeviceGetUtilizationRates");
  shutdown_ = lookup<decltype(shutdown_)>(library_, "nvmlShutdown");
  initialised_ = init != nullptr && init() == kSuccess;
}

Nvml::~Nvml() {
  if (initialised_ && shutdown_ != nullptr) shutdown_();
  if (library_ != nullptr) ::dlclose(library_);
}

bool Nvml::device_by_index(unsigned index, Device* device) const noexcept {
  return initialised_ && get_handle_ != nullptr && get_handle_(index, device) == kSuccess;
}

bool Nvml::memory_info(Device device, GpuMemory* memory) const noexcept {
  return initialised_ && get_memory_ != nullptr && get_memory_(device, memory) == kSuccess;
}

bool Nvml::gpu_utilization(Device device, unsigned* percent) const noexcept {
  Utilization rates{};
  if (!initialised_ || get_utilization_ == nullptr || get_utilization_(device, &rates) != kSuccess) {
    return false;
  }
  *percent = rates.gpu;
  return true;
}

}  // namespace vorlisk::tui::monitor
