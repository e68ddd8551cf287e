"""Cost of TUILogger.update in a training loop, beside what a script would do instead.

Measures calls per second, in one run:
  - max(a, b, c, d): a builtin call with four arguments, the floor for any call;
  - update(...) without a CSV file;
  - update(...) with a CSV file;
  - the plain-Python CSV log: the same twelve fields formatted with f-strings and
    written with csv.writer.writerow to a buffered file;
  - update(...) with three and with eight metrics of the loop's own given by keyword,
    beside the same call without them (and with three built-in figures by keyword
    instead: Python's own cost of keywords), with and without a CSV file, the runs
    taking turns so that a busy machine slows each alike.

Run: python benchmarks/bench_logger.py [--calls N] [--repeats R]
"""

import argparse
import csv
import os
import tempfile
import time

import vorlisk


def best_rate(body, calls, repeats):
    """Calls per second of the fastest of `repeats` runs of body(calls)."""
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        body(calls)
        best = min(best, time.perf_counter() - start)
    return calls / best


def bench_max(calls):
    a, b, c, d = 1.0, 2.0, 3.0, 4.0
    f = max
    for _ in range(calls):
        f(a, b, c, d)


def taking_turns(bodies, calls, repeats):
    """Calls per second of the fastest run of each body, the bodies run in turn."""
    best = dict.fromkeys(bodies, float("inf"))
    for _ in range(repeats):
        for name, body in bodies.items():
            start = time.perf_counter()
            body(calls)
            best[name] = min(best[name], time.perf_counter() - start)
    return {name: calls / seconds for name, seconds in best.items()}


METRICS_3 = ("kl", "clip_frac", "lr")
METRICS_8 = METRICS_3 + ("episode_len", "epsilon", "grad_norm", "explained_var", "q_value")


def make_metrics_loop(logger, count, losses):
    """update() with `count` metrics of the loop's own (0, 3 or 8) given by keyword, and
    the three losses (by position, or by keyword when `losses` says so)."""
    update = logger.update
    if count == 0 and not losses:
        def loop(calls):
            for i in range(calls):
                update(i, 12, 195.25, 51234.7)
    elif count == 0 and losses == "keywords":
        def loop(calls):
            for i in range(calls):
                update(i, 12, 195.25, 51234.7, policy_loss=0.0123456, value_loss=1.5, entropy=0.6931)
    elif count == 0:
        def loop(calls):
            for i in range(calls):
                update(i, 12, 195.25, 51234.7, 0.0123456, 1.5, 0.6931)
    elif count == 3 and not losses:
        def loop(calls):
            for i in range(calls):
                update(i, 12, 195.25, 51234.7, kl=0.0123, clip_frac=0.21, lr=3e-4)
    elif count == 3:
        def loop(calls):
            for i in range(calls):
                update(i, 12, 195.25, 51234.7, 0.0123456, 1.5, 0.6931, kl=0.0123,
                       clip_frac=0.21, lr=3e-4)
    else:
        def loop(calls):
            for i in range(calls):
                update(i, 12, 195.25, 51234.7, kl=0.0123, clip_frac=0.21, lr=3e-4,
                       episode_len=187.5, epsilon=0.05, grad_norm=0.8, explained_var=0.93,
                       q_value=12.5)

    return loop


def make_update_loop(logger):
    update = logger.update

    def loop(calls):
        for i in range(calls):
            update(i, 12, 195.25, 51234.7)

    return loop


def make_update_csv_loop(logger):
    update = logger.update

    def loop(calls):
        for i in range(calls):
            update(i, 12, 195.25, 51234.7, 0.0123456, 1.5, 0.6931)

    return loop


def make_python_csv_loop(stream):
    writer = csv.writer(stream, lineterminator="\n")
    writerow = writer.writerow
    writerow(["timestamp", "steps", "episodes", "mean_reward", "sps", "policy_loss",
              "value_loss", "entropy", "cpu_usage", "gpu_usage", "memory_mb", "gpu_memory_mb"])
    start = time.monotonic()
    cpu_usage, gpu_usage, memory_mb, gpu_memory_mb = 12.5, 0.0, 10240, 0
    mean_reward, sps, policy_loss, value_loss, entropy = 195.25, 51234.7, 0.0123456, 1.5, 0.6931
    monotonic = time.monotonic

    def loop(calls):
        for i in range(calls):
            writerow([
                f"{monotonic() - start:.3f}", f"{i}", f"{12}", f"{mean_reward:.4f}",
                f"{sps:.0f}", f"{policy_loss:.6f}", f"{value_loss:.6f}", f"{entropy:.6f}",
                f"{cpu_usage:.2f}", f"{gpu_usage:.2f}", f"{memory_mb}", f"{gpu_memory_mb}",
            ])

    return loop


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=200_000)
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as tmp:
        plain = vorlisk.TUILogger()
        logged = vorlisk.TUILogger(csv_path=os.path.join(tmp, "vorlisk.csv"))
        with open(os.path.join(tmp, "python.csv"), "w", newline="", buffering=8192) as stream:
            rates = {
                "max(a, b, c, d)": best_rate(bench_max, args.calls, args.repeats),
                "update, no CSV": best_rate(make_update_loop(plain), args.calls, args.repeats),
                "update, CSV": best_rate(make_update_csv_loop(logged), args.calls, args.repeats),
                "f-string + csv.writer": best_rate(
                    make_python_csv_loop(stream), args.calls, args.repeats),
            }
        plain.close()
        logged.close()

        loggers = {0: vorlisk.TUILogger(), 3: vorlisk.TUILogger(metrics=METRICS_3),
                   8: vorlisk.TUILogger(metrics=METRICS_8)}
        csv_loggers = {count: vorlisk.TUILogger(csv_path=os.path.join(tmp, f"m{count}.csv"),
                                                metrics=metrics)
                       for count, metrics in ((0, ()), (3, METRICS_3))}
        paired = taking_turns({
            "update, no CSV": make_metrics_loop(loggers[0], 0, False),
            "+ 3 losses by keyword": make_metrics_loop(loggers[0], 0, "keywords"),
            "+ 3 metrics": make_metrics_loop(loggers[3], 3, False),
            "+ 8 metrics": make_metrics_loop(loggers[8], 8, False),
            "update + losses, CSV": make_metrics_loop(csv_loggers[0], 0, True),
            "+ 3 metrics, CSV": make_metrics_loop(csv_loggers[3], 3, True),
        }, args.calls, args.repeats)
        for logger in (*loggers.values(), *csv_loggers.values()):
            logger.close()

    print(f"{args.calls} calls per run, best of {args.repeats}")
    for name, rate in rates.items():
        print(f"  {name:<24} {rate / 1e6:8.3f} M calls/s   {1e9 / rate:8.1f} ns/call")
    print()
    print(f"update, no CSV time / max(a, b, c, d) time: "
          f"{rates['max(a, b, c, d)'] / rates['update, no CSV']:.2f}  (target <= 2)")
    print(f"update, CSV speed-up over f-string + csv.writer: "
          f"{rates['update, CSV'] / rates['f-string + csv.writer']:.2f}  (target >= 3)")

    print()
    print("The loop's own metrics by keyword, the runs taking turns:")
    for name, rate in paired.items():
        print(f"  {name:<24} {rate / 1e6:8.3f} M calls/s   {1e9 / rate:8.1f} ns/call")
    print()
    for name, base in (("+ 3 losses by keyword", "update, no CSV"), ("+ 3 metrics", "update, no CSV"),
                       ("+ 8 metrics", "update, no CSV"),
                       ("+ 3 metrics, CSV", "update + losses, CSV")):
        print(f"{name} time / {base} time: {paired[base] / paired[name]:.2f}"
              f"{'  (target <= 1.5)' if name == '+ 3 metrics' else ''}")


if __name__ == "__main__":
    main()
