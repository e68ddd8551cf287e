"""The surface every environment class shares, each case run against every class:
spaces, argument checks, result arrays and the episode log."""

import numpy as np
import pytest
from conftest import each_env, valid_actions

pytestmark = pytest.mark.sanitize  # also run against the ASan build in CI


@each_env
def test_spaces_are_fresh_dicts_and_single_ones_equal_them(cls):
    env = cls(3)
    space = env.observation_space
    assert env.single_observation_space == space and env.single_action_space == env.action_space
    space["low"][0] = 123.0
    space["shape"] = None
    assert env.observation_space != space and env.num_envs == 3


@each_env
@pytest.mark.parametrize(
    "args, kwargs, error, text",
    [
        ((0,), {}, ValueError, "^num_envs must be greater than 0$"),
        ((-1,), {}, OverflowError, "num_envs"),
        ((2**64,), {}, OverflowError, "num_envs"),
        ((1.5,), {}, TypeError, "num_envs"),
        (("4",), {}, TypeError, "num_envs"),
        ((4, -2), {}, OverflowError, "workers"),
        ((4, 2.0), {}, TypeError, "workers"),
        ((), {}, TypeError, "num_envs"),
        ((), {"num_envs": 2, "seed": 1}, TypeError, "seed"),
        ((2**40,), {}, MemoryError, None),
        ((2**62,), {}, MemoryError, None),
    ],
)
def test_constructor_rejects_bad_arguments(cls, args, kwargs, error, text):
    with pytest.raises(error, match=text):
        cls(*args, **kwargs)


@each_env
def test_reset_seed_rules(cls):
    env = cls(5, workers=0)
    assert np.array_equal(env.reset(None), env.reset(0))
    assert np.array_equal(env.reset(seed=7), env.reset(7))
    with pytest.raises(TypeError):
        env.reset()
    with pytest.raises(OverflowError, match="seed"):
        env.reset(-1)
    with pytest.raises(TypeError, match="seed"):
        env.reset(1.0)
    obs = env.reset(2**64 - 1)
    assert obs.dtype == np.float32 and obs.shape == (5, env.observation_size)


def rejected_actions(dtype):
    other = [np.int64, np.float32, ">i4"] if dtype == np.int32 else [np.int32, np.float64, ">f4"]
    yield from (np.zeros(4, d) for d in other)
    yield np.zeros((2, 2), dtype)
    yield list(range(4))
    yield np.zeros(8, dtype)[::2], ValueError, "^Actions must be a contiguous C-order array$"
    yield np.zeros(3, dtype), ValueError, "^Expected 4 actions, got 3$"
    yield np.zeros(5, dtype), ValueError, "^Expected 4 actions, got 5$"


@each_env
def test_a_rejected_step_changes_nothing(cls):
    env, reference = cls(4), cls(4)
    reference.reset(3)
    env.reset(3)
    good = valid_actions(cls, 4, np.random.default_rng(0))
    for rejected in rejected_actions(good.dtype):
        actions, error, text = rejected if isinstance(rejected, tuple) else (rejected, TypeError, "actions")
        with pytest.raises(error, match=text):
            env.step(actions)
    for a, b in zip(env.step(good), reference.step(good)):
        assert a.tobytes() == b.tobytes()


@each_env
@pytest.mark.parametrize("workers", [1, 3])
def test_results_are_fresh_arrays_of_the_documented_types(cls, workers):
    env = cls(13, workers)
    env.reset(0)
    rng = np.random.default_rng(0)
    first = env.step(valid_actions(cls, 13, rng))
    second = env.step(valid_actions(cls, 13, rng))
    obs, rewards, terminals, truncations = first
    assert obs.shape == (13, env.observation_size) and obs.dtype == np.float32
    assert rewards.shape == (13,) and rewards.dtype == np.float32
    assert terminals.dtype == np.uint8 and truncations.dtype == np.uint8
    assert set(np.unique(terminals)) <= {0, 1} and set(np.unique(truncations)) <= {0, 1}
    for a, b in zip(first, second):
        assert a.flags.owndata and a.flags.c_contiguous and a.flags.writeable
        assert not np.shares_memory(a, b)
    obs[:] = 123.0
    assert not np.any(env.step(valid_actions(cls, 13, rng))[0] == 123.0)


@each_env
def test_keyword_and_unaligned_actions_step_like_aligned_ones(cls):
    actions = valid_actions(cls, 13, np.random.default_rng(0))
    raw = np.zeros(actions.nbytes + 1, np.uint8)
    unaligned = np.frombuffer(raw.data, actions.dtype, 13, offset=1)
    unaligned[:] = actions
    a, b = cls(13), cls(13)
    a.reset(2)
    b.reset(2)
    for _ in range(5):
        for x, y in zip(a.step(actions), b.step(actions=unaligned)):
            assert x.tobytes() == y.tobytes()


@each_env
def test_logs_count_whole_episodes_since_the_last_clear(cls):
    env = cls(1)
    keys = ["episode_count", "total_reward", "total_steps", "mean_reward", "mean_length"]
    assert env.get_logs() == dict.fromkeys(keys, 0.0)
    env.reset(0)
    env.step(valid_actions(cls, 1, np.random.default_rng(0)))
    env.clear_logs()  # an episode running now is counted in full when it ends
    steps = 1
    while env.get_logs()["episode_count"] == 0:
        env.step(valid_actions(cls, 1, np.random.default_rng(steps)))
        steps += 1
    logs = env.get_logs()
    assert set(logs) == set(keys)
    assert (logs["episode_count"], logs["total_steps"], logs["mean_length"]) == (1.0, steps, steps)
    assert logs["mean_reward"] == logs["total_reward"]
    assert steps <= cls._gymnasium["max_episode_steps"]
