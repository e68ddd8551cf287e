"""The CSV file under conditions a training run meets: paths of every kind, FIFOs,
full disks, stalls, crashes and fork()."""
import os
import pathlib
import stat
import subprocess
import sys
import textwrap
import time

import pytest

from vorlisk import TUILogger

HEADER = (
    "timestamp,steps,episodes,mean_reward,sps,policy_loss,value_loss,entropy,"
    "cpu_usage,gpu_usage,memory_mb,gpu_memory_mb\n"
)


def steps_in(path):
    text = pathlib.Path(path).read_text()
    assert text.startswith(HEADER) and text.count(HEADER) == 1
    return [int(line.split(",")[1]) for line in text[len(HEADER):].splitlines()]


@pytest.mark.parametrize("kind", [pathlib.Path, os.fsencode, lambda p: pathlib.PurePosixPath(p)])
def test_path_like_and_bytes_paths(tmp_path, kind):
    path = tmp_path / "m.csv"
    logger = TUILogger(csv_path=kind(str(path)))
    logger.update(7, 1, 0.0, 0.0)
    logger.close()
    assert steps_in(path) == [7]


def test_an_error_inside_fspath_comes_out_unchanged():
    class Bad:
        def __fspath__(self):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        TUILogger(csv_path=Bad())


def test_a_fifo_is_refused_without_blocking(tmp_path):
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    # In a child, so that a regression blocks only the child, not the suite.
    code = f"""
        import vorlisk
        try:
            vorlisk.TUILogger(csv_path={str(fifo)!r})
        except ValueError as e:
            print(e)
        """
    out = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                         text=True, timeout=60).stdout
    assert out.startswith("Failed to create CSV file: ") and "FIFO" in out, out
    assert stat.S_ISFIFO(os.stat(fifo).st_mode)


def run_child(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, timeout=120)


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
def test_write_errors_are_reported_once_and_the_lost_rows_at_close():
    result = run_child(
        """
        import vorlisk
        logger = vorlisk.TUILogger(csv_path="/dev/full", update_interval_steps=0)
        for i in range(1000):
            logger.update(i, 0, 0.0, 0.0)  # never raises
        logger.close()
        print("done")
        """
    )
    assert result.returncode == 0 and result.stdout == "done\n", result.stderr
    # The terminal thread has its own line here (no terminal); these are the file's.
    lines = [line for line in result.stderr.splitlines() if not line.startswith("TUI error: ")]
    assert len(lines) == 2, result.stderr
    assert "/dev/full" in lines[0] and os.strerror(28) in lines[0]
    assert lines[1].startswith("vorlisk: 1001 rows were lost") and "/dev/full" in lines[1]


def wait_for_rows(path, deadline_s=20):
    end = time.monotonic() + deadline_s
    while time.monotonic() < end:
        if path.stat().st_size > len(HEADER):
            return steps_in(path)
        time.sleep(0.05)
    return []


def test_rows_of_a_paused_loop_reach_the_file_before_close(tmp_path):
    path = tmp_path / "m.csv"
    logger = TUILogger(csv_path=str(path))
    for i in range(100):
        logger.update(i, 0, 0.0, 0.0)
    assert wait_for_rows(path) == list(range(100))
    logger.close()


def test_rows_of_a_busy_loop_reach_the_file_before_close(tmp_path):
    path = tmp_path / "m.csv"
    logger = TUILogger(csv_path=str(path))
    i = 0
    start = time.monotonic()
    # Rows keep coming, so the buffer is never idle; it still goes out every second.
    while path.stat().st_size <= len(HEADER) and time.monotonic() - start < 20:
        logger.update(i, 0, 0.0, 0.0)
        i += 1
    written = steps_in(path)
    assert written and written == list(range(len(written)))
    logger.close()
    assert steps_in(path) == list(range(i))


def test_a_closed_logger_holds_no_thread_and_its_later_rows_arrive(tmp_path):
    path = tmp_path / "m.csv"
    threads = len(os.listdir("/proc/self/task"))
    logger = TUILogger(csv_path=str(path))
    logger.close()
    assert len(os.listdir("/proc/self/task")) == threads  # kept alive, yet threadless
    logger.update(7, 0, 0.0, 0.0)
    del logger
    assert steps_in(path) == [7]


def test_a_killed_process_keeps_the_rows_of_its_last_second_but_one(tmp_path):
    path = tmp_path / "m.csv"
    child = subprocess.Popen([sys.executable, "-c", textwrap.dedent(f"""
        import time, vorlisk
        logger = vorlisk.TUILogger(csv_path={str(path)!r})
        for i in range(50):
            logger.update(i, 0, 0.0, 0.0)
        print("ready", flush=True)
        time.sleep(60)
        """)], stdout=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "ready\n"
        assert wait_for_rows(path) == list(range(50))
    finally:
        child.kill()
        child.wait()


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork()")
@pytest.mark.parametrize("ending", ["logger.close()", "del logger", "sys.exit(0)"])
def test_a_forked_child_never_writes_the_parents_rows(tmp_path, ending):
    path = tmp_path / "m.csv"
    result = run_child(
        f"""
        import os, sys, vorlisk
        logger = vorlisk.TUILogger(csv_path={str(path)!r}, monitor_interval_ms=5)
        for i in range(10):
            logger.update(i, 0, 0.0, 0.0)
        pid = os.fork()
        if pid == 0:
            logger.update(99, 0, 0.0, 0.0)
            {ending}
            os._exit(0)
        _, status = os.waitpid(pid, 0)
        assert os.waitstatus_to_exitcode(status) == 0
        logger.update(10, 0, 0.0, 0.0)
        logger.close()
        """
    )
    assert result.returncode == 0, result.stderr
    assert steps_in(path) == list(range(11))
