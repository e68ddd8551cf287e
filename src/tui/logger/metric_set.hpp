// The logger's metrics, described once.
//
// The metric cells, update()'s arguments, the history sequences and the CSV
// columns are all generated from the table below, so adding a metric is one
// row. Each row reads:
//
//   X(cell, type, argument, argument name, history, csv)
//
//   cell      the name of the metric cell, history sequence and CSV column
//   type      std::uint64_t or double: the cell's, sequence's and field's type
//   argument  how update() receives it:
//               EVERY     a required argument, stored on every call
//               OR_ZERO   an optional argument stored on every call, 0.0 when absent
//               IF_GIVEN  an optional float; absent leaves the cell as it is, and a
//                         u64 cell takes it truncated and saturated
//               NO_ARG    not an argument (the device monitor writes it)
//   history   HIST when the history keeps a sequence of it, else NO_HIST
//   csv       CSV(decimals) for a fixed-point column, CSV_INT for an integer
//             column, NO_CSV for none
//
// Units: cpu_usage and gpu_usage are percent (cpu_usage of the whole machine);
// the *_mb cells are MiB, memory_mb being the RAM in use.
//
// The order of the rows is the order of the cells, of update()'s arguments, of
// the CSV columns (after the timestamp), and of the history sequences (before
// the derived percentages of VORLISK_DERIVED_HISTORY).
//
// A value that update() receives on every call goes to the history and the CSV
// row as given; any other comes from its cell at that moment, after update()'s
// own store.
#pragma once

// For the expansions: the cells are std::uint64_t or double, arguments std::optional.
#include <cstdint>
#include <optional>

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

// update()'s parameter for a metric received as an argument.
#define VORLISK_ARG_MEMBER(kind, type, name) VORLISK_ARG_MEMBER_##kind(type, name)
#define VORLISK_ARG_MEMBER_EVERY(type, name) type name = 0;
#define VORLISK_ARG_MEMBER_OR_ZERO(type, name) double name = 0.0;
#define VORLISK_ARG_MEMBER_IF_GIVEN(type, name) std::optional<double> name = std::nullopt;
#define VORLISK_ARG_MEMBER_NO_ARG(type, name)

// update()'s store of a metric received as an argument into its cell.
#define VORLISK_STORE_ARG(kind, cells, cell, args, arg) VORLISK_STORE_ARG_##kind(cells, cell, args, arg)
#define VORLISK_STORE_ARG_EVERY(cells, cell, args, arg) (cells).cell.store((args).arg);
#define VORLISK_STORE_ARG_OR_ZERO(cells, cell, args, arg) (cells).cell.store((args).arg);
#define VORLISK_STORE_ARG_IF_GIVEN(cells, cell, args, arg) \
  if ((args).arg) (cells).cell.store(from_float<decltype((cells).cell.load())>(*(args).arg));
#define VORLISK_STORE_ARG_NO_ARG(cells, cell, args, arg)

// The value that the history and the CSV row record for this update() call: the
// argument when it is stored on every call, else the cell as it is now.
#define VORLISK_LATEST(kind, cells, cell, args, arg) VORLISK_LATEST_##kind(cells, cell, args, arg)
#define VORLISK_LATEST_EVERY(cells, cell, args, arg) (args).arg
#define VORLISK_LATEST_OR_ZERO(cells, cell, args, arg) (args).arg
#define VORLISK_LATEST_IF_GIVEN(cells, cell, args, arg) (cells).cell.load()
#define VORLISK_LATEST_NO_ARG(cells, cell, args, arg) (cells).cell.load()
