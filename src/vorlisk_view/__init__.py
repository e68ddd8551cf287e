"""vorlisk-view: the monitor's dashboard and chart views of a CSV file that a TUILogger
writes, followed as it grows (as `tail -f` does) or read whole when finished.

    vorlisk-view run.csv [--mode dashboard|chart|minimal] [--history-len N]

The training figures and the user's own metrics (the columns after the built-in ones)
come from the file; CPU, RAM and GPU are this machine's, sampled as the monitor does.
Keys as in the monitor: q quits, p pauses drawing, m switches views.
"""

from __future__ import annotations

import argparse
import os
import sys
import time
from typing import IO, Optional, Sequence

import vorlisk

# The built-in columns in their order, and those that update() takes by the same name
# (the device columns are this machine's own in the viewer).
BUILT_IN = ("timestamp", "steps", "episodes", "mean_reward", "sps", "policy_loss",
            "value_loss", "entropy", "cpu_usage", "gpu_usage", "memory_mb", "gpu_memory_mb")
TRAINING = BUILT_IN[1:8]
POLL_SECONDS = 0.2


class Follower:
    """Whole lines of a file as it grows; starts over when the file is replaced or cut."""

    def __init__(self, path: str):
        self.path = path
        self.file: Optional[IO[bytes]] = None
        self.partial = b""

    def lines(self) -> list[str]:
        if self.file is None or self._replaced():
            self._open()
        if self.file is None:
            return []
        chunk = self.file.read(1 << 20)  # a long finished file arrives in parts
        if not chunk:
            return []
        data = self.partial + chunk
        *whole, self.partial = data.split(b"\n")  # a row still being written waits
        return [line.decode("utf-8", "replace").rstrip("\r") for line in whole]

    def _replaced(self) -> bool:
        try:
            now = os.stat(self.path)
        except FileNotFoundError:
            return False
        mine = os.fstat(self.file.fileno())  # type: ignore[union-attr]
        moved = (now.st_ino, now.st_dev) != (mine.st_ino, mine.st_dev)
        return moved or now.st_size < self.file.tell()  # type: ignore[union-attr]

    def _open(self) -> None:
        if self.file is not None:
            self.file.close()
        self.file, self.partial = None, b""
        try:
            self.file = open(self.path, "rb")
        except FileNotFoundError:
            pass


class Feed:
    """Rows of the file as update() calls on a logger made for its header."""

    def __init__(self, args: argparse.Namespace):
        self.args = args
        self.logger: Optional[vorlisk.TUILogger] = None
        self.columns: list[str] = []

    def line(self, line: str) -> None:
        fields = line.split(",")
        if fields[:len(BUILT_IN)] == list(BUILT_IN):
            self._start(fields)
        elif self.logger is not None and len(fields) == len(self.columns):
            try:
                values = dict(zip(self.columns, map(float, fields)))
            except ValueError:
                return  # not a row of this file's format
            self.logger.update(**{k: int(values[k]) if k in ("steps", "episodes") else values[k]
                                  for k in TRAINING},
                               **{k: values[k] for k in self.columns[len(BUILT_IN):]})

    def _start(self, header: list[str]) -> None:
        """A header: the file began (again); a fresh logger shows its columns."""
        if self.logger is not None:
            self.logger.close()
        self.columns = header
        self.logger = vorlisk.TUILogger(mode=self.args.mode, history_len=self.args.history_len,
                                        update_interval_steps=1,
                                        metrics=tuple(header[len(BUILT_IN):]))

    def done(self) -> bool:
        return self.logger is not None and self.logger.should_quit()


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="vorlisk-view", description=__doc__.split("\n\n")[0])
    parser.add_argument("csv", help="a CSV file written by TUILogger(csv_path=...)")
    parser.add_argument("--mode", default="dashboard", choices=["dashboard", "chart", "minimal"])
    parser.add_argument("--history-len", type=int, default=100)
    args = parser.parse_args(argv)
    if not os.path.exists(args.csv):
        print(f"vorlisk-view: waiting for {args.csv} to appear", file=sys.stderr)
    follower, feed = Follower(args.csv), Feed(args)
    try:
        while not feed.done():
            lines = follower.lines()
            for line in lines:
                feed.line(line)
            if not lines:
                time.sleep(POLL_SECONDS)
    except KeyboardInterrupt:
        pass
    finally:
        if feed.logger is not None:
            feed.logger.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
