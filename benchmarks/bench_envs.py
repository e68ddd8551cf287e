"""Step throughput of vorlisk's environments, side by side in one run with the peers a
user would pick instead and with the floor. Prints lane-steps per second and ratios; it
never judges absolute times.

    python3 benchmarks/bench_envs.py [--tasks TASK ...] [--sizes 1 64 4096 65536] [--quick]

Every task of vorlisk's registry is measured unless --tasks names some (CartPole, ...).

Contenders, per task and lane count:
  floor      producing the four fresh arrays a step returns: np.empty of each shape
             and dtype, then np.copyto from prepared arrays
  vorlisk    the task's vorlisk class with `workers` 1 and 2
  gym-vector Gymnasium's own NumPy-vectorised version of the task, where it has one
             (its vector entry point; CartPoleVectorEnv for CartPole)
  gym-sync   gymnasium.vector.SyncVectorEnv over the Gymnasium task (up to 4096 lanes)
  envpool    EnvPool in synchronous mode (batch_size == num_envs), 1 and 2 threads,
             when it imports
Every contender steps with random actions, a fresh batch each step (cycling through
16 prepared batches), so that episodes end and restart as they do early in training.
The floor, vorlisk and gym-vector take turns in their measurements. The first section
compares vorlisk's 65536-lane, 2-worker step in processes whose pool has two threads
and one thread (RAYON_NUM_THREADS), to show how the pool scales.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import platform
import subprocess
import sys
import time
import warnings

# NumPy's BLAS threads would otherwise spin beside the contenders on small machines.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

import vorlisk  # noqa: E402

try:
    import gymnasium
except ImportError:  # pragma: no cover - optional peer
    gymnasium = None
try:
    import envpool
except ImportError:  # pragma: no cover - optional peer
    envpool = None


def task_table():
    """name: (vorlisk class, Gymnasium / EnvPool id, observation size, actions), where
    actions is the number of discrete actions or the (low, high) of a continuous one."""
    tasks = {}
    for class_name in vorlisk.envs.__all__:
        cls = getattr(vorlisk.envs, class_name)
        env = cls(1)
        space = env.single_action_space
        kind = space["n"] if "n" in space else (space["low"][0], space["high"][0])
        name = class_name.removeprefix("Py").removesuffix("VecEnv")
        tasks[name] = (cls, cls._gymnasium["id"], env.observation_size, kind)
    return tasks


TASKS = task_table()
SYNC_MAX_LANES = 4096  # beyond this a Python-level step takes seconds and says nothing new


def interleaved_best(contenders, budget, rounds=9):
    """Best mean time of one call for each contender, measured in `rounds` rounds that
    take turns, so that a slow moment of a shared machine hits all of them alike."""
    calls = {}
    for name, fn in contenders.items():
        fn()
        start = time.perf_counter()
        fn()
        once = max(time.perf_counter() - start, 1e-7)
        calls[name] = max(1, int(budget / len(contenders) / rounds / once))
    best = dict.fromkeys(contenders, float("inf"))
    for _ in range(rounds):
        for name, fn in contenders.items():
            start = time.perf_counter()
            for _ in range(calls[name]):
                fn()
            best[name] = min(best[name], (time.perf_counter() - start) / calls[name])
    return best


def seconds_per_call(fn, budget, repeats=5):
    """Best mean time of one call over `repeats` runs of about `budget` seconds in all."""
    fn()
    start = time.perf_counter()
    fn()
    once = max(time.perf_counter() - start, 1e-7)
    calls = max(1, int(budget / repeats / once))
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        for _ in range(calls):
            fn()
        best = min(best, (time.perf_counter() - start) / calls)
    return best


def action_batches(kind, n, dtype=np.int64, column=False, count=16):
    """Random actions: integers of `dtype`, or float32 values, of shape (n, 1) for the
    peers' vector environments (`column`) or (n,) for vorlisk."""
    rng = np.random.default_rng(0)
    if isinstance(kind, int):
        return [rng.integers(0, kind, n).astype(dtype) for _ in range(count)]
    return [rng.uniform(*kind, (n, 1) if column else n).astype(np.float32) for _ in range(count)]


class Cycling:
    """Calls `step` with the next prepared batch; close() releases the environment, so
    that no peer's threads linger beside the next contender."""

    def __init__(self, env, step, batches):
        self.env, self.step, self.batches, self.i = env, step, batches, 0

    def __call__(self):
        self.i = (self.i + 1) % len(self.batches)
        return self.step(self.batches[self.i])

    def close(self):
        close = getattr(self.env, "close", None)
        if close:
            close()
        self.env = self.step = None
        gc.collect()


def timed(contender, budget, repeats=5):
    try:
        return seconds_per_call(contender, budget, repeats)
    finally:
        if isinstance(contender, Cycling):
            contender.close()


def floor_step(n, obs_size):
    sources = (np.ones((n, obs_size), np.float32), np.ones(n, np.float32),
               np.zeros(n, np.uint8), np.zeros(n, np.uint8))

    def step():
        out = tuple(np.empty(s.shape, s.dtype) for s in sources)
        for o, s in zip(out, sources):
            np.copyto(o, s)
        return out

    return step


def vorlisk_step(task, n, workers):
    cls, _, _, kind = TASKS[task]
    env = cls(n, workers)
    env.reset(0)
    return Cycling(env, env.step, action_batches(kind, n, np.int32))


def gym_vector_step(task, n):
    """Gymnasium's own vectorised task, or None where Gymnasium has none."""
    _, gym_id, _, kind = TASKS[task]
    try:
        env = gymnasium.make_vec(gym_id, num_envs=n, vectorization_mode="vector_entry_point")
    except Exception:  # Gymnasium raises assorted errors for tasks without one
        return None
    env.reset(seed=0)
    return Cycling(env, env.step, action_batches(kind, n, column=True))


def gym_sync_step(task, n):
    _, gym_id, _, kind = TASKS[task]
    env = gymnasium.vector.SyncVectorEnv([lambda: gymnasium.make(gym_id) for _ in range(n)])
    env.reset(seed=0)
    return Cycling(env, env.step, action_batches(kind, n, column=True))


def envpool_step(task, n, threads):
    _, gym_id, _, kind = TASKS[task]
    env = envpool.make(gym_id, env_type="gymnasium", num_envs=n, batch_size=n,
                       num_threads=threads, seed=0)
    env.reset()
    return Cycling(env, env.step, action_batches(kind, n, np.int32, column=True))


def measure_vorlisk(task, n, workers, budget):
    # Many short rounds: the best of them is the step without interference from the
    # rest of a small, shared machine.
    return timed(vorlisk_step(task, n, workers), budget, repeats=15)


def pool_seconds(task, n, workers, budget, threads):
    """The step measured in a fresh process whose pool has `threads` threads."""
    code = ("import sys, json; sys.path.insert(0, %r); import bench_envs as b; "
            "print(json.dumps(b.measure_vorlisk(%r, %d, %d, %f)))"
            % (os.path.dirname(os.path.abspath(__file__)), task, n, workers, budget))
    out = subprocess.run([sys.executable, "-c", code], check=True, capture_output=True,
                         env={**os.environ, "RAYON_NUM_THREADS": str(threads)})
    return json.loads(out.stdout)


def pool_scaling(task, budget, rounds=3):
    """Throughput of a 2-thread pool over a 1-thread pool for the same call, the two
    measured in turns, each in a fresh process."""
    two = one = float("inf")
    for _ in range(rounds):
        two = min(two, pool_seconds(task, 65536, 2, budget, 2))
        one = min(one, pool_seconds(task, 65536, 2, budget, 1))
    return one / two


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tasks", nargs="+", default=list(TASKS), choices=list(TASKS))
    parser.add_argument("--sizes", type=int, nargs="+", default=[1, 64, 4096, 65536])
    parser.add_argument("--quick", action="store_true", help="shorter measurements")
    args = parser.parse_args()
    budget = 0.3 if args.quick else 1.0
    warnings.filterwarnings("ignore")  # Gymnasium's precision warnings on Box bounds

    print(f"# {platform.machine()}, {os.cpu_count()} logical CPUs, Python {platform.python_version()}, "
          f"NumPy {np.__version__}, Gymnasium {gymnasium.__version__ if gymnasium else '-'}, "
          f"EnvPool {envpool.__version__ if envpool else 'not importable'}\n")
    print("Pool scaling, 65536 lanes, workers 2 (throughput with a 2-thread pool / 1-thread pool):")
    for task in args.tasks:
        print(f"- {task}: {pool_scaling(task, budget):.2f}x", flush=True)
    print()

    print("| task | lanes | contender | lane-steps/s | us/step | x floor | vorlisk w1 speedup |")
    print("|---|---:|---|---:|---:|---:|---:|")
    summary = {}
    for task in args.tasks:
        obs_size = TASKS[task][2]
        for n in args.sizes:
            # The floor and vorlisk, whose ratios matter most, take turns.
            ours = {"floor": floor_step(n, obs_size),
                    "vorlisk w1": vorlisk_step(task, n, 1),
                    "vorlisk w2": vorlisk_step(task, n, 2)}
            vector = gym_vector_step(task, n) if gymnasium else None
            if vector:
                ours["gym-vector"] = vector
            rows = list(interleaved_best(ours, 3 * budget).items())
            for contender in ours.values():
                if isinstance(contender, Cycling):
                    contender.close()
            if gymnasium and n <= SYNC_MAX_LANES:
                rows.append(("gym-sync", timed(gym_sync_step(task, n), budget, repeats=3)))
            if envpool:
                for threads in (1, 2):
                    rows.append((f"envpool t{threads}",
                                 timed(envpool_step(task, n, threads), budget)))
            times = dict(rows)
            summary[(task, n)] = times
            for name, t in rows:
                speedup = "" if name.startswith(("floor", "vorlisk")) else f"{t / times['vorlisk w1']:.1f}x"
                print(f"| {task} | {n} | {name} | {n / t:,.0f} | {t * 1e6:,.1f} | "
                      f"{t / times['floor']:.2f} | {speedup} |", flush=True)

    print("\nTargets:")
    for (task, n), t in summary.items():
        line = f"- {task} {n} lanes, workers 1: {t['vorlisk w1'] / t['floor']:.2f}x the floor's time"
        if "gym-vector" in t:
            line += f", {t['gym-vector'] / t['vorlisk w1']:.1f}x gym-vector's lane-steps/s"
        if "gym-sync" in t:
            line += f", {t['gym-sync'] / t['vorlisk w1']:.0f}x gym-sync"
        if "envpool t1" in t:
            line += f", {t['envpool t1'] / t['vorlisk w1']:.1f}x envpool (1 thread)"
        line += f"; workers 2: {t['vorlisk w1'] / t['vorlisk w2']:.2f}x the lane-steps/s of workers 1"
        print(line)


if __name__ == "__main__":
    main()
