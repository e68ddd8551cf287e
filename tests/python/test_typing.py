"""The installed type stubs: mypy's stubtest against the built module, and mypy run on
a user's script the way a user would run it, outside the source tree."""

import os
import subprocess
import sys
import sysconfig
import textwrap
from pathlib import Path

import pytest

pytest.importorskip("mypy")

STUBS = Path(sysconfig.get_paths()["purelib"]) / "vorlisk-stubs"
if not STUBS.is_dir():
    pytest.skip("vorlisk is not installed with its stubs in this environment", allow_module_level=True)

USER_SCRIPT = """
    import numpy as np
    import vorlisk
    import vorlisk_gymnasium
    from vorlisk.envs import PyCartPoleVecEnv

    env = PyCartPoleVecEnv(8, workers=2)
    obs = env.reset(seed=0)
    obs, rewards, terminals, truncations = env.step(np.zeros(8, np.int32))
    lanes, finals = env.final_observations()
    mean: float = env.get_logs()["mean_reward"] + float(rewards.sum())
    logger = vorlisk.Logger(mode="dashboard", csv_path=None, metrics=("kl",))
    logger.update(1, 2, mean, 3.0, policy_loss=0.1, kl=0.01)
    quit_now: bool = logger.should_quit()
    envs = vorlisk_gymnasium.make_vec("Pendulum-v1", num_envs=4)
    o, info = envs.reset(seed=1)
    wrong: str = env.num_envs  # the one error: the stubs say int
"""


@pytest.fixture(scope="module")
def mypy_run(tmp_path_factory):
    cache = tmp_path_factory.mktemp("mypy-cache")

    def run(*args, cwd):
        # Away from the source tree, so that only what is installed is seen.
        env = {k: v for k, v in os.environ.items() if k not in ("MYPYPATH", "PYTHONPATH")}
        env["MYPY_CACHE_DIR"] = str(cache)
        return subprocess.run([sys.executable, "-m", *args], cwd=cwd, env=env,
                              capture_output=True, text=True, timeout=300)

    return run


def test_stubs_match_the_built_module(mypy_run, tmp_path):
    result = mypy_run("mypy.stubtest", "vorlisk", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_mypy_checks_a_users_script_against_the_installed_stubs(mypy_run, tmp_path):
    (tmp_path / "user.py").write_text(textwrap.dedent(USER_SCRIPT))
    result = mypy_run("mypy", "--strict", "user.py", cwd=tmp_path)
    lines = [line for line in result.stdout.splitlines() if ": error:" in line]
    assert len(lines) == 1 and "user.py:17:" in lines[0] and '"int"' in lines[0], result.stdout
