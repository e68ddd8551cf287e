"""MountainCarContinuous's own bits and dynamics."""
import numpy as np
import pytest
from conftest import first_episodes_beside_gymnasium, path_digests, recorded_bits

from vorlisk import PyMountainCarContinuousVecEnv

pytestmark = pytest.mark.sanitize  # also run against the ASan build in CI


@recorded_bits
def test_every_path_gives_the_same_bits():
    # Blocks, chunks and the exact formulas share one set of formulas.
    assert set(path_digests(PyMountainCarContinuousVecEnv).values()) == {"de45c508cf0db70a"}


def test_forces_are_clipped_but_charged_as_given():
    env, reference = PyMountainCarContinuousVecEnv(3), PyMountainCarContinuousVecEnv(3)
    env.reset(4)
    reference.reset(4)
    obs, rewards, _, _ = env.step(np.array([3.0, -2.0, np.inf], np.float32))
    ref_obs, ref_rewards, _, _ = reference.step(np.array([1.0, -1.0, 1.0], np.float32))
    np.testing.assert_array_equal(obs, ref_obs)
    np.testing.assert_array_equal(rewards, np.float32([-0.9, -0.4, -np.inf]))
    np.testing.assert_array_equal(ref_rewards, np.float32([-0.1, -0.1, -0.1]))


def test_whole_episodes_follow_gymnasium_from_their_exact_state():
    gym = pytest.importorskip("gymnasium")
    spec = gym.spec("MountainCarContinuous-v0")
    assert PyMountainCarContinuousVecEnv._gymnasium["max_episode_steps"] == spec.max_episode_steps
    # Pushing along the motion, with varying strength, reaches the flag in about 120 steps.
    rng = np.random.default_rng(5)
    policy = lambda obs: (np.sign(obs[:, 1] + 1e-9) * rng.uniform(0.3, 1.2, len(obs))).astype(np.float32)  # noqa: E731
    lanes = list(first_episodes_beside_gymnasium(
        PyMountainCarContinuousVecEnv, 200, 1, policy, lambda env, obs: obs.astype(np.float64),
        horizon=spec.max_episode_steps - 1))
    for obs, ref_obs, rewards, ref_rewards, end, ref_end in lanes:
        np.testing.assert_allclose(obs, ref_obs, rtol=0, atol=1e-5)
        np.testing.assert_allclose(rewards, ref_rewards, rtol=1e-6)
    ends = np.array([lane[4:] for lane in lanes])
    assert np.mean(ends[:, 0] == ends[:, 1]) >= 0.99
    assert np.all(ends[:, 0] > 0)
