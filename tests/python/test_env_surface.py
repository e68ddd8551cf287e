"""The surface every environment class shares, each case run against every class:
argument checks, result arrays and the episode log (the spaces: test_texts.py)."""

import numpy as np
import pytest
from conftest import each_env, valid_actions

pytestmark = pytest.mark.sanitize  # also run against the ASan build in CI


@each_env
@pytest.mark.parametrize(
    "args, kwargs, error, text",
    [
        ((0,), {}, ValueError, "^num_envs must be greater than 0$"),
        ((-1,), {}, OverflowError, "num_envs"),
        ((2**64,), {}, OverflowError, "num_envs"),
        ((1.5,), {}, TypeError, "num_envs"),
        ((4, -2), {}, OverflowError, "workers"),
        ((4, 2.0), {}, TypeError, "workers"),
        ((), {}, TypeError, "num_envs"),
        ((), {"num_envs": 2, "seed": 1}, TypeError, "seed"),
        ((2**62,), {}, MemoryError, None),
        ((4, 1, 50), {}, TypeError, "at most 2"),  # the limit is keyword-only
        ((4,), {"max_episode_steps": 0}, ValueError, "^max_episode_steps must be between 1 and 16777216, got 0$"),
        ((4,), {"max_episode_steps": 2**24 + 1}, ValueError, "got 16777217"),
        ((4,), {"autoreset_mode": "NEXT_STEP"}, ValueError,
         "^autoreset_mode must be 'same_step', 'next_step' or 'disabled', got 'NEXT_STEP'$"),
        ((4,), {"autoreset_mode": 1}, TypeError, "autoreset_mode"),
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
    env.reset(2**64 - 1)  # the whole unsigned 64-bit range
    for args, error in [((), TypeError), ((-1,), OverflowError), ((1.0,), TypeError)]:
        with pytest.raises(error, match="seed"):
            env.reset(*args)


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
    # The valid step that follows, by keyword and unaligned, steps like an aligned one.
    unaligned = np.frombuffer(b"\0" + good.tobytes(), good.dtype, offset=1)
    for a, b in zip(env.step(actions=unaligned), reference.step(good)):
        assert a.tobytes() == b.tobytes()


@each_env
@pytest.mark.parametrize("workers", [1, 3])
def test_results_are_fresh_arrays_of_the_documented_types(cls, workers):
    env = cls(13, workers)
    env.reset(0)
    rng = np.random.default_rng(0)
    # Actions beyond the space too, which stay as the caller wrote them (never clipped in place).
    wild = valid_actions(cls, 13, rng) * 2
    kept = wild.copy()
    first = env.step(wild)
    assert wild.tobytes() == kept.tobytes()
    second = env.step(valid_actions(cls, 13, rng))
    obs, rewards, terminals, truncations = first
    assert obs.shape == (13, env.observation_size) and obs.dtype == np.float32
    assert rewards.shape == (13,) and rewards.dtype == np.float32
    assert terminals.dtype == np.uint8 and truncations.dtype == np.uint8
    assert set(np.unique(terminals)) <= {0, 1} and set(np.unique(truncations)) <= {0, 1}
    for a, b in zip(first, second):
        assert a.flags.owndata and a.flags.c_contiguous and a.flags.writeable
        assert not np.shares_memory(a, b)


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
    assert (logs["episode_count"], logs["total_steps"], logs["mean_length"]) == (1.0, steps, steps)
    assert logs["mean_reward"] == logs["total_reward"]


@each_env
@pytest.mark.parametrize("workers", [1, 2])
def test_the_callers_episode_limit_truncates_on_every_path(cls, workers):
    env = cls(19, workers, max_episode_steps=1)  # two blocks and a tail on one thread
    env.reset(4)
    assert env.step(valid_actions(cls, 19, np.random.default_rng(0)))[3].all()
    assert env.max_episode_steps == 1
    assert cls(1, max_episode_steps=None).max_episode_steps == cls._gymnasium["max_episode_steps"]
