"""The terminal display end to end: a training script in a pseudo-terminal, keys
typed into it, the screen read back with pyte, and the terminal settings compared
before and after."""
import fcntl
import os
import select
import signal
import struct
import subprocess
import sys
import termios
import textwrap
import time

import pytest

pyte = pytest.importorskip("pyte")

ENTER_ALT, LEAVE_ALT = b"\x1b[?1049h", b"\x1b[?1049l"
MINIMAL, DASHBOARD, CHART = "[q]uit [p]ause [m]ode", "[m] Toggle Mode", "[m] Switch Mode"
TIMEOUT = 20.0  # seconds; no wait below goes beyond it

# Makes the pty the script's controlling terminal, then feeds the logger until the
# quit key. Steps grow all the time, so every frame differs.
TRAINING = """
import fcntl, os, signal, sys, termios, time, vorlisk
if CONTROLLING_TERMINAL:
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)
if JOB_CONTROL:  # as a shell runs a job: in a process group of its own, in the foreground
    job = os.fork()
    if job:
        signal.signal(signal.SIGTTOU, signal.SIG_IGN)
        signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGUSR1])
        os.setpgid(job, job)
        os.tcsetpgrp(0, job)
        print(job, flush=True, file=os.fdopen(JOB_CONTROL, "w"))
        while True:
            _, status = os.waitpid(job, os.WUNTRACED)
            if not os.WIFSTOPPED(status):
                os._exit(os.waitstatus_to_exitcode(status))
            os.tcsetpgrp(0, os.getpgrp())  # stopped: the shell takes the terminal back,
            signal.sigwait([signal.SIGUSR1])  # until told to run `fg`
            os.tcsetpgrp(0, job)
            os.kill(job, signal.SIGCONT)
    os.setpgid(0, 0)
exec(BEFORE)
FILES = [os.fstat(fd)[1:3] for fd in (1, 2)]  # what standard output and error are
logger = vorlisk.TUILogger(render_interval_ms=50, update_interval_steps=1, **LOGGER_ARGS)
steps = saves = 0
def train(seconds=20.0):
    global steps, saves
    end = time.monotonic() + seconds
    while time.monotonic() < end and not logger.should_quit():
        steps += 1000
        logger.update(steps, steps // 100, 1.5, 1e5)
        saves += logger.should_save()
        time.sleep(0.005)
def displayed():
    while os.isatty(1):  # until the display has taken the output
        time.sleep(0.01)
"""


class Terminal:
    """A script running on a pseudo-terminal of the given size."""

    def __init__(self, script, controlling=True, stdout=None, stderr=None, logger_args="", env=None,
                 job_control=False, before=""):
        self.master, self.slave = os.openpty()
        fcntl.ioctl(self.master, termios.TIOCSWINSZ, struct.pack("HHHH", 40, 160, 0, 0))
        self.screen = pyte.Screen(160, 40)
        self.stream = pyte.ByteStream(self.screen)
        self.settings = termios.tcgetattr(self.slave)
        job_pipe = os.pipe() if job_control else None  # the job's process id comes through it
        code = (f"CONTROLLING_TERMINAL = {controlling}\nJOB_CONTROL = {job_pipe and job_pipe[1]}\n"
                f"LOGGER_ARGS = dict({logger_args})\nBEFORE = {before!r}\n" + TRAINING + textwrap.dedent(script))
        self.process = subprocess.Popen([sys.executable, "-c", code], stdin=self.slave, stderr=stderr or self.slave,
                                        stdout=stdout or self.slave, start_new_session=True,
                                        pass_fds=[job_pipe[1]] if job_pipe else [],
                                        env=env or {**os.environ, "TERM": "xterm-256color"})
        if job_pipe:
            os.close(job_pipe[1])
            with os.fdopen(job_pipe[0]) as job:
                self.job = int(job.readline())
        self.raw = b""

    def pump(self, seconds):
        end = time.monotonic() + seconds
        while (left := end - time.monotonic()) > 0 and select.select([self.master], [], [], left)[0]:
            try:
                data = os.read(self.master, 65536)
            except OSError:  # the script has ended and closed its side
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

    def press(self, key, then=None):
        os.write(self.master, key)
        if then:
            self.wait_for(lambda: then in self.text(), repr(then))

    def quiet(self, seconds):
        """Waits until nothing has arrived for `seconds`."""
        end, length = time.monotonic() + TIMEOUT, -1
        while length != len(self.raw):
            assert time.monotonic() < end, "the output never stopped"
            length = len(self.raw)
            self.pump(seconds)

    def finish(self, status=0, displayed=True):
        """Waits for the script to end with `status`; checks the terminal was given back."""
        end = time.monotonic() + TIMEOUT
        while self.process.poll() is None and time.monotonic() < end:
            self.pump(0.05)
        assert self.process.poll() == status, self.text()
        self.pump(0.05)
        assert termios.tcgetattr(self.slave) == self.settings
        if displayed:
            assert self.raw.rfind(LEAVE_ALT) > self.raw.rfind(ENTER_ALT) >= 0

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        if self.process.poll() is None:  # a failed test must not leave a script running
            self.process.kill()
            self.process.wait()
        os.close(self.master)
        os.close(self.slave)


def test_keys_cycle_pause_and_quit_and_the_terminal_is_given_back():
    with Terminal("""
        train()
        assert logger.should_quit()
        assert saves + logger.should_save() == 1 and not logger.should_save()  # once per press
        logger.close()
    """) as term:
        term.wait_for(lambda: MINIMAL in term.text(), MINIMAL)
        for view in [DASHBOARD, CHART, MINIMAL]:
            term.press(b"m", then=view)
        term.press(b"s")
        term.press(b"p", then="PAUSED")
        term.quiet(0.3)  # frames may come until the key has been read
        length = len(term.raw)
        term.press(b"m")
        term.pump(0.5)  # ten frame intervals while the steps keep growing
        assert len(term.raw) == length
        term.press(b"\x10", then=DASHBOARD)  # Control-p acts as p; the new mode shows
        term.press(b"q")
        term.finish()


SUBINTERPRETER_LOGGER = ("import _testcapi\n"
                         "_testcapi.run_in_subinterp('import vorlisk; vorlisk.TUILogger(display=False).close()')")


@pytest.mark.parametrize("how, status, last_words, before", [
    ("train(0.5)\nlogger.close()\nprint('closed')\n", 0, b"closed", ""),
    # Never closed: the interpreter ends with the logger still open. (Python 3.13 colours
    # the exception name in a terminal, so only the message is looked for.)
    ("train(0.5)\nraise RuntimeError('training diverged')\n", 1, b"training diverged", ""),
    # A hook that others put in front of the logger's, and a main interpreter that never
    # got the logger's hook because the first logger was made in a subinterpreter.
    ("sys.excepthook = lambda *exc: sys.__excepthook__(*exc)\ntrain(0.5)\nraise RuntimeError('diverged')\n",
     1, b"diverged", ""),
    ("train(0.5)\nraise RuntimeError('diverged')\n", 1, b"diverged", SUBINTERPRETER_LOGGER),
    ("train(0.5)\ndisplayed()\nprint('printed', end='')\n", 0, b"printed", ""),
    # A logger the interpreter never frees is closed when the process exits.
    ("train(0.5)\ndisplayed()\nprint('printed')\nimport ctypes\n"
     "ctypes.pythonapi.Py_IncRef(ctypes.py_object(logger))\n", 0, b"printed", ""),
    # Several loggers open at once: a sweep makes each run's before the last one goes.
    ("for run in range(3):\n    logger = vorlisk.TUILogger(render_interval_ms=50)\n    train(0.3)\nprint('swept')\n",
     0, b"swept", ""),
    ("other = vorlisk.TUILogger(render_interval_ms=50)\ntrain(0.3)\nraise RuntimeError('diverged')\n",
     1, b"diverged", ""),
], ids=["close", "exception", "replaced excepthook", "subinterpreter", "exit", "never freed", "sweep",
        "two open at an exception"])
def test_every_way_out_gives_the_terminal_back(how, status, last_words, before):
    with Terminal(how, before=before) as term:
        term.wait_for(lambda: MINIMAL in term.text(), MINIMAL)
        term.finish(status)
    # What the script prints at its end reaches the main screen, readable, and no frame
    # is drawn there.
    after = term.raw[term.raw.rfind(LEAVE_ALT):]
    assert last_words in after and MINIMAL.encode() not in after


def test_a_later_logger_is_shown_in_front_and_the_earlier_one_comes_back_after_it():
    with Terminal("""
        later = vorlisk.TUILogger(render_interval_ms=50, mode="dashboard")
        while not later.should_quit():
            later.update(1, 0, 0.0, 0.0)
            time.sleep(0.01)
        train()  # the first logger again, until q
        later.close()
        logger.close()
    """) as term:
        term.wait_for(lambda: DASHBOARD in term.text(), DASHBOARD)
        term.press(b"q", then=MINIMAL)
        term.press(b"q")
        term.finish()
    assert term.raw.count(ENTER_ALT) == 1 and b"TUI error" not in term.raw


@pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT], ids=lambda s: s.name)
def test_a_signal_that_ends_the_process_gives_the_terminal_back_first(sig):
    with Terminal("train()") as term:
        term.wait_for(lambda: MINIMAL in term.text(), MINIMAL)
        term.process.send_signal(sig)
        term.finish(-sig)


def wait_until(condition, what):
    end = time.monotonic() + TIMEOUT
    while not condition():
        assert time.monotonic() < end, f"no {what}"
        time.sleep(0.02)


def test_a_stopped_job_gives_the_terminal_back_and_takes_it_again_with_a_whole_frame_when_continued():
    with Terminal("train()", job_control=True) as term:
        term.wait_for(lambda: MINIMAL in term.text(), MINIMAL)
        os.kill(term.job, signal.SIGTSTP)  # as kill -TSTP does; Control-Z is a plain key in raw mode
        wait_until(lambda: open(f"/proc/{term.job}/stat").read().rsplit(")", 1)[1].split()[0] == "T", "stop")
        term.pump(0.1)
        assert termios.tcgetattr(term.slave) == term.settings
        assert term.raw.rfind(LEAVE_ALT) > term.raw.rfind(ENTER_ALT)
        term.screen.reset()  # what the shell drew meanwhile; only a whole frame covers it
        os.kill(term.process.pid, signal.SIGUSR1)  # fg
        term.wait_for(lambda: MINIMAL in term.text(), "a whole frame")
        term.press(b"q")  # no Enter needed: raw mode again
        term.finish()


def test_close_returns_and_gives_the_settings_back_while_the_terminal_takes_nothing(tmp_path):
    go, closed = tmp_path / "go", tmp_path / "closed"
    with Terminal(f"""
        displayed()
        while not os.path.exists({str(go)!r}):  # until nothing reads the terminal
            time.sleep(0.01)
        tty, refused = os.open("/dev/tty", os.O_WRONLY | os.O_NONBLOCK), 0
        while refused < 10:  # full, and staying full
            try:
                os.write(tty, b"x" * 1024)
                refused = 0
            except BlockingIOError:
                refused += 1
                time.sleep(0.05)
        train(0.5)  # a frame now waits for room that does not come
        logger.close()
        open({str(closed)!r}, "w").close()
        while not os.isatty(1):  # the display's thread ends once the terminal is read again
            time.sleep(0.01)
    """) as term:
        term.wait_for(lambda: MINIMAL in term.text(), MINIMAL)
        go.touch()
        wait_until(closed.exists, "return from close()")
        assert termios.tcgetattr(term.slave) == term.settings
        term.finish()


def test_a_moved_standard_output_stays_where_it_was_put_and_the_terminal_is_given_back(tmp_path):
    path = tmp_path / "out.txt"
    with Terminal(f"""
        displayed()
        os.dup2(os.open({str(path)!r}, os.O_WRONLY | os.O_CREAT), 1)
        train(0.5)
        logger.close()
        print("after close", flush=True)
    """) as term:
        term.wait_for(lambda: MINIMAL in term.text(), MINIMAL)
        term.finish()
    assert path.read_bytes() == b"after close\n"


# What the script writes while the display is on (print, logging, a thread's traceback,
# a write to the descriptor), as it comes out afterwards.
PRINTED = ["printed 0", "WARNING logged 0", "printed 1", "WARNING logged 1", "printed 2", "WARNING logged 2",
           "ZeroDivisionError: division by zero", "written to descriptor 1", "closed"]


def test_printed_lines_show_in_the_pane_and_after_close_on_the_terminal_in_order():
    with Terminal("""
        import logging, threading
        logging.basicConfig(format="%(levelname)s %(message)s")
        displayed()
        for i in range(3):
            print(f"printed {i}")
            logging.warning("logged %d", i)
        thread = threading.Thread(target=lambda: 1 / 0)
        thread.start(), thread.join()
        os.write(1, b"written to descriptor 1\\n")
        train()
        logger.close()
        print("closed")
    """, logger_args="mode='dashboard'") as term:
        term.wait_for(lambda: "written to descriptor 1" in term.text(), "the pane")
        assert term.screen.display[-5].startswith("│written to descriptor 1 ")  # the pane's last line
        assert term.screen.display[0].startswith("┌ Progress")  # nothing written over the panels
        term.press(b"q")
        term.finish()
    after = term.raw[term.raw.rfind(LEAVE_ALT):].decode().splitlines()
    assert [p for line in after for p in PRINTED if line.endswith(p)] == PRINTED


def test_output_beyond_what_is_kept_is_counted(tmp_path):
    with open(tmp_path / "err.txt", "wb") as stderr, Terminal("""
        displayed()
        for i in range(30000):
            print(f"line {i:05d} " + 38 * "x", file=sys.stderr)  # 50 bytes
        logger.close()
    """, stderr=stderr) as term:
        term.finish()
    lines = (tmp_path / "err.txt").read_text().splitlines()  # the newest whole lines, and the count
    kept = int(lines[0][5:10])
    assert lines == [f"line {i:05d} " + 38 * "x" for i in range(kept, 30000)] + [
        f"vorlisk: {kept * 50} bytes of output were dropped (the oldest; the display keeps the newest 1048576 bytes)"]


NO_TERMINAL = "TUI error: standard output is not a terminal, so nothing is drawn; metrics and the CSV file go on"


@pytest.mark.parametrize("where, errors", [
    ("file", [NO_TERMINAL]),
    ("no controlling terminal", ["TUI error: no controlling terminal: No such device or address"]),
    ("display=False", []),
    ("TERM=dumb", ["TUI error: TERM says the terminal cannot draw (dumb or unset), so nothing is drawn; "
                   "metrics and the CSV file go on"]),
])
def test_without_a_display_nothing_is_redirected_and_at_most_one_line_says_why(tmp_path, where, errors):
    with open(tmp_path / "out.txt", "wb") as stdout, Terminal("""
            logger.update(1, 0, 0.0, 0.0)
            time.sleep(0.3)
            assert [os.fstat(fd)[1:3] for fd in (1, 2)] == FILES
            logger.close()
            print("logged", file=sys.stderr)
        """, controlling=where != "no controlling terminal", stdout=stdout if where == "file" else None,
            logger_args="display=False" if where == "display=False" else "",
            env={**os.environ, "TERM": "dumb"} if where == "TERM=dumb" else None) as term:
        term.finish(displayed=False)
    lines = term.raw.decode().splitlines()
    assert [line for line in lines if line.startswith("TUI error: ")] == errors, lines
    assert lines[-1] == "logged"
    assert b"\x1b" not in term.raw and b"\x1b" not in (tmp_path / "out.txt").read_bytes()


def test_the_viewer_shows_a_csv_file_with_the_loops_own_metrics(tmp_path):
    path = tmp_path / "run.csv"
    # Written by a logger without a terminal, then read back by the viewer in one.
    subprocess.run([sys.executable, "-c", textwrap.dedent(f"""
        import vorlisk
        logger = vorlisk.TUILogger(csv_path={str(path)!r}, update_interval_steps=1,
                                   metrics=("kl", "clip_frac"))
        for i in range(1, 30):
            logger.update(1000 * i, i, 10.0 * i, 1e5, kl=0.25, clip_frac=0.125)
        logger.close()
    """)], check=True, capture_output=True)
    with Terminal(f"logger.close()\nimport vorlisk_view\nsys.exit(vorlisk_view.main([{str(path)!r}]))") as term:
        term.wait_for(lambda: "0.2500 " in term.text() and "clip_frac" in term.text(),
                      "the file's own metrics")
        assert "Steps: 29,000" in term.text() and "Reward: 290.00" in term.text()
        term.press(b"q")
        term.finish()
