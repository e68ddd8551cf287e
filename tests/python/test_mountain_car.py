import numpy as np
import pytest

import vorlisk
from vorlisk import PyMountainCarVecEnv

STEP_DOC = (
    "Step all environments with the given actions.\n\n# Arguments\n\n"
    "* `actions` - numpy array of shape (num_envs,) with dtype int32, values 0, 1, or 2\n\n"
    "# Returns\n\nTuple of (observations, rewards, terminals, truncations) where:\n"
    "- observations: shape (num_envs, 2), dtype float32\n"
    "- rewards: shape (num_envs,), dtype float32\n"
    "- terminals: shape (num_envs,), dtype uint8\n"
    "- truncations: shape (num_envs,), dtype uint8\n\n"
    "# Errors\n\nReturns `ValueError` if actions array is not contiguous or has wrong size."
)


@pytest.mark.parametrize(
    "member, signature, doc",
    [
        (
            PyMountainCarVecEnv,
            "(num_envs, workers=None)",
            "High-performance vectorized MountainCar environment.\n\n",
        ),
        (
            PyMountainCarVecEnv.reset,
            "($self, seed)",
            "Reset all environments.\n\nReturns observations as a numpy array of shape "
            "(num_envs, 2).\n\n# Errors\n\nReturns `ValueError` if observation array reshape fails.",
        ),
        (PyMountainCarVecEnv.step, "($self, actions)", STEP_DOC),
        (
            PyMountainCarVecEnv.observation_space,
            None,
            "Gymnasium-compatible observation space specification.\n\n"
            "Returns a dict matching gymnasium.spaces.Box format:\n"
            "- shape: (2,) for [position, velocity]\n- low: lower bounds\n- high: upper bounds\n"
            '- dtype: "float32"',
        ),
        (
            PyMountainCarVecEnv.action_space,
            None,
            "Gymnasium-compatible action space specification.\n\n"
            "Returns a dict matching gymnasium.spaces.Discrete format:\n"
            "- n: 3 (push left, no push, push right)\n"
            '- dtype: "int32"',
        ),
    ],
    ids=["class", "reset", "step", "observation_space", "action_space"],
)
def test_documentation(member, signature, doc):
    if signature is not None:
        assert member.__text_signature__ == signature
    if member is PyMountainCarVecEnv:
        assert member.__doc__.startswith(doc)
        assert member.__doc__.count("\n\n") == 1  # one further paragraph
    else:
        assert member.__doc__ == doc


def test_registered_in_both_modules():
    assert vorlisk.envs.PyMountainCarVecEnv is PyMountainCarVecEnv
    from vorlisk.envs import PyMountainCarVecEnv as imported

    assert imported is PyMountainCarVecEnv


def test_spaces_are_exact_and_fresh():
    env = PyMountainCarVecEnv(2)
    space = env.observation_space
    assert list(space) == ["shape", "dtype", "low", "high"]
    assert space == {
        "shape": (2,),
        "dtype": "float32",
        "low": [-1.2000000476837158, -0.07000000029802322],
        "high": [0.6000000238418579, 0.07000000029802322],
    }
    assert env.single_observation_space == space
    action = env.action_space
    assert list(action.items()) == [("n", 3), ("dtype", "int32")]
    assert env.single_action_space == action
    space["low"][0] = 0.0
    assert env.observation_space["low"][0] == -1.2000000476837158
    assert env.observation_size == 2 and env.num_envs == 2


@pytest.mark.parametrize(
    "actions, error, message",
    [
        (np.zeros(4, np.float32), TypeError, "actions"),
        (np.zeros(4, np.int64), TypeError, "actions"),
        (np.zeros((2, 2), np.int32), TypeError, "actions"),
        ([0, 1, 2, 0], TypeError, "actions"),
        (np.zeros(8, np.int32)[::2], ValueError, "Actions must be a contiguous C-order array"),
        (np.zeros(3, np.int32), ValueError, "Expected 4 actions, got 3"),
    ],
    ids=["float32", "int64", "two_dims", "list", "strided", "short"],
)
def test_rejected_actions_change_nothing(actions, error, message):
    env = PyMountainCarVecEnv(4)
    before = env.reset(5)
    with pytest.raises(error, match=message):
        env.step(actions)
    obs, *_ = env.step(np.ones(4, np.int32))
    reference = PyMountainCarVecEnv(4)
    reference.reset(5)
    np.testing.assert_array_equal(obs, reference.step(np.ones(4, np.int32))[0])
    assert before.shape == (4, 2)


def test_results_are_fresh_arrays_of_the_documented_types():
    env = PyMountainCarVecEnv(5, workers=0)
    first = env.reset(None)
    np.testing.assert_array_equal(first, PyMountainCarVecEnv(5).reset(0))
    obs, rewards, terminals, truncations = env.step(np.array([0, 1, 2, 3, -1], np.int32))
    assert obs.shape == (5, 2) and obs.dtype == np.float32
    assert rewards.dtype == np.float32 and rewards.shape == (5,)
    assert terminals.dtype == np.uint8 and truncations.dtype == np.uint8
    assert not np.shares_memory(obs, env.step(np.ones(5, np.int32))[0])
    obs[:] = 99.0
    assert (env.step(np.ones(5, np.int32))[0] != 99.0).all()


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


def test_one_and_four_workers_give_identical_observations():
    rng = np.random.default_rng(0)
    single, chunked = PyMountainCarVecEnv(203, workers=1), PyMountainCarVecEnv(203, workers=4)
    np.testing.assert_array_equal(single.reset(42), chunked.reset(42))
    finished = 0
    for _ in range(400):
        actions = rng.integers(0, 3, 203, dtype=np.int32)
        a, b = single.step(actions), chunked.step(actions)
        for x, y in zip(a, b):
            assert x.tobytes() == y.tobytes()
        finished += int(a[3].sum())
    assert finished >= 203
    logs = single.get_logs()
    assert logs["episode_count"] == chunked.get_logs()["episode_count"]


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
