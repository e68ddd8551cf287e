"""What a change costs `step`: this build's step against the step of another build (a
vorlisk module built from an earlier commit), in one process, taking turns; this
build's step followed by final_observations(), as a learner calls it; and this build's
step in next-step autoreset mode.

    python3 benchmarks/bench_builds.py --baseline PATH/TO/vorlisk.cpython-*.so
        [--tasks CartPole ...] [--lanes 4096] [--workers 1 2] [--budget 3]

A baseline module comes from, for example:
    git archive 5f144e8 | tar -x -C /tmp/base && cmake -S /tmp/base -B /tmp/base/build -G Ninja
        && cmake --build /tmp/base/build
Random actions end episodes often (CartPole: every ~22 steps, so ~4.5% of lanes finish
each step, about ten times the rate late in training), which is the case that costs most.
Prints lane-steps per second and ratios; it never judges absolute times.
"""

from __future__ import annotations

import argparse
import importlib.machinery
import importlib.util
import os
import sys

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_envs import TASKS, action_batches, interleaved_best  # noqa: E402

import vorlisk  # noqa: E402


def load_module(path: str):
    """Another vorlisk extension module, loaded beside the one imported already."""
    loader = importlib.machinery.ExtensionFileLoader("vorlisk", path)
    spec = importlib.util.spec_from_file_location("vorlisk", path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def stepper(module, task, lanes, workers, with_finals=False, **kwargs):
    cls = getattr(module, TASKS[task][0].__name__)
    env = cls(lanes, workers, **kwargs)
    env.reset(0)
    batches = action_batches(TASKS[task][3], lanes, np.int32)
    state = {"i": 0}

    def step():
        state["i"] = (state["i"] + 1) % len(batches)
        result = env.step(batches[state["i"]])
        if with_finals:
            env.final_observations()
        return result

    return step


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--baseline", required=True, help="another build's vorlisk module")
    parser.add_argument("--tasks", nargs="+", default=list(TASKS))
    parser.add_argument("--lanes", type=int, default=4096)
    parser.add_argument("--workers", type=int, nargs="+", default=[1, 2])
    parser.add_argument("--budget", type=float, default=3.0, help="seconds per measurement")
    args = parser.parse_args()

    baseline = load_module(os.path.abspath(args.baseline))
    print(f"{'task':12s} {'workers':>7s} {'baseline':>14s} {'this build':>14s} {'ratio':>6s}"
          f" {'+ finals':>14s} {'ratio':>6s} {'next-step':>14s} {'ratio':>6s}"
          "   (lane-steps/s; ratio = baseline time / time)")
    for task in args.tasks:
        for workers in args.workers:
            best = interleaved_best({
                "baseline": stepper(baseline, task, args.lanes, workers),
                "new": stepper(vorlisk, task, args.lanes, workers),
                "finals": stepper(vorlisk, task, args.lanes, workers, with_finals=True),
                "next": stepper(vorlisk, task, args.lanes, workers, autoreset_mode="next_step"),
            }, args.budget * 4, rounds=15)
            rate = {k: args.lanes / v for k, v in best.items()}
            print(f"{task:12s} {workers:7d} {rate['baseline']:14,.0f} {rate['new']:14,.0f} "
                  f"{best['baseline'] / best['new']:6.3f} {rate['finals']:14,.0f} "
                  f"{best['baseline'] / best['finals']:6.3f} {rate['next']:14,.0f} "
                  f"{best['baseline'] / best['next']:6.3f}", flush=True)


if __name__ == "__main__":
    main()
