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


def test_constructor_accepts_keywords_and_zero_workers():
    env = PyCartPoleVecEnv(num_envs=4, workers=0)
    env.reset(1)
    obs, *_ = env.step(np.ones(4, np.int32))
    assert obs.shape == (4, 4)
    assert PyCartPoleVecEnv(4, workers=None).num_envs == 4


def test_clear_logs_counts_running_episodes_in_full():
    env = PyCartPoleVecEnv(1)
    obs = env.reset(0)
    for _ in range(50):
        obs, *_ = env.step(balancing_actions(obs))
    env.clear_logs()
    for _ in range(150):
        obs, *_ = env.step(balancing_actions(obs))
    assert env.get_logs()["total_reward"] == 200.0


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


def test_dynamics_match_gymnasium():
    gym = pytest.importorskip("gymnasium")
    reference = gym.make("CartPole-v1").unwrapped
    reference.reset(seed=0)
    env = PyCartPoleVecEnv(1)  # a single lane follows the per-lane formulas
    obs = env.reset(5)
    rng = np.random.default_rng(3)
    compared = 0
    for _ in range(600):
        action = int(rng.integers(0, 2))
        reference.state = obs[0].astype(np.float64)
        reference.steps_beyond_terminated = None
        expected, _, terminated, _, _ = reference.step(action)
        obs, rewards, terminals, truncations = env.step(np.array([action], np.int32))
        assert terminals[0] == terminated
        # Unlike Gymnasium, the step that ends the episode earns nothing.
        assert rewards[0] == (0.0 if terminated else 1.0)
        if not (terminals[0] or truncations[0]):
            np.testing.assert_allclose(obs[0], expected, rtol=0, atol=1e-6)
            compared += 1
    assert compared > 400
