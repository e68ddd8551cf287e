"""TUILogger from Python: its surface, its arguments and its threads, and the CSV file
under the conditions a training run meets: paths of every kind, FIFOs, busy loops,
crashes and fork()."""
import math
import os
import pathlib
import subprocess
import sys
import textwrap
import time

import pytest

from vorlisk import TUILogger

pytestmark = pytest.mark.sanitize


def rows(path):
    """The CSV rows after the header, split into fields."""
    return [line.split(",") for line in pathlib.Path(path).read_text().splitlines()[1:]]


def steps_in(path):
    return [int(row[1]) for row in rows(path)]


def run_python(code):
    """Runs `code` in a fresh interpreter; returns its standard output."""
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                            timeout=120)
    assert result.returncode == 0, result.stderr
    return result.stdout


# The signatures are held against the type stubs by test_typing.py.
@pytest.mark.parametrize("name, doc", [
    ("TUILogger",
     "High-performance TUI logger with ratatui.\n\n"
     "Renders training metrics in a terminal UI with minimal overhead.\n"
     "Python updates metrics via atomic writes; a separate thread handles rendering."),
    ("update",
     "Update metrics from Python training loop.\n\n"
     "This method is optimized for minimal overhead - uses atomic writes only.\n"
     "GPU metrics are optional and can be provided by Python if available."),
    ("should_quit", "Check if quit was requested via keyboard."),
    ("close", "Close the TUI and restore terminal."),
])
def test_docstrings(name, doc):
    obj = TUILogger if name == "TUILogger" else getattr(TUILogger, name)
    assert obj.__doc__ == doc
    assert TUILogger.__module__ == "vorlisk"


@pytest.mark.parametrize("kwargs, error, text", [
    ({"mode": "Chart"}, ValueError, "mode must be 'minimal', 'dashboard', or 'chart'"),
    ({"mode": ""}, ValueError, "mode must be 'minimal', 'dashboard', or 'chart'"),
    ({"mode": 1}, TypeError, "mode"),
    ({"render_interval_ms": -1}, OverflowError, "render_interval_ms"),
    ({"history_len": 1.5}, TypeError, "history_len"),
    ({"csv_path": 5}, TypeError, "csv_path"),
    # An error raised inside __fspath__ comes out unchanged.
    ({"csv_path": type("P", (), {"__fspath__": lambda self: 1 / 0})()}, ZeroDivisionError, None),
    ({"monitor_interval_ms": "10"}, TypeError, "monitor_interval_ms"),
    ({"total_steps": -1}, OverflowError, "total_steps"),
    # Every argument converts before the mode name is checked.
    ({"mode": "bad", "update_interval_steps": -5}, OverflowError, "update_interval_steps"),
    ({"colour": True}, TypeError, "colour"),
    ({"history_len": 2**62}, MemoryError, None),
])
def test_bad_constructor_arguments(kwargs, error, text):
    with pytest.raises(error, match=text):
        TUILogger(**kwargs)


@pytest.mark.parametrize("mode", ["minimal", "dashboard", "chart"])
def test_every_mode_by_position_and_every_method_after_close(mode):
    logger = TUILogger(mode, 0, 0, None, 2**64 - 1, 0)  # the longest monitor period still closes
    assert logger.should_quit() is False
    assert logger.close() is None and logger.close() is None
    assert logger.update(1, 0, 0.5, 10.0) is None


def test_a_with_block_closes_the_logger_and_lets_an_exception_through(tmp_path):
    with pytest.raises(KeyError), TUILogger(csv_path=str(tmp_path / "m.csv"), total_steps=10) as logger:
        logger.update(3, 0, 0.0, 0.0)
        raise KeyError("diverged")
    assert steps_in(tmp_path / "m.csv") == [3]  # written out by close(), not a later flush


def test_a_thread_that_cannot_start_raises_internal_error():
    # Too little address space left for a thread stack makes the thread refuse to start.
    out = run_python("""
        import resource, vorlisk
        for line in open("/proc/self/status"):
            if line.startswith("VmSize:"):
                size = int(line.split()[1]) * 1024
        resource.setrlimit(resource.RLIMIT_AS, (size + (1 << 20), resource.RLIM_INFINITY))
        try:
            vorlisk.TUILogger()
        except vorlisk.InternalError as e:
            print(e)
        """)
    assert out.startswith("failed to spawn thread")


@pytest.mark.parametrize("args, kwargs, error, text", [
    ((1e6, 0, 0.0, 0.0), {}, TypeError, "steps"),
    ((1, 0, None, 0.0), {}, TypeError, "mean_reward"),
    ((1, -1, 0.0, 0.0), {}, OverflowError, "episodes"),
    ((1, 0, 0.0), {}, TypeError, "sps"),
    ((1, 0, 0.0, 0.0), {"entropy": "x"}, TypeError, "entropy"),
    ((1, 0, 0.0, 0.0), {"gpu_memory": []}, TypeError, "gpu_memory"),
    ((1, 0, 0.0, 0.0), {"loss": 1.0}, TypeError, "loss"),
    ((1, 0, 0.0, 0.0), {"steps": 2}, TypeError, "steps"),
])
def test_bad_update_arguments_change_nothing(tmp_path, args, kwargs, error, text):
    logger = TUILogger(csv_path=str(tmp_path / "m.csv"))
    with pytest.raises(error, match=text):
        logger.update(*args, **kwargs)
    logger.close()
    assert rows(tmp_path / "m.csv") == []


@pytest.mark.parametrize("kind", [str, pathlib.Path, os.fsencode])
def test_close_leaves_the_header_in_a_truncated_file_no_thread_and_later_rows_arrive(tmp_path, kind):
    path = tmp_path / "m.csv"
    path.write_text("x" * 10000)
    threads = len(os.listdir("/proc/self/task"))
    logger = TUILogger(csv_path=kind(str(path)))
    logger.close()
    assert path.read_bytes() == (b"timestamp,steps,episodes,mean_reward,sps,policy_loss,value_loss,entropy,"
                                 b"cpu_usage,gpu_usage,memory_mb,gpu_memory_mb\n")
    assert len(os.listdir("/proc/self/task")) == threads  # kept alive, yet threadless
    logger.update(7, 0, 0.0, 0.0)
    del logger
    assert steps_in(path) == [7]


def test_rows_round_half_to_even_and_take_keywords_ints_and_absent_figures(tmp_path):
    logger = TUILogger(csv_path=str(tmp_path / "m.csv"))
    logger.update(1, 0, 0.5, 1234.5)
    logger.update(sps=1235.5, mean_reward=-3, episodes=2, steps=5, value_loss=1, entropy=True, gpu_usage=7)
    logger.update(6, 2, 0.0, 0.0, policy_loss=0.25, gpu_memory=-5.0)
    logger.update(7, 2, 0.0, 0.0, gpu_memory=math.nan)
    for steps, gpu_memory in enumerate([1e300, 2.0**64, math.nextafter(2.0**64, 0)], 8):
        logger.update(steps, 2, 0.0, 0.0, gpu_memory=gpu_memory)
    assert (tmp_path / "m.csv").read_bytes() == b""  # nothing reaches the disk before the first flush
    logger.close()
    table = rows(tmp_path / "m.csv")
    assert table[0][1:8] == ["1", "0", "0.5000", "1234", "0.000000", "0.000000", "0.000000"]
    assert table[1][1:8] == ["5", "2", "-3.0000", "1236", "0.000000", "1.000000", "1.000000"]
    assert table[2][5:8] == ["0.250000", "0.000000", "0.000000"]
    assert [row[9] for row in table] == ["0.00"] + ["7.00"] * 6  # an absent GPU figure leaves the last one
    assert [row[11] for row in table[2:]] == ["0", "0", str(2**64 - 1), str(2**64 - 1), str(2**64 - 2048)]


@pytest.mark.parametrize("path, ending", [
    ("", " (os error 2)"),
    ("m\0.csv", "file name contains a NUL byte"),
    ("pipe", "pipe is a FIFO, not a file"),  # refused, not waited on for a reader
])
def test_csv_that_cannot_be_created_starts_no_thread(tmp_path, monkeypatch, path, ending):
    monkeypatch.chdir(tmp_path)
    os.mkfifo("pipe")
    threads = len(os.listdir("/proc/self/task"))
    with pytest.raises(ValueError) as info:
        TUILogger(csv_path=path)
    assert str(info.value).startswith("Failed to create CSV file: ") and str(info.value).endswith(ending)
    assert len(os.listdir("/proc/self/task")) == threads


def test_rows_of_a_slow_loop_reach_the_file_within_about_a_second(tmp_path):
    path = tmp_path / "m.csv"
    logger = TUILogger(csv_path=str(path))
    i, end = 0, time.monotonic() + 20
    # A row every 20 ms keeps the helper thread from flushing, and the buffer takes
    # seconds to fill: the first row a second after the last flush sends it out.
    while path.stat().st_size <= 116 and time.monotonic() < end:  # 116: the header alone
        logger.update(i, 0, 0.0, 0.0)
        i += 1
        time.sleep(0.02)
    assert 0 < len(steps_in(path)) < 100
    logger.close()


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork()")
@pytest.mark.parametrize("ending", ["logger.close()", "del logger", "sys.exit(0)"])
def test_a_forked_child_never_writes_the_parents_rows(tmp_path, ending):
    run_python(f"""
        import os, sys, vorlisk
        logger = vorlisk.TUILogger(csv_path={str(tmp_path / "m.csv")!r}, monitor_interval_ms=5)
        for i in range(10):
            logger.update(i, 0, 0.0, 0.0)
        pid = os.fork()
        if pid == 0:
            for _ in range(200):  # more than the buffer holds
                logger.update(99, 0, 0.0, 0.0)
            {ending}
            os._exit(0)
        _, status = os.waitpid(pid, 0)
        assert os.waitstatus_to_exitcode(status) == 0
        logger.update(10, 0, 0.0, 0.0)
        logger.close()
        """)
    assert steps_in(tmp_path / "m.csv") == list(range(11))


def test_a_process_with_standard_error_closed_keeps_its_csv_file_clean(tmp_path):
    path = tmp_path / "m.csv"
    code = f"import vorlisk; vorlisk.TUILogger(csv_path={str(path)!r}).update(1, 0, 0.0, 0.0)"
    # Standard output is no terminal: the terminal thread's error line must not reach the file.
    subprocess.run([sys.executable, "-c", code], stdout=subprocess.DEVNULL, preexec_fn=lambda: os.close(2), check=True)
    assert path.read_text().startswith("timestamp,") and steps_in(path) == [1]
