// Fixed figures for one GPU: 16 GiB in total, 3 GiB used, 42 % busy. Tests steer
// failures and count calls through the fake_nvml_* variables.
#include <cstdint>

#define EXPORT __attribute__((visibility("default")))

namespace {

constexpr int kSuccess = 0;
constexpr int kUnknownError = 999;
constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

struct Memory {
  std::uint64_t total, free, used;
};
struct Utilization {
  unsigned gpu, memory;
};

int device_tag;  // the address serves as the handle of GPU 0

}  // namespace

extern "C" {

// Which call fails: "init", "handle", "memory" or "utilization" set to 1.
EXPORT int fake_nvml_fail_init = 0;
EXPORT int fake_nvml_fail_handle = 0;
EXPORT int fake_nvml_fail_memory = 0;
EXPORT int fake_nvml_fail_utilization = 0;
EXPORT int fake_nvml_init_calls = 0;
EXPORT int fake_nvml_shutdown_calls = 0;

EXPORT int nvmlInit_v2() {
  ++fake_nvml_init_calls;
  return fake_nvml_fail_init ? kUnknownError : kSuccess;
}

EXPORT int nvmlDeviceGetHandleByIndex_v2(unsigned index, void** device) {
  if (fake_nvml_fail_handle || index != 0) return kUnknownError;
  *device = &device_tag;
  return kSuccess;
}

EXPORT int nvmlDeviceGetMemoryInfo(void* device, Memory* memory) {
  if (fake_nvml_fail_memory || device != &device_tag) return kUnknownError;
  *memory = Memory{16 * kGiB, 13 * kGiB, 3 * kGiB};
  return kSuccess;
}

EXPORT int nvmlDeviceGetUtilizationRates(void* device, Utilization* rates) {
  if (fake_nvml_fail_utilization || device != &device_tag) return kUnknownError;
  *rates = Utilization{42, 7};
  return kSuccess;
}

EXPORT int nvmlShutdown() {
  ++fake_nvml_shutdown_calls;
  return kSuccess;
}

}  // extern "C"
