"""Step throughput of MountainCar and Pendulum, side by side with the peers a user
would pick instead and with the floor.

    python benchmarks/bench_classic.py [--sizes 1 64 4096 65536] [--workers 1 2]

Contenders, per task and lane count:
  vorlisk   PyMountainCarVecEnv / PyPendulumVecEnv with `workers` chunks
  sync      gymnasium.vector.SyncVectorEnv over MountainCar-v0 / Pendulum-v1
            (Gymnasium has no NumPy-vectorised version of these two tasks)
  envpool   EnvPool in synchronous mode (batch_size == num_envs) with `workers`
            threads, when it imports
  floor     producing the step's four fresh arrays: np.empty of each shape and
            dtype, then np.copyto from prepared arrays

Prints lane-steps per second and ratios; it never judges absolute times.
"""

from __future__ import annotations

import argparse
import os
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

TASKS = {
    # name: (vorlisk class, gymnasium id, observation size, discrete)
    "MountainCar": (vorlisk.PyMountainCarVecEnv, "MountainCar-v0", 2, True),
    "Pendulum": (vorlisk.PyPendulumVecEnv, "Pendulum-v1", 3, False),
}
# Python-level peers step every environment from Python; beyond this many lanes a
# single step takes seconds and tells nothing new.
SYNC_MAX_LANES = 4096
ENVPOOL_MAX_LANES = 65536


def seconds_per_call(fn, budget=0.3, repeats=5):
    """Best mean time of one call over `repeats` runs of about `budget` seconds."""
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


def actions_for(discrete, n, rng):
    if discrete:
        return rng.integers(0, 3, n, dtype=np.int32)
    return rng.uniform(-2.0, 2.0, n).astype(np.float32)


def time_floor(n, obs_size):
    sources = (
        np.ones((n, obs_size), np.float32),
        np.ones(n, np.float32),
        np.zeros(n, np.uint8),
        np.zeros(n, np.uint8),
    )

    def step():
        out = tuple(np.empty(s.shape, s.dtype) for s in sources)
        for o, s in zip(out, sources):
            np.copyto(o, s)
        return out

    return seconds_per_call(step)


def time_vorlisk(cls, n, workers, actions):
    env = cls(n, workers=workers)
    env.reset(0)
    return seconds_per_call(lambda: env.step(actions))


def time_sync(gym_id, n, actions, discrete):
    env = gymnasium.vector.SyncVectorEnv([lambda: gymnasium.make(gym_id) for _ in range(n)])
    env.reset(seed=0)
    batch = actions if discrete else actions.reshape(n, 1)
    try:
        return seconds_per_call(lambda: env.step(batch), budget=0.5, repeats=3)
    finally:
        env.close()


def time_envpool(gym_id, n, workers, actions, discrete):
    env = envpool.make(gym_id, env_type="gymnasium", num_envs=n, batch_size=n,
                       num_threads=workers, seed=0)
    env.reset()
    batch = actions if discrete else actions.reshape(n, 1)
    return seconds_per_call(lambda: env.step(batch))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[1, 64, 4096, 65536])
    parser.add_argument("--workers", type=int, nargs="+", default=[1, 2])
    parser.add_argument("--tasks", nargs="+", default=list(TASKS), choices=list(TASKS))
    args = parser.parse_args()
    warnings.filterwarnings("ignore")  # Gymnasium's precision warnings on Box bounds
    rng = np.random.default_rng(0)

    print(f"envpool: {envpool.__version__ if envpool else 'not importable'}; "
          f"gymnasium: {gymnasium.__version__ if gymnasium else 'not importable'}")
    print("| task | lanes | workers | contender | lane-steps/s | us/step | x floor | vorlisk speedup |")
    print("|---|---:|---:|---|---:|---:|---:|---:|")
    for task in args.tasks:
        cls, gym_id, obs_size, discrete = TASKS[task]
        for n in args.sizes:
            actions = actions_for(discrete, n, rng)
            floor = time_floor(n, obs_size)
            rows = [("floor", "-", floor)]
            ours = {}
            for w in args.workers:
                ours[w] = time_vorlisk(cls, n, w, actions)
                rows.append(("vorlisk", w, ours[w]))
            if gymnasium and n <= SYNC_MAX_LANES:
                rows.append(("sync", "-", time_sync(gym_id, n, actions, discrete)))
            if envpool and n <= ENVPOOL_MAX_LANES:
                for w in args.workers:
                    rows.append(("envpool", w, time_envpool(gym_id, n, w, actions, discrete)))
            for name, w, t in rows:
                # Peers are compared with vorlisk at the same worker count (one
                # worker for the single-threaded SyncVectorEnv).
                ref = ours.get(w if w != "-" else args.workers[0])
                speedup = f"{t / ref:.1f}x" if name not in ("vorlisk", "floor") else ""
                print(f"| {task} | {n} | {w} | {name} | {n / t:,.0f} | {t * 1e6:,.1f} | "
                      f"{t / floor:.2f} | {speedup} |", flush=True)


if __name__ == "__main__":
    main()
