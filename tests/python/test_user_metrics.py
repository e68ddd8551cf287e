"""The training loop's own metrics from Python: named at construction, given to
update by keyword, written to the CSV file after the built-in columns."""
import itertools
import math

import pytest

from vorlisk import TUILogger

pytestmark = pytest.mark.sanitize


def user_columns(path):
    """Each line's fields after the twelve built-in ones, the header's included."""
    return [line.split(",")[12:] for line in path.read_text().splitlines()]


@pytest.mark.parametrize("metrics, error, text", [
    ("kl", TypeError, "expected an iterable of str, not 'str'"),
    (3, TypeError, "not 'int'"),
    (["kl", 1], TypeError, "'metrics'"),
    ([""], ValueError, "must not be empty"),
    (["kl", "lr", "kl"], ValueError, "'kl' is given twice"),
    ([f"m{i}" for i in range(17)], ValueError, "at most 16 names"),
    (map(str, itertools.count()), ValueError, "at most 16 names"),  # endless
    (["x" * 33], ValueError, "longer than 32 characters"),
    *[([name], ValueError, "printable ASCII without spaces, commas or quotes")
      for name in ["a,b", 'say"', "it's", "two words", "tab\t", "é"]],
    *[([name], ValueError, f"'{name}' is taken by a built-in metric")
      for name in ["timestamp", "steps", "cpu_usage", "gpu_memory", "gpu_memory_mb"]],
])
def test_names_that_cannot_be_metrics_are_refused_before_the_file_is_made(tmp_path, metrics, error, text):
    with pytest.raises(error, match=text):
        TUILogger(csv_path=str(tmp_path / "m.csv"), metrics=metrics)
    assert not (tmp_path / "m.csv").exists()


def test_metrics_given_by_keyword_keep_their_value_until_given_again(tmp_path):
    path = tmp_path / "m.csv"
    with TUILogger(csv_path=str(path), metrics=iter(["kl", "clip_frac", "loss/critic"])) as logger:
        logger.update(1, 0, 0.0, 0.0, kl=0.0125)
        # An int, a None (not given) and a name that can only be given through **.
        logger.update(2, 0, 0.0, 0.0, clip_frac=1, kl=None, **{"loss/critic": -2.5})
        logger.update(3, 0, 0.0, 0.0, **{"k" + "l": math.inf})  # a name made at run time
    assert user_columns(path) == [["kl", "clip_frac", "loss/critic"], ["0.012500", "NaN", "NaN"],
                                  ["0.012500", "1.000000", "-2.500000"], ["inf", "1.000000", "-2.500000"]]


@pytest.mark.parametrize("kwargs, error, text", [
    ({"kx": 1.0}, TypeError, "unexpected keyword argument 'kx'"),
    ({"kl": "high"}, TypeError, "argument 'kl'"),
    ({"kl": 1.0, "entropy": "high"}, TypeError, "argument 'entropy'"),
    ({"kl": 1.0, "steps": 2}, TypeError, "multiple values for argument 'steps'"),
])
def test_a_bad_update_stores_none_of_its_metrics(tmp_path, kwargs, error, text):
    path = tmp_path / "m.csv"
    with TUILogger(csv_path=str(path), metrics=["kl"]) as logger:
        with pytest.raises(error, match=text):
            logger.update(1, 0, 0.0, 0.0, **kwargs)
        logger.update(2, 0, 0.0, 0.0)
    assert user_columns(path) == [["kl"], ["NaN"]]


def test_each_value_lands_in_its_column_whatever_the_call_site(tmp_path):
    # A ** call makes a fresh tuple of names each time, which may take the address of
    # the one just freed; a literal call site passes the same tuple every time.
    calls = [{"a": 1}, {"b": 2}, {"a": 3, "b": 4}, {"b": 5, "a": 6}, {"b": 7}] * 2
    path = tmp_path / "m.csv"
    with TUILogger(csv_path=str(path), metrics=["a", "b"]) as logger:
        for i, kwargs in enumerate(calls):
            logger.update(i, 0, 0.0, 0.0, **kwargs)
        for i in range(3):
            logger.update(i, 0, 0.0, 0.0, b=-i)
            logger.update(i, 0, 0.0, 0.0, a=i)
    expected, last = [], {"a": math.nan, "b": math.nan}
    for kwargs in calls + [{"b": -i} if k == 0 else {"a": i} for i in range(3) for k in (0, 1)]:
        last.update(kwargs)
        expected.append([f"{last['a']:.6f}".replace("nan", "NaN"), f"{last['b']:.6f}".replace("nan", "NaN")])
    assert user_columns(path) == [["a", "b"]] + expected
