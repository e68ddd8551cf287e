"""CartPole's own bits and dynamics, and what the worker pool must not change."""
import os
import select
import signal
import subprocess
import sys

import numpy as np
import pytest
from conftest import gymnasium_steps, path_digests, recorded_bits, trajectory_digest

from vorlisk import PyCartPoleVecEnv

pytestmark = pytest.mark.sanitize  # also run against the ASan build in CI

SUBPROCESS = """
import sys
sys.path[:0] = {path!r}
from conftest import trajectory_digest
from vorlisk import PyCartPoleVecEnv
print(trajectory_digest(PyCartPoleVecEnv, 1000, 4, steps=100))
"""


def test_chunked_result_does_not_depend_on_thread_count():
    expected = trajectory_digest(PyCartPoleVecEnv, 1000, 4, steps=100)
    for threads in ["1", "2", "7"]:
        code = SUBPROCESS.format(path=[os.path.dirname(__file__)] + sys.path)
        out = subprocess.run(
            [sys.executable, "-c", code],
            env={**os.environ, "RAYON_NUM_THREADS": threads},
            capture_output=True,
            text=True,
            check=True,
            timeout=120,
        ).stdout
        assert out.strip() == expected, f"RAYON_NUM_THREADS={threads}"


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork()")
def test_forked_child_steps_on_the_chunked_path():
    # The parent's run starts the pool before the fork.
    expected = trajectory_digest(PyCartPoleVecEnv, 256, 4, steps=20)
    read_fd, write_fd = os.pipe()
    pid = os.fork()
    if pid == 0:  # child: must not hang on the parent's threads
        try:
            os.write(write_fd, trajectory_digest(PyCartPoleVecEnv, 256, 4, steps=20).encode())
        finally:
            os._exit(0)
    os.close(write_fd)
    # A digest is far below the pipe's atomic size, so it arrives in one piece; a child
    # that dies first closes the pipe and leaves nothing to read.
    ready, _, _ = select.select([read_fd], [], [], 60)
    if not ready:
        os.kill(pid, signal.SIGKILL)
    data = os.read(read_fd, 64) if ready else b""
    os.close(read_fd)
    os.waitpid(pid, 0)
    assert data.decode() == expected


@recorded_bits
def test_each_path_keeps_its_bits():
    # Three chunks and one thread's exact formulas agree here; the blocks approximate.
    assert path_digests(PyCartPoleVecEnv) == {
        "blocks": "fd332074228d1a4d", "chunks": "b99c1427511a2291", "exact": "b99c1427511a2291"}


def test_dynamics_match_gymnasium():
    rng = np.random.default_rng(3)
    ends = 0
    for (obs, reward, terminal, truncated), (expected, _, terminated, _, _) in gymnasium_steps(
            PyCartPoleVecEnv, 5, rng.integers(0, 2, 600).astype(np.int32)):
        assert terminal == terminated
        # Unlike Gymnasium, the step that ends the episode earns nothing.
        assert reward == (0.0 if terminated else 1.0)
        np.testing.assert_allclose(obs, expected, rtol=0, atol=1e-6)
        ends += bool(terminal or truncated)
    assert ends > 10
