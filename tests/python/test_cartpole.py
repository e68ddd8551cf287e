import hashlib
import os
import pickle
import select
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import vorlisk
from vorlisk import PyCartPoleVecEnv


def balancing_actions(obs):
    return (obs[:, 2] + 0.5 * obs[:, 3] > 0).astype(np.int32)


def run(env, steps, seed=0, actions=None):
    rng = np.random.default_rng(seed)
    results = []
    for _ in range(steps):
        a = rng.integers(0, 2, env.num_envs, dtype=np.int32) if actions is None else actions
        results.append(env.step(a))
    return results


def test_docstrings_and_signatures():
    cls = PyCartPoleVecEnv
    assert cls.__text_signature__ == "(num_envs, workers=None)"
    assert cls.__doc__.startswith("High-performance vectorized CartPole environment.\n\n")
    assert len(cls.__doc__.split("\n\n")) == 2
    assert cls.reset.__text_signature__ == "($self, seed)"
    assert cls.reset.__doc__ == (
        "Reset all environments.\n\nReturns observations as a numpy array of shape (num_envs, 4)."
        "\n\n# Errors\n\nReturns `ValueError` if observation array reshape fails."
    )
    assert cls.step.__text_signature__ == "($self, actions)"
    assert cls.step.__doc__.startswith("Step all environments with the given actions.\n\n# Arguments")
    assert "values 0 or 1" in cls.step.__doc__
    assert cls.get_logs.__text_signature__ == "($self)"
    assert cls.clear_logs.__doc__ == "Clear episode statistics."
    assert cls.num_envs.__doc__ == "Get the number of environments."
    assert cls.observation_space.__doc__.endswith('- dtype: "float32"')
    assert cls.action_space.__doc__.endswith('- n: 2 (push left or push right)\n- dtype: "int32"')


def test_spaces_are_fresh_dicts_with_single_precision_bounds():
    env = PyCartPoleVecEnv(3)
    space = env.observation_space
    assert list(space) == ["shape", "dtype", "low", "high"]
    assert space["shape"] == (4,) and space["dtype"] == "float32"
    assert space["low"] == [-4.800000190734863, -np.inf, -0.4180000126361847, -np.inf]
    assert space["high"] == [4.800000190734863, np.inf, 0.4180000126361847, np.inf]
    space["low"].append(1.0)
    space["dtype"] = "changed"
    assert env.observation_space == env.single_observation_space
    assert env.observation_space["dtype"] == "float32"
    assert env.action_space == {"n": 2, "dtype": "int32"} == env.single_action_space
    assert list(env.action_space) == ["n", "dtype"]
    assert env.num_envs == 3 and env.observation_size == 4


@pytest.mark.parametrize(
    "args, kwargs, error, text",
    [
        ((0,), {}, ValueError, "num_envs must be greater than 0"),
        ((-1,), {}, OverflowError, "num_envs"),
        ((1.5,), {}, TypeError, "num_envs"),
        (("4",), {}, TypeError, "num_envs"),
        ((4, -2), {}, OverflowError, "workers"),
        ((4, 2.0), {}, TypeError, "workers"),
        ((), {}, TypeError, "num_envs"),
        ((2**64,), {}, OverflowError, "num_envs"),
        ((), {"num_envs": 2, "seed": 1}, TypeError, "seed"),
    ],
)
def test_constructor_rejects_bad_arguments(args, kwargs, error, text):
    with pytest.raises(error, match=text):
        PyCartPoleVecEnv(*args, **kwargs)


def test_constructor_accepts_keywords_and_zero_workers():
    env = PyCartPoleVecEnv(num_envs=4, workers=0)
    env.reset(1)
    obs, *_ = env.step(np.ones(4, np.int32))
    assert obs.shape == (4, 4)
    assert PyCartPoleVecEnv(4, workers=None).num_envs == 4


@pytest.mark.parametrize("num_envs", [2**40, 2**62])
def test_huge_num_envs_raises_memory_error(num_envs):
    with pytest.raises(MemoryError):
        PyCartPoleVecEnv(num_envs)


def test_reset_seed_rules():
    env = PyCartPoleVecEnv(5)
    assert np.array_equal(env.reset(None), env.reset(0))
    assert np.array_equal(env.reset(seed=7), env.reset(7))
    with pytest.raises(TypeError):
        env.reset()
    with pytest.raises(OverflowError, match="seed"):
        env.reset(-1)
    with pytest.raises(TypeError, match="seed"):
        env.reset(1.0)
    obs = env.reset(2**64 - 1)
    assert obs.dtype == np.float32 and obs.shape == (5, 4)
    assert np.all(np.abs(obs) < 0.05)


@pytest.mark.parametrize(
    "actions, error, text",
    [
        (np.zeros(4, np.int64), TypeError, "actions"),
        (np.zeros(4, np.float32), TypeError, "actions"),
        (np.zeros((2, 2), np.int32), TypeError, "actions"),
        (np.zeros(4, ">i4"), TypeError, "actions"),
        ([0, 1, 0, 1], TypeError, "actions"),
        (np.zeros(8, np.int32)[::2], ValueError, "^Actions must be a contiguous C-order array$"),
        (np.zeros(3, np.int32), ValueError, "^Expected 4 actions, got 3$"),
        (np.zeros(5, np.int32), ValueError, "^Expected 4 actions, got 5$"),
    ],
)
def test_rejected_step_changes_nothing(actions, error, text):
    env = PyCartPoleVecEnv(4)
    env.reset(3)
    with pytest.raises(error, match=text):
        env.step(actions)
    obs, *_ = env.step(np.ones(4, np.int32))
    fresh = PyCartPoleVecEnv(4)
    fresh.reset(3)
    assert np.array_equal(obs, fresh.step(np.ones(4, np.int32))[0])


def test_step_accepts_keyword_and_unaligned_actions():
    env = PyCartPoleVecEnv(3)
    env.reset(0)
    raw = np.zeros(3 * 4 + 1, np.uint8)
    unaligned = raw[1:].view(np.int32)
    unaligned[:] = [1, 0, 1]
    env2 = PyCartPoleVecEnv(3)
    env2.reset(0)
    a = env.step(actions=unaligned)
    b = env2.step(np.array([1, 0, 1], np.int32))
    for x, y in zip(a, b):
        assert np.array_equal(x, y)


@pytest.mark.parametrize("workers", [1, 3])
def test_results_are_fresh_arrays_of_the_documented_types(workers):
    env = PyCartPoleVecEnv(13, workers)
    env.reset(0)
    first = env.step(np.ones(13, np.int32))
    second = env.step(np.ones(13, np.int32))
    obs, rewards, terminals, truncations = first
    assert obs.shape == (13, 4) and obs.dtype == np.float32
    assert rewards.shape == (13,) and rewards.dtype == np.float32
    assert terminals.dtype == np.uint8 and truncations.dtype == np.uint8
    assert set(np.unique(terminals)) <= {0, 1} and set(np.unique(truncations)) <= {0, 1}
    for a, b in zip(first, second):
        assert a.flags.owndata and a.flags.c_contiguous and a.flags.writeable
        assert not np.shares_memory(a, b)
    obs[:] = 123.0
    assert not np.any(env.step(np.ones(13, np.int32))[0] == 123.0)


@pytest.mark.parametrize("workers", [1, 2])
def test_logs_of_one_balanced_episode(workers):
    env = PyCartPoleVecEnv(1, workers)
    assert env.get_logs() == dict.fromkeys(
        ["episode_count", "total_reward", "total_steps", "mean_reward", "mean_length"], 0.0
    )
    obs = env.reset(0)
    for t in range(200):
        obs, reward, terminal, truncation = env.step(balancing_actions(obs))
        assert reward[0] == 1.0 and terminal[0] == 0
        assert truncation[0] == (t == 199)
    assert env.get_logs() == {
        "episode_count": 1.0,
        "total_reward": 200.0,
        "total_steps": 200.0,
        "mean_reward": 200.0,
        "mean_length": 200.0,
    }
    env.clear_logs()
    assert set(env.get_logs().values()) == {0.0}


def test_finished_lane_reports_its_last_step_and_restarts():
    env = PyCartPoleVecEnv(16)
    env.reset(5)
    for _ in range(100):
        obs, rewards, terminals, truncations = env.step(np.ones(16, np.int32))
        if terminals.any():
            break
    done = np.flatnonzero(terminals)
    assert done.size > 0
    assert np.all(rewards[done] == 0.0)
    assert np.all(np.abs(obs[done]) < 0.05)  # already the next episode's start


def test_clear_logs_counts_running_episodes_in_full():
    env = PyCartPoleVecEnv(1)
    obs = env.reset(0)
    for _ in range(50):
        obs, *_ = env.step(balancing_actions(obs))
    env.clear_logs()
    for _ in range(150):
        obs, *_ = env.step(balancing_actions(obs))
    assert env.get_logs()["total_reward"] == 200.0


@pytest.mark.parametrize("workers", [1, 2, 5])
def test_same_seed_and_actions_give_the_same_bits(workers):
    a, b = PyCartPoleVecEnv(37, workers), PyCartPoleVecEnv(37, workers)
    a.reset(11)
    b.reset(11)
    for x, y in zip(run(a, 150), run(b, 150)):
        for p, q in zip(x, y):
            assert p.tobytes() == q.tobytes()
    assert a.get_logs() == b.get_logs()


def trajectory_digest(num_envs, workers, steps):
    env = PyCartPoleVecEnv(num_envs, workers)
    env.reset(3)
    digest = hashlib.sha256()
    for result in run(env, steps):
        for array in result:
            digest.update(array.tobytes())
    return digest.hexdigest(), env.get_logs()


SUBPROCESS = """
import sys, pickle
sys.path[:0] = {path!r}
from test_cartpole import trajectory_digest
sys.stdout.buffer.write(pickle.dumps(trajectory_digest({n}, {w}, {s})))
"""


def test_chunked_result_does_not_depend_on_thread_count():
    expected = trajectory_digest(1000, 4, 100)
    for threads in ["1", "2", "7"]:
        code = SUBPROCESS.format(path=[os.path.dirname(__file__)] + sys.path, n=1000, w=4, s=100)
        out = subprocess.run(
            [sys.executable, "-c", code],
            env={**os.environ, "RAYON_NUM_THREADS": threads},
            capture_output=True,
            check=True,
            timeout=120,
        ).stdout
        assert pickle.loads(out) == expected, f"RAYON_NUM_THREADS={threads}"


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork()")
def test_forked_child_steps_on_the_chunked_path():
    env = PyCartPoleVecEnv(256, 4)
    env.reset(1)
    run(env, 3)  # the pool exists now
    expected_env = PyCartPoleVecEnv(256, 4)
    expected_env.reset(9)
    expected = run(expected_env, 20)[-1][0].tobytes()

    read_fd, write_fd = os.pipe()
    pid = os.fork()
    if pid == 0:  # child: must not hang on the parent's threads
        try:
            child = PyCartPoleVecEnv(256, 4)
            child.reset(9)
            os.write(write_fd, run(child, 20)[-1][0].tobytes())
        finally:
            os._exit(0)
    os.close(write_fd)
    deadline = time.monotonic() + 60
    data = b""
    while time.monotonic() < deadline:
        ready, _, _ = select.select([read_fd], [], [], 1.0)
        if ready:
            chunk = os.read(read_fd, 1 << 16)
            if not chunk:
                break
            data += chunk
    else:
        os.kill(pid, signal.SIGKILL)
    os.close(read_fd)
    os.waitpid(pid, 0)
    assert data == expected


def test_module_level_class_is_usable_from_envs_submodule():
    from vorlisk.envs import PyCartPoleVecEnv as Cls

    env = Cls(2)
    assert env.reset(0).shape == (2, 4)
    assert isinstance(env, vorlisk.PyCartPoleVecEnv)
