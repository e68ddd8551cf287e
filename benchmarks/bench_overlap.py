"""How much of a step another Python thread gets to use: one thread steps a vorlisk
environment while a second does NumPy work of about the same duration, against the
two done one after the other on one thread. Prints times and their ratio (2.0 would be
perfect overlap on two free cores); it never judges absolute times.

    python3 benchmarks/bench_overlap.py [--tasks CartPole ...] [--lanes 65536]
        [--workers 1] [--rounds 7] [--baseline PATH/TO/other/vorlisk.cpython-*.so]

The NumPy work is np.sin over a float32 array sized so that one call takes about as
long as one step; NumPy lets the GIL go inside the loop, as it does for most work on
large arrays. --baseline measures another build the same way, for comparison (a
build whose step holds the GIL shows a ratio near 1).
"""

from __future__ import annotations

import argparse
import os
import sys
import threading
import time

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_builds import load_module  # noqa: E402
from bench_envs import TASKS, action_batches  # noqa: E402

import vorlisk  # noqa: E402

STEPS = 200


def best_time(fn, rounds):
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def measure(module, task, lanes, workers, rounds):
    env = getattr(module, TASKS[task][0].__name__)(lanes, workers)
    env.reset(0)
    batches = action_batches(TASKS[task][3], lanes, np.int32)

    def steps():
        for i in range(STEPS):
            env.step(batches[i % len(batches)])

    step_alone = best_time(steps, rounds) / STEPS
    # Size the NumPy work to one step's time.
    probe = np.linspace(0, 1, 1 << 20, dtype=np.float32)
    out = np.empty_like(probe)
    per_value = best_time(lambda: np.sin(probe, out=out), rounds) / probe.size
    x = np.linspace(0, 1, max(1024, int(step_alone / per_value)), dtype=np.float32)
    y = np.empty_like(x)

    def numpy_work():
        for _ in range(STEPS):
            np.sin(x, out=y)

    def serial():
        for i in range(STEPS):
            env.step(batches[i % len(batches)])
            np.sin(x, out=y)

    def overlapped():
        other = threading.Thread(target=numpy_work)
        other.start()
        steps()
        other.join()

    work_alone = best_time(numpy_work, rounds) / STEPS
    serial_time = overlap_time = float("inf")
    for _ in range(rounds):  # in turns, so that a busy moment of the host hits both
        serial_time = min(serial_time, best_time(serial, 1) / STEPS)
        overlap_time = min(overlap_time, best_time(overlapped, 1) / STEPS)
    return step_alone, work_alone, serial_time, overlap_time


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tasks", nargs="+", default=["CartPole", "MountainCar", "Pendulum"],
                        choices=list(TASKS))
    parser.add_argument("--lanes", type=int, default=65536)
    parser.add_argument("--workers", type=int, default=1)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--baseline", help="another build's vorlisk module, measured alike")
    args = parser.parse_args()
    builds = [("this build", vorlisk)]
    if args.baseline:
        builds.append(("baseline", load_module(os.path.abspath(args.baseline))))
    print(f"{args.lanes} lanes, workers {args.workers}, {os.cpu_count()} logical CPUs; "
          "us per step (and per equal share of NumPy work)\n")
    print("| task | build | step | NumPy work | serial: both on one thread | overlapped: "
          "two threads | serial / overlapped |")
    print("|---|---|---:|---:|---:|---:|---:|")
    for task in args.tasks:
        for name, module in builds:
            step, work, serial, overlap = measure(module, task, args.lanes, args.workers,
                                                  args.rounds)
            print(f"| {task} | {name} | {step * 1e6:.1f} | {work * 1e6:.1f} | "
                  f"{serial * 1e6:.1f} | {overlap * 1e6:.1f} | {serial / overlap:.2f}x |",
                  flush=True)


if __name__ == "__main__":
    main()
