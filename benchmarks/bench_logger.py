"""Cost of TUILogger.update in a training loop, beside what a script would do instead.

Measures calls per second, in one run:
  - max(a, b, c, d): a builtin call with four arguments, the floor for any call;
  - update(...) without a CSV file;
  - update(...) with a CSV file;
  - the plain-Python CSV log: the same twelve fields formatted with f-strings and
    written with csv.writer.writerow to a buffered file.

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

    print(f"{args.calls} calls per run, best of {args.repeats}")
    for name, rate in rates.items():
        print(f"  {name:<24} {rate / 1e6:8.3f} M calls/s   {1e9 / rate:8.1f} ns/call")
    print()
    print(f"update, no CSV time / max(a, b, c, d) time: "
          f"{rates['max(a, b, c, d)'] / rates['update, no CSV']:.2f}  (target <= 2)")
    print(f"update, CSV speed-up over f-string + csv.writer: "
          f"{rates['update, CSV'] / rates['f-string + csv.writer']:.2f}  (target >= 3)")


if __name__ == "__main__":
    main()
