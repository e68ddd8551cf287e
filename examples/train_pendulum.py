"""Pendulum swing-up with the cross-entropy method over a policy linear in six features
of the state (torque 2 tanh(w . features)): 64 candidate policies, each driving 64 lanes
of one 4096-lane environment for one 200-step episode.

    python3 examples/train_pendulum.py [--iterations 25] [--seed 0]

The environment runs with two workers: its chunks use the exact per-lane dynamics on
every lane (with one worker, whole blocks of eight lanes approximate sine and cosine,
which misleads a policy far from upright).
"""

import argparse
import time

import numpy as np

import vorlisk
from cem import cem, episode_returns

POPULATION, LANES = 64, 64
DIM = 6


def features(obs: np.ndarray) -> np.ndarray:
    """Products with the cosine let one linear policy push along the motion low down
    (pumping energy in) and brake and hold near the top."""
    cos, sin, vel = obs[..., 0], obs[..., 1], obs[..., 2] / 8.0
    return np.stack([sin, vel, cos * sin, cos * vel, cos, np.ones_like(cos)], axis=-1)


def policy(params: np.ndarray, obs: np.ndarray) -> np.ndarray:
    out = np.einsum("clk,ck->cl", features(obs), params)
    return (2.0 * np.tanh(out)).astype(np.float32)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--iterations", type=int, default=25)
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--time-budget", type=float, default=120.0)
    args = parser.parse_args()

    env = vorlisk.PyPendulumVecEnv(POPULATION * LANES, workers=2)
    start = time.perf_counter()
    mean = cem(env, policy, DIM, population=POPULATION, iterations=args.iterations, elite=8,
               init_std=1.0, seed=args.seed, time_budget=args.time_budget)
    final = episode_returns(env, policy, np.repeat(mean[None], POPULATION, 0), 10**6)
    print(f"The mean policy's return over {final.size} episodes: mean {final.mean():.1f}, "
          f"median {np.median(final):.1f} (random candidates score about -1300), after "
          f"{time.perf_counter() - start:.1f} s.")


if __name__ == "__main__":
    main()
