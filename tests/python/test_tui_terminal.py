"""The terminal display end to end: a training script in a pseudo-terminal, keys
typed into it, the screen read back with pyte, and the terminal settings compared
before and after."""
import fcntl
import os
import select
import struct
import subprocess
import sys
import termios
import textwrap
import time

import pytest

pyte = pytest.importorskip("pyte")

ENTER_ALT, LEAVE_ALT = b"\x1b[?1049h", b"\x1b[?1049l"
HIDE_CURSOR, SHOW_CURSOR = b"\x1b[?25l", b"\x1b[?25h"
MINIMAL = "[q]uit [p]ause [m]ode"
DASHBOARD = "[m] Toggle Mode"
CHART = "[m] Switch Mode"
TIMEOUT = 20.0  # seconds; no wait below goes beyond it

# Makes the pty the script's controlling terminal, then feeds the logger until the
# quit key, printing what it sees. Steps grow all the time, so every frame differs.
TRAINING = """
import fcntl, os, sys, termios, time, vorlisk
if CONTROLLING_TERMINAL:
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)
before = termios.tcgetattr(0)
logger = vorlisk.TUILogger(mode=MODE, render_interval_ms=INTERVAL, update_interval_steps=1)
steps = 0
def train(seconds):
    global steps
    end = time.monotonic() + seconds
    while time.monotonic() < end and not logger.should_quit():
        steps += 1000
        logger.update(steps, steps // 100, 1.5, 1e5)
        time.sleep(0.005)
"""


class Terminal:
    """A script running on a pseudo-terminal of the given size."""

    def __init__(self, script, columns=160, lines=40, controlling=True, mode="minimal",
                 interval=50, stdout=None):
        self.master, self.slave = os.openpty()
        self.resize(columns, lines)
        self.settings = termios.tcgetattr(self.slave)
        code = (f"CONTROLLING_TERMINAL = {controlling}\nMODE = {mode!r}\nINTERVAL = {interval}\n"
                + textwrap.dedent(TRAINING) + textwrap.dedent(script))
        self.process = subprocess.Popen(
            [sys.executable, "-c", code], stdin=self.slave,
            stdout=self.slave if stdout is None else stdout, stderr=self.slave,
            start_new_session=True)
        self.raw = b""

    def resize(self, columns, lines):
        fcntl.ioctl(self.master, termios.TIOCSWINSZ, struct.pack("HHHH", lines, columns, 0, 0))
        self.screen = pyte.Screen(columns, lines)
        self.stream = pyte.ByteStream(self.screen)

    def pump(self, seconds):
        end = time.monotonic() + seconds
        while (left := end - time.monotonic()) > 0:
            if select.select([self.master], [], [], left)[0]:
                try:
                    data = os.read(self.master, 65536)
                except OSError:  # the script has ended and closed its side
                    time.sleep(left)
                    return
                self.raw += data
                self.stream.feed(data)

    def text(self):
        return "\n".join(self.screen.display)

    def wait_for(self, condition, what):
        end = time.monotonic() + TIMEOUT
        while not condition():
            assert time.monotonic() < end, f"no {what} on the screen:\n{self.text()}"
            self.pump(0.02)

    def wait_for_text(self, text):
        self.wait_for(lambda: text in self.text(), repr(text))

    def wait_for_quiet(self, seconds):
        """Waits until nothing has arrived for `seconds`."""
        end = time.monotonic() + TIMEOUT
        while True:
            length = len(self.raw)
            self.pump(seconds)
            if len(self.raw) == length:
                return
            assert time.monotonic() < end, "the output never stopped"

    def press(self, key):
        os.write(self.master, key)

    def finish(self):
        """Waits for the script to end; its exit status."""
        end = time.monotonic() + TIMEOUT
        while self.process.poll() is None and time.monotonic() < end:
            self.pump(0.05)
        if self.process.poll() is None:
            pytest.fail(f"the script did not end:\n{self.text()}")
        self.pump(0.05)
        return self.process.returncode

    def close(self):
        if self.process.poll() is None:  # a failed test must not leave a script running
            self.process.kill()
            self.process.wait()
        os.close(self.master)
        os.close(self.slave)

    def assert_restored(self):
        assert termios.tcgetattr(self.slave) == self.settings
        assert self.raw.rfind(LEAVE_ALT) > self.raw.rfind(ENTER_ALT) >= 0
        assert self.raw.rfind(SHOW_CURSOR) > self.raw.rfind(HIDE_CURSOR)


@pytest.fixture
def terminals():
    started = []

    def start(script, **kwargs):
        started.append(Terminal(script, **kwargs))
        return started[-1]

    yield start
    for terminal in started:
        terminal.close()


def test_modes_cycle_and_q_quits_and_gives_the_terminal_back(terminals):
    term = terminals("""
        train(TIMEOUT)
        assert logger.should_quit()
        logger.update(steps + 1, 0, 0.0, 0.0)
        logger.close()
        logger.update(steps + 2, 0, 0.0, 0.0)
        print("after quit: settings", "kept" if termios.tcgetattr(0) == before else "changed")
    """.replace("TIMEOUT", str(TIMEOUT)))
    term.wait_for_text(MINIMAL)
    for key, view in [(b"m", DASHBOARD), (b"m", CHART), (b"m", MINIMAL)]:
        term.press(key)
        term.wait_for_text(view)
    term.press(b"q")
    assert term.finish() == 0
    term.assert_restored()
    assert "after quit: settings kept" in term.text()


def test_pause_freezes_the_display_and_resumes_it(terminals):
    term = terminals("train(TIMEOUT)\n".replace("TIMEOUT", str(TIMEOUT)))
    term.wait_for_text(MINIMAL)
    term.press(b"p")
    term.wait_for_quiet(0.3)  # frames may be drawn until the key has been read
    frozen, length = term.text(), len(term.raw)
    term.pump(0.5)  # ten frame intervals while the steps keep growing
    assert len(term.raw) == length and term.text() == frozen
    term.press(b"\x10")  # Control-p acts as p
    term.wait_for(lambda: term.text() != frozen, "new frame after resuming")
    term.press(b"q")
    assert term.finish() == 0
    term.assert_restored()


@pytest.mark.parametrize("how, status, last_words", [
    ("train(0.5)\nlogger.close()\nprint('closed')\n", 0, b"closed"),
    # Never closed: the interpreter ends with the logger still open. (Python 3.13 colours
    # the exception name in a terminal, so only the message is looked for.)
    ("train(0.5)\nraise RuntimeError('training diverged')\n", 1, b"training diverged"),
    ("train(0.5)\n", 0, None),
], ids=["close", "exception", "exit"])
def test_every_way_out_gives_the_terminal_back(terminals, how, status, last_words):
    term = terminals(how)
    term.wait_for_text(MINIMAL)
    assert term.finish() == status
    term.assert_restored()
    if last_words:  # what the script prints at its end reaches the main screen, readable
        assert term.raw.rfind(last_words) > term.raw.rfind(LEAVE_ALT)


def test_a_resized_terminal_gets_a_frame_of_the_new_size(terminals):
    term = terminals("train(TIMEOUT)\n".replace("TIMEOUT", str(TIMEOUT)), mode="dashboard")
    term.wait_for_text(DASHBOARD)
    term.resize(200, 50)  # larger: no stale frame reaches the last row or column
    term.wait_for(lambda: DASHBOARD in term.text() and term.screen.display[49].strip()
                  and max(len(row.rstrip()) for row in term.screen.display) == 200,
                  "frame of 200 by 50")
    term.press(b"q")
    assert term.finish() == 0
    term.assert_restored()


@pytest.mark.parametrize("where", ["file", "no controlling terminal"])
def test_without_a_terminal_one_error_line_and_nothing_touched(terminals, tmp_path, where):
    out = tmp_path / "out.txt"
    with open(out, "wb") as stdout:
        term = terminals(f"""
            logger.update(1, 0, 0.0, 0.0)
            time.sleep(0.3)
            logger.close()
            print("logged", file=sys.stderr)
        """, controlling=where != "no controlling terminal",
            stdout=stdout if where == "file" else None)
        assert term.finish() == 0
    assert termios.tcgetattr(term.slave) == term.settings
    lines = term.raw.decode().splitlines()
    assert len([line for line in lines if line.startswith("TUI error: ")]) == 1, lines
    assert lines[-1] == "logged"
    assert b"\x1b" not in term.raw and b"\x1b" not in out.read_bytes()
