import numpy as np
import pytest

from vorlisk import PyMountainCarVecEnv

def test_an_unreached_goal_is_logged_after_200_steps():
    env = PyMountainCarVecEnv(1)
    start = env.reset(8)
    for _ in range(199):
        _, _, terminals, truncations = env.step(np.ones(1, np.int32))
        assert terminals[0] == 0 and truncations[0] == 0
    obs, rewards, terminals, truncations = env.step(np.ones(1, np.int32))
    assert (rewards[0], terminals[0], truncations[0]) == (-1.0, 0, 1)
    # The observation already shows the next episode, which starts where lane 1 of
    # the same seed starts, at rest.
    assert obs[0, 1] == 0.0
    assert obs[0, 0] == PyMountainCarVecEnv(2).reset(8)[1, 0]
    assert obs[0, 0] != start[0, 0]
    assert env.get_logs() == {
        "episode_count": 1.0,
        "total_reward": -200.0,
        "total_steps": 200.0,
        "mean_reward": -200.0,
        "mean_length": 200.0,
    }
    env.clear_logs()
    assert set(env.get_logs().values()) == {0.0}


def test_dynamics_match_gymnasium():
    gym = pytest.importorskip("gymnasium")
    reference = gym.make("MountainCar-v0").unwrapped
    reference.reset(seed=0)
    env = PyMountainCarVecEnv(1)
    obs = env.reset(3)
    rng = np.random.default_rng(1)
    compared = 0
    for _ in range(600):
        action = int(rng.integers(0, 3))
        reference.state = obs[0].astype(np.float64)
        expected, reward, terminated, _, _ = reference.step(action)
        obs, rewards, terminals, truncations = env.step(np.array([action], np.int32))
        assert rewards[0] == reward
        assert terminals[0] == terminated
        if not (terminals[0] or truncations[0]):
            np.testing.assert_allclose(obs[0], expected, rtol=0, atol=2e-7)
            compared += 1
    assert compared > 500
