import math

import numpy as np
import pytest

from vorlisk import PyPendulumVecEnv

@pytest.mark.parametrize("workers", [1, 2])
def test_the_callers_torques_are_left_as_they_are(workers):
    env = PyPendulumVecEnv(9, workers=workers)
    env.reset(1)
    torques = np.array([5, -5, np.inf, -np.inf, np.nan, 0.5, -0.5, 2.5, -1e30], np.float32)
    kept = torques.copy()
    for _ in range(3):
        env.step(torques)
    assert torques.tobytes() == kept.tobytes()


def test_a_nan_torque_poisons_one_lane_and_the_log_until_cleared():
    env = PyPendulumVecEnv(3)
    env.reset(0)
    torques = np.array([np.nan, 1.0, -1.0], np.float32)
    for _ in range(199):
        obs, rewards, _, _ = env.step(torques)
    assert np.isnan(obs[0]).all() and np.isnan(rewards[0])
    assert np.isfinite(obs[1:]).all()
    obs, _, _, truncations = env.step(torques)
    assert truncations.all() and np.isfinite(obs).all()
    assert math.isnan(env.get_logs()["total_reward"])
    env.clear_logs()
    assert env.get_logs()["total_reward"] == 0.0


def test_dynamics_match_gymnasium():
    gym = pytest.importorskip("gymnasium")
    reference = gym.make("Pendulum-v1").unwrapped
    reference.reset(seed=0)
    env = PyPendulumVecEnv(1)  # a single lane follows the library sine and cosine
    obs = env.reset(4)
    rng = np.random.default_rng(2)
    for step in range(1, 400):
        torque = np.float32(rng.uniform(-2.5, 2.5))
        cos_t, sin_t, theta_dot = obs[0].astype(np.float64)
        reference.state = np.array([math.atan2(sin_t, cos_t), theta_dot])
        expected, reward, _, _, _ = reference.step(np.array([torque]))
        obs, rewards, _, truncations = env.step(np.array([torque], np.float32))
        assert rewards[0] == pytest.approx(reward, rel=1e-5, abs=1e-5)
        if not truncations[0]:
            np.testing.assert_allclose(obs[0], expected, rtol=0, atol=1e-5)
        assert truncations[0] == (step % 200 == 0)
