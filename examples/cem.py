"""The cross-entropy method over the parameters of a small policy, with every candidate
judged on its own group of lanes of one vorlisk environment, all stepped together.
Used by the examples/train_*.py scripts that import it."""

from __future__ import annotations

import time
from typing import Callable

import numpy as np

# policy(params of shape (candidates, dim), observations of shape (candidates, lanes, k))
#   -> actions of shape (candidates, lanes)
Policy = Callable[[np.ndarray, np.ndarray], np.ndarray]


def episode_returns(env, policy: Policy, params: np.ndarray, seed: int) -> np.ndarray:
    """The return of the first episode of every lane, candidate by candidate: shape
    (candidates, lanes per candidate). All lanes start together from `reset`."""
    candidates = params.shape[0]
    obs = env.reset(seed)
    lanes = env.num_envs // candidates
    returns = np.zeros(env.num_envs, np.float64)
    running = np.ones(env.num_envs, bool)
    while running.any():
        actions = policy(params, obs.reshape(candidates, lanes, -1)).reshape(env.num_envs)
        obs, rewards, terminals, truncations = env.step(actions)
        returns += rewards * running
        running &= (terminals | truncations) == 0
    return returns.reshape(candidates, lanes)


def cem(env, policy: Policy, dim: int, *, population: int, iterations: int, elite: int,
        init_std: float, seed: int, time_budget: float) -> np.ndarray:
    """Improves a Gaussian over the policy parameters for `iterations` (or until the
    time budget is spent) and returns its mean; prints one line per iteration."""
    rng = np.random.default_rng(seed)
    mean = np.zeros(dim)
    std = np.full(dim, init_std)
    start = time.perf_counter()
    for it in range(1, iterations + 1):
        params = mean + std * rng.standard_normal((population, dim))
        scores = episode_returns(env, policy, params, seed + it).mean(1)
        best = np.argsort(scores)[-elite:]
        mean = params[best].mean(0)
        # A small floor keeps the search from collapsing before it has converged.
        std = params[best].std(0) + 0.02 * init_std
        print(f"iteration {it:3d}  mean return {scores.mean():8.1f}  elite {scores[best].mean():8.1f}"
              f"  best {scores.max():8.1f}  {time.perf_counter() - start:5.1f} s", flush=True)
        if time.perf_counter() - start > time_budget:
            break
    return mean
