"""vorlisk's step against gymnax's fused rollout on the CPU, in one session.

    python3 benchmarks/bench_gymnax.py [--tasks CartPole MountainCar Pendulum]
        [--sizes 4096 65536] [--steps 100] [--rounds 5] [--keep]

gymnax gets every advantage: its whole rollout of --steps steps is one jit-compiled
jax.lax.scan over a vmapped env.step (auto-reset included, as gymnax steps), actions
prepared ahead on the device, no Python per step, compile time excluded, and by
default nothing kept but the state and a sum of the rewards (--keep: every step's
observations, rewards and flags, stacked, as a training rollout would keep them). Two
forms: one random key shared by all lanes (its cheapest case) and a key per lane (what
independent lanes need). vorlisk makes one Python call per step with prepared NumPy
actions and returns fresh arrays, with `workers` 1 and 2 (XLA uses every core).
Prints us per step and the ratios; it never judges absolute times. Needs jax and
gymnax; without them it says so and exits.
"""

from __future__ import annotations

import argparse
import os
import sys
import time

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_envs import TASKS, action_batches  # noqa: E402

try:
    import jax
    import jax.numpy as jnp
    import gymnax
except ImportError as error:  # optional peer
    print(f"bench_gymnax: skipped, jax and gymnax are needed ({error})")
    sys.exit(0)

GYMNAX_IDS = {"CartPole": "CartPole-v1", "MountainCar": "MountainCar-v0", "Pendulum": "Pendulum-v1"}


def gymnax_rollout(task, lanes, steps, shared_key, keep):
    env, params = gymnax.make(GYMNAX_IDS[task])
    keys = jax.random.split(jax.random.PRNGKey(0), lanes)
    _, state = jax.vmap(env.reset, in_axes=(0, None))(keys, params)
    kind = TASKS[task][3]
    if isinstance(kind, int):
        actions = jax.random.randint(jax.random.PRNGKey(1), (steps, lanes), 0, kind)
    else:
        actions = jax.random.uniform(jax.random.PRNGKey(1), (steps, lanes), minval=kind[0],
                                     maxval=kind[1])
    step = jax.vmap(env.step, in_axes=(None if shared_key else 0, 0, 0, None))

    @jax.jit
    def rollout(key, state, actions):
        def body(carry, action):
            key, state, total = carry
            key, sub = jax.random.split(key)
            step_keys = sub if shared_key else jax.random.split(sub, lanes)
            obs, state, reward, terminated, truncated, _ = step(step_keys, state, action, params)
            if keep:
                return (key, state, total), (obs, reward, terminated, truncated)
            return (key, state, total + reward), None

        return jax.lax.scan(body, (key, state, jnp.zeros(lanes)), actions)

    key = jax.random.PRNGKey(2)
    jax.block_until_ready(rollout(key, state, actions))  # compile

    def run():
        jax.block_until_ready(rollout(key, state, actions))

    return run


def vorlisk_rollout(task, lanes, steps, workers):
    env = TASKS[task][0](lanes, workers)
    env.reset(0)
    batches = action_batches(TASKS[task][3], lanes, np.int32, count=steps)

    def run():
        for actions in batches:
            env.step(actions)

    return run


def best_per_step(run, steps, rounds):
    run()
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        run()
        best = min(best, (time.perf_counter() - start) / steps)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tasks", nargs="+", default=list(GYMNAX_IDS), choices=list(GYMNAX_IDS))
    parser.add_argument("--sizes", type=int, nargs="+", default=[4096, 65536])
    parser.add_argument("--steps", type=int, default=100)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--keep", action="store_true",
                        help="gymnax keeps every step's results, as a training rollout would")
    args = parser.parse_args()
    print(f"# jax {jax.__version__} on {jax.devices()[0].platform}, gymnax, "
          f"{os.cpu_count()} logical CPUs; us per step, best of {args.rounds} rollouts of "
          f"{args.steps} steps\n")
    print("| task | lanes | vorlisk w1 | vorlisk w2 | gymnax, shared key | gymnax, key per lane | "
          "w1 vs shared key | w1 vs key per lane | w2 vs shared key |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for task in args.tasks:
        for lanes in args.sizes:
            runs = {"vorlisk": vorlisk_rollout(task, lanes, args.steps, 1),
                    "vorlisk w2": vorlisk_rollout(task, lanes, args.steps, 2),
                    "shared": gymnax_rollout(task, lanes, args.steps, True, args.keep),
                    "per_lane": gymnax_rollout(task, lanes, args.steps, False, args.keep)}
            t = {name: best_per_step(run, args.steps, args.rounds) for name, run in runs.items()}
            print(f"| {task} | {lanes} | {t['vorlisk'] * 1e6:.1f} | {t['vorlisk w2'] * 1e6:.1f} | "
                  f"{t['shared'] * 1e6:.1f} | {t['per_lane'] * 1e6:.1f} | "
                  f"{t['shared'] / t['vorlisk']:.1f}x | {t['per_lane'] / t['vorlisk']:.1f}x | "
                  f"{t['shared'] / t['vorlisk w2']:.1f}x |", flush=True)


if __name__ == "__main__":
    main()
