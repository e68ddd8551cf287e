import inspect
import math
import os
import pathlib
import subprocess
import sys
import textwrap

import pytest

import vorlisk
from vorlisk import TUILogger

HEADER = (
    "timestamp,steps,episodes,mean_reward,sps,policy_loss,value_loss,entropy,"
    "cpu_usage,gpu_usage,memory_mb,gpu_memory_mb\n"
)


def rows(path):
    """The CSV rows after the header, split into fields."""
    text = pathlib.Path(path).read_text()
    assert text.startswith(HEADER)
    return [line.split(",") for line in text[len(HEADER):].splitlines()]


def run_python(code, **env):
    """Runs `code` in a fresh interpreter; returns its standard output."""
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        env={**os.environ, **env},
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert result.returncode == 0, result.stderr
    return result.stdout


# --- class surface ---------------------------------------------------------


def test_logger_is_the_same_class():
    assert vorlisk.Logger is TUILogger
    assert TUILogger.__module__ == "vorlisk"
    assert TUILogger.__name__ == "TUILogger"


def test_class_docstring_and_signature():
    assert TUILogger.__text_signature__ == (
        '(mode="minimal", render_interval_ms=100, history_len=100, csv_path=None, '
        "monitor_interval_ms=None, update_interval_steps=None)"
    )
    assert TUILogger.__doc__ == (
        "High-performance TUI logger with ratatui.\n\n"
        "Renders training metrics in a terminal UI with minimal overhead.\n"
        "Python updates metrics via atomic writes; a separate thread handles rendering."
    )
    assert list(inspect.signature(TUILogger).parameters) == [
        "mode", "render_interval_ms", "history_len", "csv_path",
        "monitor_interval_ms", "update_interval_steps",
    ]


@pytest.mark.parametrize(
    "name, signature, doc",
    [
        (
            "update",
            "($self, steps, episodes, mean_reward, sps, policy_loss=None, value_loss=None, "
            "entropy=None, gpu_usage=None, gpu_memory=None, total_gpu_memory=None)",
            "Update metrics from Python training loop.\n\n"
            "This method is optimized for minimal overhead - uses atomic writes only.\n"
            "GPU metrics are optional and can be provided by Python if available.",
        ),
        ("should_quit", "($self)", "Check if quit was requested via keyboard."),
        ("close", "($self)", "Close the TUI and restore terminal."),
    ],
)
def test_method_docstrings(name, signature, doc):
    method = getattr(TUILogger, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ == doc


def test_internal_error_is_not_an_ordinary_exception():
    assert issubclass(vorlisk.InternalError, BaseException)
    assert not issubclass(vorlisk.InternalError, Exception)


# --- constructor arguments -------------------------------------------------


@pytest.mark.parametrize(
    "kwargs, error, text",
    [
        ({"mode": "Chart"}, ValueError, "mode must be 'minimal', 'dashboard', or 'chart'"),
        ({"mode": ""}, ValueError, "mode must be 'minimal', 'dashboard', or 'chart'"),
        ({"mode": 1}, TypeError, "mode"),
        ({"render_interval_ms": -1}, OverflowError, "render_interval_ms"),
        ({"render_interval_ms": 2**64}, OverflowError, "render_interval_ms"),
        ({"history_len": 1.5}, TypeError, "history_len"),
        ({"history_len": -1}, OverflowError, "history_len"),
        ({"csv_path": 5}, TypeError, "csv_path"),
        ({"monitor_interval_ms": "10"}, TypeError, "monitor_interval_ms"),
        ({"update_interval_steps": -5}, OverflowError, "update_interval_steps"),
        # Every argument converts before the mode name is checked.
        ({"mode": "bad", "update_interval_steps": -5}, OverflowError, "update_interval_steps"),
        ({"colour": True}, TypeError, "colour"),
    ],
)
def test_bad_constructor_arguments(kwargs, error, text):
    with pytest.raises(error, match=text):
        TUILogger(**kwargs)


@pytest.mark.parametrize("mode", ["minimal", "dashboard", "chart"])
def test_every_mode_by_position(mode):
    TUILogger(mode, 0, 0, None, 0, 0).close()


def test_history_that_cannot_be_reserved_raises_memory_error():
    with pytest.raises(MemoryError):
        TUILogger(history_len=2**62)


def test_a_thread_that_cannot_start_raises_internal_error():
    # Too little address space left for a thread stack makes the thread refuse to start.
    out = run_python(
        """
        import resource, vorlisk
        for line in open("/proc/self/status"):
            if line.startswith("VmSize:"):
                size = int(line.split()[1]) * 1024
        resource.setrlimit(resource.RLIMIT_AS, (size + (1 << 20), resource.RLIM_INFINITY))
        try:
            vorlisk.TUILogger()
        except vorlisk.InternalError as e:
            print(e)
        """
    )
    assert out.startswith("failed to spawn thread")


def test_longest_monitor_period_still_closes():
    logger = TUILogger(monitor_interval_ms=2**64 - 1)
    assert logger.close() is None


# --- lifecycle ---------------------------------------------------------------


def test_methods_keep_working_after_close():
    logger = TUILogger()
    assert logger.should_quit() is False
    assert logger.close() is None
    assert logger.close() is None
    assert logger.update(1, 0, 0.5, 10.0) is None
    assert logger.should_quit() is False


# --- update arguments --------------------------------------------------------


@pytest.fixture
def csv_logger(tmp_path):
    path = tmp_path / "metrics.csv"
    logger = TUILogger(csv_path=str(path))
    yield logger, path
    logger.close()


@pytest.mark.parametrize(
    "args, kwargs, error, text",
    [
        ((1e6, 0, 0.0, 0.0), {}, TypeError, "steps"),
        ((1, 0, None, 0.0), {}, TypeError, "mean_reward"),
        ((1, -1, 0.0, 0.0), {}, OverflowError, "episodes"),
        ((1, 0, 0.0), {}, TypeError, "sps"),
        ((1, 0, 0.0, "fast"), {}, TypeError, "sps"),
        ((1, 0, 0.0, 0.0), {"entropy": "x"}, TypeError, "entropy"),
        ((1, 0, 0.0, 0.0), {"gpu_memory": []}, TypeError, "gpu_memory"),
        ((1, 0, 0.0, 0.0), {"loss": 1.0}, TypeError, "loss"),
        ((1, 0, 0.0, 0.0), {"steps": 2}, TypeError, "steps"),
    ],
)
def test_bad_update_arguments_change_nothing(csv_logger, args, kwargs, error, text):
    logger, path = csv_logger
    with pytest.raises(error, match=text):
        logger.update(*args, **kwargs)
    logger.close()
    assert rows(path) == []


def test_update_by_keyword_and_with_ints_for_floats(csv_logger):
    logger, path = csv_logger
    logger.update(sps=7, mean_reward=-3, episodes=2, steps=5, value_loss=1, entropy=True)
    logger.close()
    [row] = rows(path)
    assert row[1:8] == ["5", "2", "-3.0000", "7", "0.000000", "1.000000", "1.000000"]


@pytest.mark.parametrize("gpu_memory, stored", [(-5.0, "0"), (math.nan, "0"), (1e300, str(2**64 - 1))])
def test_gpu_memory_is_saturated_to_an_unsigned_integer(csv_logger, gpu_memory, stored):
    logger, path = csv_logger
    logger.update(1, 0, 0.0, 0.0, gpu_memory=gpu_memory)
    logger.close()
    [row] = rows(path)
    assert row[11] == stored


# --- the CSV file ------------------------------------------------------------


def test_rows_round_half_to_even_and_write_absent_losses_as_zero(csv_logger):
    logger, path = csv_logger
    logger.update(1, 0, 0.5, 1234.5)
    logger.update(2, 0, 0.5, 1235.5)
    assert path.read_bytes() == b""  # nothing reaches the disk before the first flush
    logger.close()
    first, second = rows(path)
    assert first[1:8] == ["1", "0", "0.5000", "1234", "0.000000", "0.000000", "0.000000"]
    assert second[4] == "1236"


def test_immediate_close_leaves_exactly_the_header_in_a_truncated_file(tmp_path):
    path = tmp_path / "m.csv"
    path.write_text("x" * 10000)
    TUILogger(csv_path=str(path)).close()
    assert path.read_text() == HEADER
    assert path.stat().st_size == 116


def test_rows_after_close_appear_after_del(tmp_path):
    path = tmp_path / "m.csv"
    logger = TUILogger(csv_path=str(path))
    logger.close()
    logger.update(10, 1, 2.0, 3.0)
    assert path.read_text() == HEADER
    del logger
    [row] = rows(path)
    assert row[1:3] == ["10", "1"]


@pytest.mark.parametrize(
    "path, ending",
    [
        ("", " (os error 2)"),
        ("/nonexistent-vorlisk-dir/m.csv", " (os error 2)"),
        ("m\0.csv", "file name contains a NUL byte"),
    ],
)
def test_csv_that_cannot_be_created(path, ending):
    with pytest.raises(ValueError) as info:
        TUILogger(csv_path=path)
    message = str(info.value)
    assert message.startswith("Failed to create CSV file: ")
    assert message.endswith(ending)


def test_many_rows_reach_the_file_whole(tmp_path):
    path = tmp_path / "m.csv"
    logger = TUILogger(csv_path=str(path), update_interval_steps=0, history_len=3)
    for i in range(5000):
        logger.update(i, i // 10, i / 7, 1e6 + i)
    del logger
    table = rows(path)
    assert [int(row[1]) for row in table] == list(range(5000))
    assert all(len(row) == 12 for row in table)


# --- the GPU path through a stand-in library --------------------------------

FAKE_NVML_DIR = os.environ.get("VORLISK_FAKE_NVML_DIR")


@pytest.mark.skipif(not FAKE_NVML_DIR, reason="VORLISK_FAKE_NVML_DIR is not set")
def test_gpu_figures_from_the_library_reach_the_csv(tmp_path):
    path = tmp_path / "m.csv"
    run_python(
        f"""
        import time, vorlisk
        logger = vorlisk.TUILogger(csv_path={str(path)!r}, monitor_interval_ms=5)
        for i in range(100):
            # A value from the script is replaced by the library's at the next cycle.
            logger.update(i, 0, 0.0, 0.0, gpu_usage=1.0, gpu_memory=1.0)
            time.sleep(0.01)
        logger.close()
        logger.update(100, 0, 0.0, 0.0)
        """,
        LD_LIBRARY_PATH=os.path.abspath(FAKE_NVML_DIR),
    )
    last = rows(path)[-1]
    assert last[9] == "42.00"
    assert last[11] == "3072"
