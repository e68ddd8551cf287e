// The few NVIDIA Management Library calls the monitor makes, reached through the
// dynamic loader at run time so that machines without the library work as usual.
#pragma once

#include <cstdint>

namespace vorlisk::tui::monitor {

// The library's file name on this platform.
#if defined(_WIN32)
inline constexpr const char* kNvmlLibrary = "nvml.dll";
#else
inline constexpr const char* kNvmlLibrary = "libnvidia-ml.so.1";
#endif

struct GpuMemory {
  std::uint64_t total = 0;  // bytes
  std::uint64_t free = 0;
  std::uint64_t used = 0;
};

// An initialised library, or nothing: loading it, finding nvmlInit_v2 or the
// initialisation itself may fail, and each failure just means no GPU figures.
// Shuts the library down (only if it was initialised) and unloads it at the end.
class Nvml {
 public:
  using Device = void*;

  explicit Nvml(const char* file_name) noexcept;
  Nvml(const Nvml&) = delete;
  Nvml& operator=(const Nvml&) = delete;
  ~Nvml();

  // Each returns false when the call is missing or fails.
  bool device_by_index(unsigned index, Device* device) const noexcept;
  bool memory_info(Device device, GpuMemory* memory) const noexcept;
  bool gpu_utilization(Device device, unsigned* percent) const noexcept;

 private:
  void* library_ = nullptr;
  bool initialised_ = false;
  // Entry points, resolved when the library is opened.
  int (*get_handle_)(unsigned, Device*) = nullptr;
  int (*get_memory_)(Device, GpuMemory*) = nullptr;
  int (*get_utilization_)(Device, void*) = nullptr;
  int (*shutdown_)() = nullptr;
};

}  // namespace vorlisk::tui::monitor
