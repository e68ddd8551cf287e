"""TUILogger from Python: its surface, its arguments and its threads."""
import pathlib
import subprocess
import sys
import textwrap

import pytest

from vorlisk import TUILogger

pytestmark = pytest.mark.sanitize


def rows(path):
    """The CSV rows after the header, split into fields."""
    return [line.split(",") for line in pathlib.Path(path).read_text().splitlines()[1:]]


def run_python(code):
    """Runs `code` in a fresh interpreter; returns its standard output."""
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                            timeout=120)
    assert result.returncode == 0, result.stderr
    return result.stdout


@pytest.mark.parametrize("name, signature, doc", [
    ("TUILogger",
     '(mode="minimal", render_interval_ms=100, history_len=100, csv_path=None, '
     "monitor_interval_ms=None, update_interval_steps=None)",
     "High-performance TUI logger with ratatui.\n\n"
     "Renders training metrics in a terminal UI with minimal overhead.\n"
     "Python updates metrics via atomic writes; a separate thread handles rendering."),
    ("update",
     "($self, steps, episodes, mean_reward, sps, policy_loss=None, value_loss=None, "
     "entropy=None, gpu_usage=None, gpu_memory=None, total_gpu_memory=None)",
     "Update metrics from Python training loop.\n\n"
     "This method is optimized for minimal overhead - uses atomic writes only.\n"
     "GPU metrics are optional and can be provided by Python if available."),
    ("should_quit", "($self)", "Check if quit was requested via keyboard."),
    ("close", "($self)", "Close the TUI and restore terminal."),
])
def test_docstrings_and_signatures(name, signature, doc):
    obj = TUILogger if name == "TUILogger" else getattr(TUILogger, name)
    assert (obj.__text_signature__, obj.__doc__) == (signature, doc)
    assert TUILogger.__module__ == "vorlisk"


@pytest.mark.parametrize("kwargs, error, text", [
    ({"mode": "Chart"}, ValueError, "mode must be 'minimal', 'dashboard', or 'chart'"),
    ({"mode": ""}, ValueError, "mode must be 'minimal', 'dashboard', or 'chart'"),
    ({"mode": 1}, TypeError, "mode"),
    ({"render_interval_ms": -1}, OverflowError, "render_interval_ms"),
    ({"render_interval_ms": 2**64}, OverflowError, "render_interval_ms"),
    ({"history_len": 1.5}, TypeError, "history_len"),
    ({"history_len": -1}, OverflowError, "history_len"),
    ({"csv_path": 5}, TypeError, "csv_path"),
    ({"monitor_interval_ms": "10"}, TypeError, "monitor_interval_ms"),
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
    assert logger.should_quit() is False


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
    ((1, 0, 0.0, "fast"), {}, TypeError, "sps"),
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
