"""What the monitor costs the CartPole learner: its steps per second with a TUILogger
(dashboard view, default render interval) and without one, taking turns in one process.
Run it in a terminal to include the drawing; without one the monitor's terminal thread
ends at once and only `update` and the device monitor are measured.

    python3 benchmarks/bench_learner.py [--updates 8] [--rounds 3] [--mode dashboard]

Prints the best steps per second of each and their ratio (the results appear after the
last monitor has closed); it never judges absolute times.
"""

from __future__ import annotations

import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples"))
import train_cartpole as tc  # noqa: E402  (sets NumPy's thread count before NumPy loads)

import vorlisk  # noqa: E402


def steps_per_second(updates: int, mode: str | None) -> float:
    # A target that cannot be reached: every run does all its updates.
    cfg = tc.Config(steps_budget=updates * 4096 * tc.Config.horizon, target=1e9)
    logger = vorlisk.TUILogger(mode=mode) if mode else None
    try:
        result = tc.train(cfg, logger)
    finally:
        if logger is not None:
            logger.close()
    return result.steps / result.seconds


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--updates", type=int, default=8)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--mode", default="dashboard")
    args = parser.parse_args()
    best = {"without": 0.0, "with": 0.0}
    for _ in range(args.rounds):
        best["without"] = max(best["without"], steps_per_second(args.updates, None))
        best["with"] = max(best["with"], steps_per_second(args.updates, args.mode))
    print(f"learner steps/s without a monitor {best['without']:,.0f}, with a {args.mode} "
          f"monitor {best['with']:,.0f}: ratio {best['with'] / best['without']:.3f}")


if __name__ == "__main__":
    main()
