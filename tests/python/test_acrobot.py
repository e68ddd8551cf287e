"""Acrobot's own bits and dynamics."""
import numpy as np
import pytest
from conftest import first_episodes_beside_gymnasium, path_digests, recorded_bits

from vorlisk import PyAcrobotVecEnv

pytestmark = pytest.mark.sanitize  # also run against the ASan build in CI


@recorded_bits
def test_every_path_gives_the_same_bits():
    # Every path steps every lane with the same double-precision formulas.
    assert set(path_digests(PyAcrobotVecEnv).values()) == {"20f847004b92a667"}


def test_actions_beyond_the_valid_ones_take_the_nearest_torque():
    env, reference = PyAcrobotVecEnv(4), PyAcrobotVecEnv(4)
    env.reset(2)
    reference.reset(2)
    for _ in range(30):
        for a, b in zip(env.step(np.array([-1, 3, -(2**31), 2**31 - 1], np.int32)),
                        reference.step(np.array([0, 2, 0, 2], np.int32))):
            assert a.tobytes() == b.tobytes()


def test_lanes_follow_gymnasium_from_their_exact_state():
    gym = pytest.importorskip("gymnasium")
    assert PyAcrobotVecEnv._gymnasium["max_episode_steps"] == gym.spec("Acrobot-v1").max_episode_steps
    # Torque along the second joint's swing pumps energy in: episodes end in 60 to 200
    # steps. The motion is chaotic, so only the first steps must agree closely; the
    # C library's and NumPy's sine and cosine may part later.
    lanes = list(first_episodes_beside_gymnasium(
        PyAcrobotVecEnv, 200, 1, lambda obs: np.where(obs[:, 5] > 0, 2, 0).astype(np.int32),
        lambda env, obs: env._state(), horizon=400))
    for obs, ref_obs, rewards, ref_rewards, end, ref_end in lanes:
        np.testing.assert_allclose(obs[:20], ref_obs[:20], rtol=0, atol=1e-5)
        np.testing.assert_array_equal(rewards[:20], ref_rewards[:20])
    ends = np.array([lane[4:] for lane in lanes])
    assert np.mean(ends[:, 0] == ends[:, 1]) >= 0.99
    assert np.all(ends[:, 0] > 0)
