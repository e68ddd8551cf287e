// The logger's metrics, described once.
//
// The metric cells, update()'s arguments (in C++ and in Python), the history
// sequences and the CSV columns are all generated from the table below, so
// adding a metric is one row. Each row reads:
//
//   X(cell, type, argument, argument name, history, csv)
//
//   cell      the name of the metric cell, history sequence and CSV column
//   type      std::uint64_t or double: the cell's, sequence's and field's type
//   argument  how update() receives it:
//               EVERY     a required argument, stored on every call
//               OR_ZERO   an optional float stored on every call, 0.0 when absent
//               IF_GIVEN  an optional float; absent leaves the cell as it is, and a
//                         u64 cell takes it truncated and saturated
//               NO_ARG    not an argument (the device monitor writes it)
//   argument name  update()'s parameter, in C++ and in Python (- for NO_ARG)
//   history   HIST when the history keeps a sequence of it, else NO_HIST
//   csv       CSV(decimals) for a fixed-point column, CSV_INT for an integer
//             column, NO_CSV for none
//
// Units: cpu_usage and gpu_usage are percent (cpu_usage of the whole machine);
// the *_mb cells are MiB, memory_mb being the RAM in use.
//
// The order of the rows is the order of the cells, of update()'s arguments (the
// required ones first), of the CSV columns (after the timestamp), and of the
// history sequences (before the derived percentages of VORLISK_DERIVED_HISTORY).
//
// The history point and the CSV row of an update() call read every value from
// its cell, after update()'s own stores.
#pragma once

// For the expansions: the cells are std::uint64_t or double, arguments std::optional.
#include <cstdint>
#include <optional>
#include <type_traits>

// clang-format off
#define VORLISK_METRICS(X)                                                                  \
  X(steps,               std::uint64_t, EVERY,    steps,            HIST,    CSV_INT)        \
  X(episodes,            std::uint64_t, EVERY,    episodes,         NO_HIST, CSV_INT)        \
  X(mean_reward,         double,        EVERY,    mean_reward,      HIST,    CSV(4))         \
  X(sps,                 double,        EVERY,    sps,              HIST,    CSV(0))         \
  X(policy_loss,         double,        OR_ZERO,  policy_loss,      HIST,    CSV(6))         \
  X(value_loss,          double,        OR_ZERO,  value_loss,       HIST,    CSV(6))         \
  X(entropy,             double,        OR_ZERO,  entropy,          NO_HIST, CSV(6))         \
  X(cpu_usage,           double,        NO_ARG,   -,                HIST,    CSV(2))         \
  X(gpu_usage,           double,        IF_GIVEN, gpu_usage,        HIST,    CSV(2))         \
  X(memory_mb,           std::uint64_t, NO_ARG,   -,                NO_HIST, CSV_INT)        \
  X(gpu_memory_mb,       std::uint64_t, IF_GIVEN, gpu_memory,       NO_HIST, CSV_INT)        \
  X(total_memory_mb,     std::uint64_t, NO_ARG,   -,                NO_HIST, NO_CSV)         \
  X(total_gpu_memory_mb, std::uint64_t, IF_GIVEN, total_gpu_memory, NO_HIST, NO_CSV)

// History sequences computed from two cells: used / total * 100, or 0.0 while
// the total is 0.
//   X(sequence, used cell, total cell)
#define VORLISK_DERIVED_HISTORY(X)                                   \
  X(memory_percent,     memory_mb,     total_memory_mb)              \
  X(gpu_memory_percent, gpu_memory_mb, total_gpu_memory_mb)
// clang-format on

// Column selectors: VORLISK_IF_<column>(flag)(text) keeps the text when the flag
// says so and drops it otherwise.
#define VORLISK_KEEP_(...) __VA_ARGS__
#define VORLISK_DROP_(...)

#define VORLISK_IF_ARG(kind) VORLISK_IF_ARG_##kind
#define VORLISK_IF_ARG_EVERY VORLISK_KEEP_
#define VORLISK_IF_ARG_OR_ZERO VORLISK_KEEP_
#define VORLISK_IF_ARG_IF_GIVEN VORLISK_KEEP_
#define VORLISK_IF_ARG_NO_ARG VORLISK_DROP_

#define VORLISK_IF_HIST(flag) VORLISK_IF_HIST_##flag
#define VORLISK_IF_HIST_HIST VORLISK_KEEP_
#define VORLISK_IF_HIST_NO_HIST VORLISK_DROP_

#define VORLISK_IF_CSV(flag) VORLISK_IF_CSV_##flag
#define VORLISK_IF_CSV_CSV(decimals) VORLISK_KEEP_
#define VORLISK_IF_CSV_CSV_INT VORLISK_KEEP_
#define VORLISK_IF_CSV_NO_CSV VORLISK_DROP_

// Decimals of a CSV column; integer columns ignore it.
#define VORLISK_CSV_DECIMALS(flag) VORLISK_CSV_DECIMALS_##flag
#define VORLISK_CSV_DECIMALS_CSV(decimals) decimals
#define VORLISK_CSV_DECIMALS_CSV_INT 0

namespace vorlisk::tui {

// The argument column as C++ sees it (NO_ARG rows are not arguments).
enum class ArgKind { EVERY, OR_ZERO, IF_GIVEN };

// The type of update()'s argument for a metric of type T: an IF_GIVEN one may be
// absent.
template <ArgKind kind, class T>
using ArgType = std::conditional_t<kind == ArgKind::IF_GIVEN, std::optional<double>, T>;

}  // namespace vorlisk::tui
