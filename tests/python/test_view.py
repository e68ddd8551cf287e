"""vorlisk-view: following a CSV file as another process writes it."""

import os

from vorlisk_view import Follower


def test_the_follower_gives_whole_lines_and_starts_over_on_a_new_file(tmp_path):
    path = tmp_path / "run.csv"
    follow = Follower(str(path))
    assert follow.lines() == []  # not there yet
    with open(path, "wb") as f:
        f.write(b"a,b\n1,2\n3,")
        f.flush()
        assert follow.lines() == ["a,b", "1,2"]  # the row being written waits
        f.write(b"4\r\n")
        f.flush()
        assert follow.lines() == ["3,4"] and follow.lines() == []
    os.rename(path, tmp_path / "old.csv")  # a new run replaces the file
    path.write_bytes(b"a,b\n5,6\n")
    assert follow.lines() == ["a,b", "5,6"]
    path.write_bytes(b"a,b\n")  # cut back in place
    assert follow.lines() == ["a,b"]
