"""Faults found with hostile arguments: raising conversions, objects too large for the
machine."""
import os
import subprocess
import sys
import textwrap

import pytest
from conftest import ENV_CLASSES, each_env
from fuzz_targets import Raises

import vorlisk

pytestmark = pytest.mark.sanitize  # also run against the ASan build in CI


RAISED = [KeyboardInterrupt(), MemoryError("from __index__"), ZeroDivisionError("boom")]
# Each call, named by the argument it converts.
CALLS = {
    "num_envs": lambda bad: ENV_CLASSES[0](bad),
    "workers": lambda bad: ENV_CLASSES[0](4, bad),
    "seed": lambda bad: ENV_CLASSES[0](4).reset(bad),
    "history_len": lambda bad: vorlisk.TUILogger(history_len=bad),
    "monitor_interval_ms": lambda bad: vorlisk.TUILogger(monitor_interval_ms=bad),
    "steps": lambda bad: vorlisk.TUILogger(update_interval_steps=0).update(bad, 0, 0.0, 0.0),
    "mean_reward": lambda bad: vorlisk.TUILogger(update_interval_steps=0).update(1, 0, bad, 0.0),
    "entropy": lambda bad: vorlisk.TUILogger(update_interval_steps=0).update(1, 0, 0.0, 0.0,
                                                                              entropy=bad),
}


@pytest.mark.parametrize("error", RAISED, ids=lambda e: type(e).__name__)
@pytest.mark.parametrize("call", CALLS)
def test_an_error_raised_by_a_conversion_comes_out_unchanged(call, error):
    with pytest.raises(type(error)) as info:
        CALLS[call](Raises(error))
    assert info.value is error


# AddressSanitizer reserves terabytes of shadow memory at start-up, which no capped
# address space allows.
under_asan = pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                                reason="cannot cap the address space under ASan")


def memory_error_text(call, address_space):
    """What the MemoryError says that `vorlisk.<call>` raises in a child whose address
    space is capped."""
    code = f"""
        import resource
        resource.setrlimit(resource.RLIMIT_AS, ({address_space}, {address_space}))
        import vorlisk
        try:
            vorlisk.{call}
        except MemoryError as e:
            print(e)
    """
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                            text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    return result.stdout


@under_asan
@each_env
@pytest.mark.parametrize(
    "lanes, cap, limit",
    [
        (2**40, 8 << 30, "physical memory"),  # one array alone would exceed the machine
        (2**31, 1 << 60, "physical memory"),  # each array fits; all of them do not
        (2**26, 1 << 30, "address-space limit"),
    ],
)
def test_lanes_beyond_memory_raise_memory_error_before_allocating(cls, lanes, cap, limit):
    out = memory_error_text(f"{cls.__name__}({lanes})", cap)
    assert "bytes" in out and f"{lanes} lanes" in out and limit in out, out


@under_asan
def test_a_history_beyond_memory_raises_a_memory_error_that_says_so():
    out = memory_error_text("TUILogger(history_len=2**40)", 8 << 30)
    assert f"{2**40} history points" in out, out
