"""Property-based fuzzers for every public call; run by test_fuzz.py, each target in a
child process whose address space is capped.

    python fuzz_targets.py TARGET SECONDS

runs TARGET's properties again and again for SECONDS and prints the number of cases.
Properties: only TypeError, ValueError, OverflowError or MemoryError come out; a
rejected call changes nothing (a twin object stepped the same valid way stays equal);
the object still works afterwards.
"""
import os
import pathlib
import sys
import time

import numpy as np
from conftest import ENV_CLASSES, valid_actions
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import vorlisk

ALLOWED = (TypeError, ValueError, OverflowError, MemoryError)
CASES = 0


class Raises:
    """An argument whose conversions raise one of the allowed errors."""

    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error

    def __float__(self):
        raise self.error

    def __fspath__(self):
        raise self.error


INTS = st.one_of(
    st.sampled_from([0, 1, 7, 8, 9, -1, -(2**63), 2**31, 2**32, 2**63 - 1, 2**63, 2**64 - 1,
                     2**64, 2**200, -(2**200)]),
    st.integers(),
    st.integers(min_value=0, max_value=64),
)
FLOATS = st.one_of(st.floats(allow_nan=True, allow_infinity=True),
                   st.sampled_from([float("nan"), float("inf"), -float("inf"), 1e308, -0.0]))
OTHERS = st.sampled_from([None, "1", b"1", [1], (1,), {}, object(), 1.5, True, 1j,
                          Raises(TypeError("t")), Raises(ValueError("v")),
                          Raises(OverflowError("o")), Raises(MemoryError("m")),
                          np.int64(3), np.float32(2.0), np.uint64(2**64 - 1)])
SCALARS = st.one_of(INTS, FLOATS, OTHERS)

DTYPES = ["i1", "u1", "<i2", ">i2", "<i4", ">i4", "<u4", "<i8", ">i8", "<u8", "<f2", "<f4",
          ">f4", "<f8", ">f8", "c8", "?", "O", "U3", "S3", "V4", "M8[s]", "m8[s]", "=i4", "=f4"]


@st.composite
def arrays(draw, n):
    """Arrays of every dtype and layout, of the right length or not."""
    length = draw(st.sampled_from([n, n, 0, 1, n + 1, max(n - 1, 0), 2 * n]))
    dtype = np.dtype(draw(st.sampled_from(DTYPES)))
    values = draw(st.sampled_from([0, 1, 2, 3, -1, 2**31 - 1, 0.5, -2.5, 1e30]))
    layout = draw(st.sampled_from(["plain", "0d", "2d", "column", "strided", "reversed",
                                   "readonly", "misaligned", "list"]))
    base = np.zeros(max(length, 1) * 2, dtype=dtype)
    if dtype.kind in "iufc":
        with np.errstate(all="ignore"):
            base[:] = np.array(values).astype(dtype)
        if dtype.kind == "f" and draw(st.booleans()):
            base[::3] = draw(st.sampled_from([np.nan, np.inf, -np.inf]))
    a = base[:length]
    if layout == "0d":
        return base[0, ...]
    if layout == "2d":
        return base[: 2 * length].reshape(2, length) if length else base[:0].reshape(0, 0)
    if layout == "column":
        return a.reshape(length, 1)
    if layout == "strided":
        return base[: 2 * length : 2]
    if layout == "reversed":
        return a[::-1]
    if layout == "readonly":
        a = a.copy()
        a.flags.writeable = False
        return a
    if layout == "misaligned" and dtype.itemsize > 1 and dtype.kind != "O":
        raw = np.zeros(length * dtype.itemsize + 1, np.uint8)
        return raw[1:].view(dtype)
    if layout == "list":
        return a.tolist()
    return a


def call(f, *args, **kwargs):
    """(True, result) or (False, error); errors outside ALLOWED fail the run."""
    global CASES
    CASES += 1
    try:
        return True, f(*args, **kwargs)
    except ALLOWED as e:
        return False, e


def same_state(a, b, cls, rng):
    assert repr(a.get_logs()) == repr(b.get_logs())  # NaN totals compare equal too
    actions = valid_actions(cls, a.num_envs, rng)
    for x, y in zip(a.step(actions), b.step(actions.copy())):
        assert np.array_equal(x, y, equal_nan=True)


FUZZ = settings(max_examples=200, deadline=None, database=None,
                suppress_health_check=list(HealthCheck))


@FUZZ
@given(cls=st.sampled_from(ENV_CLASSES), num_envs=SCALARS, workers=SCALARS,
       keyword=st.booleans())
def constructors(cls, num_envs, workers, keyword):
    ok, env = call(cls, num_envs=num_envs, workers=workers) if keyword else call(cls, num_envs, workers)
    if ok and env.num_envs <= 4096:
        env.reset(1)
        env.step(valid_actions(cls, env.num_envs, np.random.default_rng(0)))


@FUZZ
@given(cls=st.sampled_from(ENV_CLASSES), n=st.sampled_from([1, 7, 8, 9, 17, 64]),
       workers=st.sampled_from([None, 0, 1, 2, 3, 100]), data=st.data())
def env_calls(cls, n, workers, data):
    rng = np.random.default_rng(n)
    env, twin = cls(n, workers), cls(n, workers)
    env.reset(5)
    twin.reset(5)
    for _ in range(data.draw(st.integers(1, 4))):
        which = data.draw(st.sampled_from(["reset", "step", "step_kw", "get_logs", "clear_logs",
                                           "extra"]))
        if which == "reset":
            arg = data.draw(SCALARS)
            ok, _ = call(env.reset, arg)
            if ok:
                twin.reset(arg)
        elif which in ("step", "step_kw"):
            arg = data.draw(st.one_of(arrays(n), SCALARS))
            ok, _ = call(env.step, actions=arg) if which == "step_kw" else call(env.step, arg)
            if ok:
                twin.step(arg)
        elif which == "get_logs":
            assert call(env.get_logs)[0]
        elif which == "clear_logs":
            assert call(env.clear_logs)[0]
            twin.clear_logs()
        else:  # wrong argument counts and names
            arg = data.draw(SCALARS)
            call(env.step)
            call(env.reset, 1, arg)
            call(env.step, valid_actions(cls, n, rng), seed=arg)
            call(env.get_logs, arg)
        same_state(env, twin, cls, rng)


LOGGER_ARGS = ["mode", "render_interval_ms", "history_len", "csv_path", "monitor_interval_ms",
               "update_interval_steps"]
PATHS = st.sampled_from(["m.csv", b"m.csv", pathlib.Path("m.csv"), "", "\0", "/dev/null",
                         "no/such/dir/m.csv", 5, None, Raises(ValueError("p"))])
MODES = st.sampled_from(["minimal", "dashboard", "chart", "Chart", "", "\udc80", b"minimal", 1,
                         None])


@FUZZ
@given(data=st.data())
def logger_constructor(data):
    kwargs = {}
    for name in data.draw(st.lists(st.sampled_from(LOGGER_ARGS), unique=True)):
        if name == "mode":
            kwargs[name] = data.draw(MODES)
        elif name == "csv_path":
            kwargs[name] = data.draw(PATHS)
        else:
            kwargs[name] = data.draw(SCALARS)
    ok, logger = call(vorlisk.TUILogger, **kwargs)
    if ok:
        logger.update(1, 1, 0.0, 0.0)
        logger.should_quit()
        logger.close()


UPDATE_NAMES = ["steps", "episodes", "mean_reward", "sps", "policy_loss", "value_loss", "entropy",
                "gpu_usage", "gpu_memory", "total_gpu_memory"]


def valid_logger(path):
    """A logger for the twin test. Setting it up is not under test: a thread that the
    system refuses for the moment (EAGAIN on a loaded machine) is tried again."""
    for attempt in range(50):
        try:
            return vorlisk.TUILogger(csv_path=path, update_interval_steps=0, history_len=4)
        except vorlisk.InternalError as e:
            if "failed to spawn thread" not in str(e) or attempt == 49:
                raise
            print(f"retrying: {e}", file=sys.stderr, flush=True)
            time.sleep(0.1)


@FUZZ
@given(data=st.data())
def logger_calls(data):
    # A rejected update writes no row: the twin, fed only the accepted calls, must
    # end with the same rows.
    paths = [pathlib.Path("fuzz_a.csv"), pathlib.Path("fuzz_b.csv")]
    logger, twin = (valid_logger(p) for p in paths)
    try:
        for _ in range(data.draw(st.integers(1, 4))):
            nargs = data.draw(st.integers(0, 11))
            args = [data.draw(SCALARS) for _ in range(nargs)]
            kwargs = {name: data.draw(SCALARS)
                      for name in data.draw(st.lists(st.sampled_from(UPDATE_NAMES + ["bogus"]),
                                                     unique=True, max_size=3))}
            ok, _ = call(logger.update, *args, **kwargs)
            if ok:
                twin.update(*args, **kwargs)
            call(logger.should_quit, *args[:1])
            call(logger.close, *args[:1])
    finally:
        # A failing example's traceback keeps the objects alive: stop their threads now.
        logger.close()
        twin.close()
    del logger, twin
    # Timestamps and the monitor's own figures differ between the two.
    rows = [[(f[1:8], f[9], f[11]) for f in (r.split(",") for r in p.read_text().splitlines())]
            for p in paths]
    assert rows[0] == rows[1]


TARGETS = {f.__name__: f for f in [constructors, env_calls, logger_constructor, logger_calls]}


def main():
    target, seconds = TARGETS[sys.argv[1]], float(sys.argv[2])
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        target()
    print(f"{sys.argv[1]}: {CASES} calls", flush=True)


if __name__ == "__main__":
    os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
    main()
