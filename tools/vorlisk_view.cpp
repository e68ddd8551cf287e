// Draws one view of the training monitor for a given terminal size, from metric
// values given on the command line and a generated history, and prints it: as
// plain text, or with the terminal's colour sequences (--ansi). A way to look at
// a view without a training loop.
//
//   vorlisk_view --mode chart --size 120x40 --gpu --history 100
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "tui/logger/shared_state.hpp"
#include "tui/term/backend.hpp"
#include "tui/views/views.hpp"

namespace {

using namespace vorlisk::tui;

constexpr const char* kUsage =
    "usage: vorlisk_view [--mode minimal|dashboard|chart] [--size WIDTHxHEIGHT] [--gpu]\n"
    "                    [--ansi] [--history N] [--steps N] [--episodes N] [--reward R]\n"
    "                    [--sps S] [--policy-loss L] [--value-loss L] [--entropy E]\n"
    "                    [--cpu PERCENT] [--memory MIB] [--total-memory MIB]\n"
    "                    [--gpu-usage PERCENT] [--gpu-memory MIB] [--total-gpu-memory MIB]\n"
    "                    [--elapsed SECONDS] [--total-steps N] [--paused]\n"
    "                    [--metrics NAME,NAME,...]\n"
    "\n"
    "Draws one view from the given figures (defaults: a run in mid-training) and a\n"
    "history of N points (default 100) along a learning curve ending at --steps.\n"
    "--gpu adds GPU figures (usage 71 %, 6 of 8 GiB unless given). --elapsed is the\n"
    "time since the logger started (default 754); --total-steps N shows the progress\n"
    "towards N steps; --paused draws the view as it shows while drawing is paused.\n"
    "--metrics adds the training loop's own metrics of these names, with made-up\n"
    "values of different scales.\n";

[[noreturn]] void usage_error(std::string_view message) {
  std::fprintf(stderr, "vorlisk_view: %.*s\n\n%s", static_cast<int>(message.size()),
               message.data(), kUsage);
  std::exit(2);
}

template <class T>
T parse(std::string_view option, std::string_view text) {
  T value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) {
    usage_error(std::string(option) + " takes a number, not '" + std::string(text) + "'");
  }
  return value;
}

struct Options {
  TUIMode mode = TUIMode::Minimal;
  std::uint16_t width = 120;
  std::uint16_t height = 40;
  bool ansi = false;
  bool gpu = false;
  bool paused = false;
  std::uint64_t elapsed_s = 754;
  std::uint64_t total_steps = 0;
  std::size_t history = 100;
  std::uint64_t steps = 1'250'000;
  std::uint64_t episodes = 8'432;
  double reward = 187.35;
  double sps = 51'234.0;
  double policy_loss = 0.012346;
  double value_loss = 0.48;
  double entropy = 0.6931;
  double cpu = 43.5;
  std::uint64_t memory_mb = 10'240;
  std::uint64_t total_memory_mb = 32'768;
  double gpu_usage = 71.0;
  std::uint64_t gpu_memory_mb = 6'144;
  std::uint64_t total_gpu_memory_mb = 8'192;
  std::vector<std::string> metrics;
};

Options parse_options(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--gpu") { o.gpu = true; continue; }
    if (arg == "--ansi") { o.ansi = true; continue; }
    if (arg == "--paused") { o.paused = true; continue; }
    if (arg == "--help" || arg == "-h") { std::fputs(kUsage, stdout); std::exit(0); }
    if (i + 1 >= argc) usage_error(std::string(arg) + " needs a value");
    std::string_view value = argv[++i];
    if (arg == "--mode") {
      std::optional<TUIMode> mode = parse_mode(value);
      if (!mode) usage_error("--mode is minimal, dashboard or chart");
      o.mode = *mode;
    } else if (arg == "--size") {
      std::size_t x = value.find('x');
      if (x == std::string_view::npos) usage_error("--size is WIDTHxHEIGHT, e.g. 120x40");
      o.width = parse<std::uint16_t>(arg, value.substr(0, x));
      o.height = parse<std::uint16_t>(arg, value.substr(x + 1));
    } else if (arg == "--history") { o.history = parse<std::size_t>(arg, value);
    } else if (arg == "--steps") { o.steps = parse<std::uint64_t>(arg, value);
    } else if (arg == "--episodes") { o.episodes = parse<std::uint64_t>(arg, value);
    } else if (arg == "--reward") { o.reward = parse<double>(arg, value);
    } else if (arg == "--sps") { o.sps = parse<double>(arg, value);
    } else if (arg == "--policy-loss") { o.policy_loss = parse<double>(arg, value);
    } else if (arg == "--value-loss") { o.value_loss = parse<double>(arg, value);
    } else if (arg == "--entropy") { o.entropy = parse<double>(arg, value);
    } else if (arg == "--cpu") { o.cpu = parse<double>(arg, value);
    } else if (arg == "--memory") { o.memory_mb = parse<std::uint64_t>(arg, value);
    } else if (arg == "--total-memory") { o.total_memory_mb = parse<std::uint64_t>(arg, value);
    } else if (arg == "--gpu-usage") { o.gpu_usage = parse<double>(arg, value);
    } else if (arg == "--gpu-memory") { o.gpu_memory_mb = parse<std::uint64_t>(arg, value);
    } else if (arg == "--elapsed") { o.elapsed_s = parse<std::uint64_t>(arg, value);
    } else if (arg == "--total-steps") { o.total_steps = parse<std::uint64_t>(arg, value);
    } else if (arg == "--metrics") {
      for (std::size_t start = 0; start <= value.size();) {
        std::size_t comma = std::min(value.find(',', start), value.size());
        o.metrics.emplace_back(value.substr(start, comma - start));
        start = comma + 1;
      }
    } else if (arg == "--total-gpu-memory") {
      o.total_gpu_memory_mb = parse<std::uint64_t>(arg, value);
    } else {
      usage_error("unknown option " + std::string(arg));
    }
  }
  return o;
}

// The latest figures, as update() and the monitor thread would have stored them.
void store_metrics(const Options& o, MetricsBuffer& m) {
  m.steps.store(o.steps);
  m.episodes.store(o.episodes);
  m.mean_reward.store(o.reward);
  m.sps.store(o.sps);
  m.policy_loss.store(o.policy_loss);
  m.value_loss.store(o.value_loss);
  m.entropy.store(o.entropy);
  m.cpu_usage.store(o.cpu);
  m.memory_mb.store(o.memory_mb);
  m.total_memory_mb.store(o.total_memory_mb);
  if (o.gpu) {
    m.gpu_usage.store(o.gpu_usage);
    m.gpu_memory_mb.store(o.gpu_memory_mb);
    m.total_gpu_memory_mb.store(o.total_gpu_memory_mb);
  }
}

// Metric k of the user's at time t in (0, 1]: a wave on a scale of 10^(1 - k % 4),
// drifting down.
double user_metric(std::size_t k, double t) {
  return std::pow(10.0, 1.0 - static_cast<double>(k % 4)) * (1.2 - 0.5 * t) *
         (1.0 + 0.3 * std::sin(t * 9.0 + static_cast<double>(k)));
}

// A deterministic run: evenly spaced points up to the current step count, the
// reward climbing towards its current value, losses falling, device load
// wandering around the current figures.
void fill_history(const Options& o, HistoryBuffer& history) {
  const double memory = usage_percent(o.memory_mb, o.total_memory_mb);
  const double gpu_memory = usage_percent(o.gpu_memory_mb, o.total_gpu_memory_mb);
  for (std::size_t k = 0; k < o.history; ++k) {
    double t = static_cast<double>(k + 1) / static_cast<double>(o.history);  // (0, 1]
    double wiggle = std::sin(static_cast<double>(k) * 0.7);
    HistoryPoint p;
    p.steps = static_cast<std::uint64_t>(std::llround(static_cast<double>(o.steps) * t));
    p.mean_reward = o.reward * (1.0 - std::exp(-4.0 * t)) / (1.0 - std::exp(-4.0)) +
                    0.04 * o.reward * wiggle * (1.0 - t);
    p.sps = o.sps * (0.9 + 0.1 * t);
    p.policy_loss = o.policy_loss * (1.0 + 3.0 * std::exp(-3.0 * t)) * (1.0 + 0.15 * wiggle);
    p.value_loss = o.value_loss * (1.0 + 5.0 * std::exp(-2.5 * t)) * (1.0 + 0.1 * std::cos(k * 0.9));
    p.cpu_usage = o.cpu * (1.0 + 0.2 * wiggle);
    p.memory_percent = memory * (0.8 + 0.2 * t);
    if (o.gpu) {
      p.gpu_usage = o.gpu_usage * (1.0 + 0.1 * std::cos(static_cast<double>(k) * 0.5));
      p.gpu_memory_percent = gpu_memory * (0.9 + 0.1 * t);
    }
    double user[kMaxUserMetrics];
    for (std::size_t m = 0; m < o.metrics.size() && m < kMaxUserMetrics; ++m) user[m] = user_metric(m, t);
    history.append(p, {user, std::min(o.metrics.size(), kMaxUserMetrics)});
  }
}

}  // namespace

int main(int argc, char** argv) try {
  Options o = parse_options(argc, argv);
  SharedState state = SharedState::create(o.mode, o.history, o.metrics);
  store_metrics(o, *state.metrics);
  double latest[kMaxUserMetrics];
  for (std::size_t m = 0; m < o.metrics.size(); ++m) latest[m] = user_metric(m, 1.0);
  state.user_metrics->store({latest, static_cast<std::uint32_t>((std::uint64_t{1} << o.metrics.size()) - 1)});
  fill_history(o, *state.history->lock());
  state.start_time = state.now() - std::chrono::seconds(o.elapsed_s);
  state.total_steps = o.total_steps;
  state.paused->store(o.paused);

  term::Buffer buffer(term::Rect{0, 0, o.width, o.height});
  term::Frame frame{buffer};
  views::render_view(o.mode, frame, state);

  std::string out;
  if (o.ansi) {
    term::render_full(buffer, term::color_mode_from_env(), out);
  } else {
    for (std::uint16_t y = 0; y < o.height; ++y) {
      std::string row = buffer.row_text(y);
      row.erase(row.find_last_not_of(' ') + 1);
      out += row;
      out += '\n';
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
} catch (const std::exception& error) {  // a history too large to hold, above all
  std::fprintf(stderr, "vorlisk_view: %s\n", error.what());
  return 1;
}
