"""final_observations(): the observation a finished lane reached before its restart,
checked against Gymnasium's dynamics from the lane's previous observation, on the
block path, the chunked path and the private per-lane step."""

import math

import numpy as np
import pytest

from vorlisk import PyCartPoleVecEnv, PyMountainCarVecEnv, PyPendulumVecEnv

gym = pytest.importorskip("gymnasium")


def cartpole_state(obs):
    return obs.astype(np.float64)


def pendulum_state(obs):
    return np.array([math.atan2(obs[1], obs[0]), obs[2]])


# class, Gymnasium id, state from observation, actions, tolerance
TASKS = {
    "CartPole": (PyCartPoleVecEnv, "CartPole-v1", cartpole_state,
                 lambda rng, n: rng.integers(0, 2, n).astype(np.int32), 1e-5),
    "MountainCar": (PyMountainCarVecEnv, "MountainCar-v0", cartpole_state,
                    lambda rng, n: rng.integers(0, 3, n).astype(np.int32), 2e-7),
    "Pendulum": (PyPendulumVecEnv, "Pendulum-v1", pendulum_state,
                 lambda rng, n: rng.uniform(-2, 2, n).astype(np.float32), 1e-5),
}


# Pendulum's blocks approximate sine and cosine, so its final rows are compared on
# the paths with the per-lane formulas only.
@pytest.mark.parametrize("task,workers,per_lane", [
    ("CartPole", 1, False), ("CartPole", 2, False), ("CartPole", 1, True),
    ("MountainCar", 1, False), ("MountainCar", 2, False),
    ("Pendulum", 2, False), ("Pendulum", 1, True),
])
def test_final_rows_continue_the_finished_episodes(task, workers, per_lane):
    cls, gym_id, state_of, draw, atol = TASKS[task]
    reference = gym.make(gym_id).unwrapped
    reference.reset(seed=0)
    n = 19  # two blocks and a tail on the single-thread path
    env = cls(n, workers)
    step = env._step_per_lane if per_lane else env.step
    obs = env.reset(7)
    assert env.final_observations()[0].size == 0
    rng = np.random.default_rng(1)
    checked = 0
    for _ in range(230):
        actions = draw(rng, n)
        new_obs, _, terminals, truncations = step(actions)
        lanes, finals = env.final_observations()
        np.testing.assert_array_equal(lanes, np.flatnonzero(terminals | truncations))
        assert finals.shape == (lanes.size, env.observation_size) and finals.dtype == np.float32
        for lane, final in zip(lanes, finals):
            reference.state = state_of(obs[lane])
            reference.steps_beyond_terminated = None
            action = actions[lane:lane + 1] if task == "Pendulum" else int(actions[lane])
            expected = reference.step(action)[0]
            np.testing.assert_allclose(final, expected, rtol=0, atol=atol)
            checked += 1
        obs = new_obs
    assert checked >= n
    env.reset(7)
    assert env.final_observations()[1].shape == (0, env.observation_size)
