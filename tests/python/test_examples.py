"""The examples learn: each run briefly, headless, with a budget small enough for CI
and a bar well above what a random policy gets."""

import csv
import re
import subprocess
import sys
from pathlib import Path

import pytest

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


def run_example(name, *args, cwd):
    return subprocess.run([sys.executable, str(EXAMPLES / name), *args], cwd=cwd,
                          capture_output=True, text=True, timeout=600)


def test_cartpole_learner_rises_far_above_random_and_logs_every_update(tmp_path):
    # A random policy's episodes last about 22 steps.
    result = run_example("train_cartpole.py", "--lanes", "1024", "--steps", "200000",
                         "--csv", "metrics.csv", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert "Traceback" not in result.stderr
    with open(tmp_path / "metrics.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    updates = -(-200000 // (1024 * 16))
    returns = [float(r["mean_reward"]) for r in rows]
    assert returns[0] < 40 and returns[-1] > 100
    assert [int(r["steps"]) for r in rows] == [1024 * 16 * (i + 1) for i in range(updates)]
    for column in ("policy_loss", "value_loss", "entropy", "sps", "kl", "clip_frac", "episode_len"):
        assert all(r[column] not in ("", "0", "0.0") for r in rows), column
    summary = result.stdout.strip().splitlines()[-1]
    assert summary.startswith("Step budget used up") and str(tmp_path / "metrics.csv") in summary


CROSS_ENTROPY = sorted(p.name for p in EXAMPLES.glob("train_*.py")
                       if "cem" in re.findall(r"^(?:from|import) (\w+)", p.read_text(), re.M))


@pytest.mark.parametrize("name", CROSS_ENTROPY)
def test_cross_entropy_examples_improve(name, tmp_path):
    result = run_example(name, "--iterations", "6", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    means = [float(m) for m in re.findall(r"^iteration .* mean return +(-?[\d.]+)", result.stdout, re.M)]
    assert len(means) == 6 and means[-1] > means[0] + 0.1 * abs(means[0]), result.stdout


def test_recording_writes_a_clip_of_the_trained_policy(tmp_path):
    image = pytest.importorskip("PIL.Image")
    result = run_example("record_cartpole.py", "--lanes", "1024", "--steps", "50000",
                         "--frames", "30", "--out", "clip.gif", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    with image.open(tmp_path / "clip.gif") as clip:  # Pillow may merge identical frames
        durations = [clip.seek(k) or clip.info["duration"] for k in range(clip.n_frames)]
        assert clip.size == (600, 400) and sum(durations) == 30 * 20


def test_cartpole_without_a_display_still_writes_the_csv(tmp_path):
    result = run_example("train_cartpole.py", "--lanes", "256", "--steps", "16384", "--mode", "none",
                         "--csv", "x.csv", cwd=tmp_path)
    assert result.returncode == 0 and "TUI error" not in result.stderr, result.stderr
    with open(tmp_path / "x.csv", newline="") as f:
        assert [int(r["steps"]) for r in csv.DictReader(f)] == [4096 * (i + 1) for i in range(4)]
    assert len(re.findall(r"^update ", result.stdout, re.M)) == 4
