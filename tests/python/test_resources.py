"""Long use leaves resident memory, descriptors and threads where they started."""
import subprocess
import sys
import textwrap

import pytest

MEASURE = """
import os, gc, numpy as np, vorlisk
CLASSES = [getattr(vorlisk, name) for name in vorlisk.envs.__all__]

def usage():
    gc.collect()
    with open("/proc/self/statm") as f:
        rss = int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    return rss, len(os.listdir("/proc/self/fd")), len(os.listdir("/proc/self/task"))

def report(work, rounds):
    work(rounds // 10)  # warm-up: pools, caches and the allocator's arenas
    before = usage()
    work(rounds)
    after = usage()
    print(after[0] - before[0], after[1] - before[1], after[2] - before[2])
"""

CASES = {
    "steps": """
        def work(n):
            for cls in CLASSES:
                actions = np.ones(64, np.int32 if "n" in cls(1).action_space else np.float32)
                for workers in (None, 2):
                    env = cls(64, workers)
                    env.reset(0)
                    for _ in range(n // (2 * len(CLASSES))):
                        env.step(actions)
                    env.get_logs()
        report(work, 100_000)
    """,
    "env objects": """
        def work(n):
            for i in range(n):
                CLASSES[i % len(CLASSES)](1 + i % 40, None if i % 2 else 2).reset(i)
        report(work, 10_000)
    """,
    "loggers": """
        def work(n):
            for i in range(n):
                logger = vorlisk.TUILogger(csv_path=f"m{i % 3}.csv", monitor_interval_ms=1,
                                           update_interval_steps=0)
                for step in range(20):
                    logger.update(step, 0, 0.0, 0.0)
                logger.close()
                del logger
        report(work, 500)
    """,
}


@pytest.mark.parametrize("case", CASES)
def test_long_use_leaks_nothing(case, tmp_path):
    code = MEASURE + textwrap.dedent(CASES[case])
    result = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True,
                            text=True, timeout=600)
    assert result.returncode == 0, result.stderr
    rss, fds, threads = map(int, result.stdout.split())
    assert rss < 1 << 20, f"resident memory grew by {rss} bytes"
    assert fds == 0 and threads == 0
