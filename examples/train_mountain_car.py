"""MountainCar with the cross-entropy method over a linear policy: 64 candidate
policies, each driving 64 lanes of one 4096-lane environment for one episode.

    python3 examples/train_mountain_car.py [--iterations 12] [--seed 0]

A random policy never reaches the flag (return -200). The policy picks the action with
the largest of three linear scores of (position, velocity); the search finds the
energy-pumping strategy (push the way the car moves) in a few iterations.
"""

import argparse
import time

import numpy as np

import vorlisk
from cem import cem, episode_returns

POPULATION, LANES = 64, 64


def features(obs: np.ndarray) -> np.ndarray:
    """Position and velocity scaled to about [-1, 1], and a constant."""
    pos = (obs[..., 0] + 0.3) / 0.9
    vel = obs[..., 1] / 0.07
    return np.stack([pos, vel, np.ones_like(pos)], axis=-1)


def policy(params: np.ndarray, obs: np.ndarray) -> np.ndarray:
    weights = params.reshape(-1, 3, 3)
    scores = np.einsum("clk,cka->cla", features(obs), weights)
    return scores.argmax(-1).astype(np.int32)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--iterations", type=int, default=12)
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--time-budget", type=float, default=60.0)
    args = parser.parse_args()

    env = vorlisk.PyMountainCarVecEnv(POPULATION * LANES)
    start = time.perf_counter()
    mean = cem(env, policy, 9, population=POPULATION, iterations=args.iterations, elite=8,
               init_std=1.0, seed=args.seed, time_budget=args.time_budget)
    final = episode_returns(env, policy, np.repeat(mean[None], POPULATION, 0), 10**6)
    print(f"The mean policy reaches the flag in {(final > -200).mean():.0%} of {final.size} "
          f"episodes, mean return {final.mean():.1f}, after {time.perf_counter() - start:.1f} s.")


if __name__ == "__main__":
    main()
