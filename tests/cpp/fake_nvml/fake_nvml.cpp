// Fixed figures for one GPU: 16 GiB in total, 3 GiB used, 42 % busy. Tests steer
// failures and count calls through the fake_nvml_* variables.
#include <cstdint>

#define EXPORT __attribute__((visibility("default")))

namespace {
constexpr int kSuccess = 0, kUnknownError = 999;
constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
int device_tag;  // its address is the handle of GPU 0
}  // namespace

extern "C" {

// Setting one to 1 makes that call fail.
EXPORT int fake_nvml_fail_init = 0, fake_nvml_fail_handle = 0, fake_nvml_fail_memory = 0,
           fake_nvml_fail_utilization = 0;
EXPORT int fake_nvml_shutdown_calls = 0;

EXPORT int nvmlInit_v2() { return fake_nvml_fail_init ? kUnknownError : kSuccess; }

EXPORT int nvmlDeviceGetHandleByIndex_v2(unsigned index, void** device) {
  if (fake_nvml_fail_handle || index != 0) return kUnknownError;
  *device = &device_tag;
  return kSuccess;
}

// The record: total, free and used bytes.
EXPORT int nvmlDeviceGetMemoryInfo(void* device, std::uint64_t* memory) {
  if (fake_nvml_fail_memory || device != &device_tag) return kUnknownError;
  memory[0] = 16 * kGiB, memory[1] = 13 * kGiB, memory[2] = 3 * kGiB;
  return kSuccess;
}

// The record: gpu and memory percentages.
EXPORT int nvmlDeviceGetUtilizationRates(void* device, unsigned* rates) {
  if (fake_nvml_fail_utilization || device != &device_tag) return kUnknownError;
  rates[0] = 42, rates[1] = 7;
  return kSuccess;
}

EXPORT int nvmlShutdown() {
  ++fake_nvml_shutdown_calls;
  return kSuccess;
}

}  // extern "C"
