"""Lane-steps per second of vorlisk's environments, side by side in one run with the
peers a user would pick instead and with the floor (the cost of producing the four
fresh arrays a step returns). Prints a table and the ratios; asserts nothing.

    python3 benchmarks/bench_envs.py [--tasks cartpole] [--quick]
"""

from __future__ import annotations

import argparse
import json
import os
import platform
import subprocess
import sys
import time
from dataclasses import dataclass
from typing import Callable

import numpy as np

import vorlisk

LANES = [1, 64, 4096, 65536]
WORKERS = [1, 2]


def best_seconds_per_call(fn: Callable[[], object], budget: float, rounds: int = 5) -> float:
    """Best mean time per call over `rounds` rounds that together take about `budget` s."""
    fn()
    start = time.perf_counter()
    calls = 0
    while time.perf_counter() - start < budget / rounds / 4:
        fn()
        calls += 1
    per_round = max(1, calls * 4 // 4)
    best = float("inf")
    for _ in range(rounds):
        t0 = time.perf_counter()
        for _ in range(per_round):
            fn()
        best = min(best, (time.perf_counter() - t0) / per_round)
    return best


@dataclass
class Task:
    name: str
    make: Callable[[int, int], object]  # (num_envs, workers) -> vorlisk env
    obs_size: int
    actions: Callable[[np.random.Generator, int], np.ndarray]
    peers: dict[str, Callable[[int], Callable[[], object]]]  # name -> (lanes -> step fn)


def action_cycle(make_actions, rng, n, count=16):
    batches = [make_actions(rng, n) for _ in range(count)]
    state = {"i": 0}

    def next_batch():
        state["i"] = (state["i"] + 1) % count
        return batches[state["i"]]

    return next_batch


def gymnasium_cartpole(lanes: int):
    from gymnasium.envs.classic_control.cartpole import CartPoleVectorEnv

    env = CartPoleVectorEnv(num_envs=lanes)
    env.reset(seed=0)
    nxt = action_cycle(lambda r, n: r.integers(0, 2, n), np.random.default_rng(0), lanes)
    return lambda: env.step(nxt())


TASKS = {
    "cartpole": Task(
        "CartPole",
        lambda n, w: vorlisk.PyCartPoleVecEnv(n, w),
        4,
        lambda rng, n: rng.integers(0, 2, n, dtype=np.int32),
        {"gymnasium CartPoleVectorEnv": gymnasium_cartpole},
    ),
}


def floor_step(lanes: int, obs_size: int):
    sources = [
        np.zeros((lanes, obs_size), np.float32),
        np.zeros(lanes, np.float32),
        np.zeros(lanes, np.uint8),
        np.zeros(lanes, np.uint8),
    ]

    def step():
        out = [np.empty(s.shape, s.dtype) for s in sources]
        for o, s in zip(out, sources):
            np.copyto(o, s)
        return out

    return step


def vorlisk_step(task: Task, lanes: int, workers: int):
    env = task.make(lanes, workers)
    env.reset(0)
    nxt = action_cycle(task.actions, np.random.default_rng(0), lanes)
    return lambda: env.step(nxt())


def measure_vorlisk_only(task_key: str, lanes: int, workers: int, budget: float) -> float:
    task = TASKS[task_key]
    return best_seconds_per_call(vorlisk_step(task, lanes, workers), budget)


def single_thread_pool_seconds(task_key: str, lanes: int, workers: int, budget: float) -> float:
    """The same call in a process whose pool has one thread, so chunks run one by one."""
    code = (
        "import sys, json; sys.path.insert(0, %r); import bench_envs as b; "
        "print(json.dumps(b.measure_vorlisk_only(%r, %d, %d, %f)))"
        % (os.path.dirname(os.path.abspath(__file__)), task_key, lanes, workers, budget)
    )
    env = {**os.environ, "RAYON_NUM_THREADS": "1"}
    out = subprocess.run([sys.executable, "-c", code], env=env, check=True, capture_output=True)
    return json.loads(out.stdout)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tasks", nargs="*", default=list(TASKS))
    parser.add_argument("--quick", action="store_true", help="shorter measurements")
    args = parser.parse_args()
    budget = 0.5 if args.quick else 2.0

    print(f"# {platform.processor() or platform.machine()}, {os.cpu_count()} logical CPUs, "
          f"Python {platform.python_version()}, NumPy {np.__version__}")
    print("| task | lanes | workers | vorlisk lane-steps/s | x floor time | peer | peer lane-steps/s | vorlisk / peer |")
    print("|---|---:|---:|---:|---:|---|---:|---:|")
    for key in args.tasks:
        task = TASKS[key]
        for lanes in LANES:
            floor = best_seconds_per_call(floor_step(lanes, task.obs_size), budget)
            peer_times = {}
            for peer, make in task.peers.items():
                if lanes >= 65536 and "Sync" in peer:
                    continue
                peer_times[peer] = best_seconds_per_call(make(lanes), budget)
            for workers in WORKERS:
                t = best_seconds_per_call(vorlisk_step(task, lanes, workers), budget)
                rows = list(peer_times.items()) or [("-", None)]
                for peer, pt in rows:
                    peer_rate = f"{lanes / pt:,.0f}" if pt else "-"
                    ratio = f"{pt / t:.1f}x" if pt else "-"
                    print(f"| {task.name} | {lanes} | {workers} | {lanes / t:,.0f} | {t / floor:.2f} | "
                          f"{peer} | {peer_rate} | {ratio} |")
        two = best_seconds_per_call(vorlisk_step(task, 65536, 2), budget)
        one = single_thread_pool_seconds(key, 65536, 2, budget)
        print(f"\n{task.name}, 65536 lanes, workers 2: pool of 2 threads is {one / two:.2f}x "
              f"the throughput of a pool of 1 thread (RAYON_NUM_THREADS=1)\n")


if __name__ == "__main__":
    main()
