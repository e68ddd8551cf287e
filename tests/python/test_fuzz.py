"""Runs the fuzzers of fuzz_targets.py, each in a child with a capped address space so
that a fault cannot take the machine down. VORLISK_FUZZ_SECONDS sets each target's
time (12 s by default; 450 gives a 30-minute run)."""
import os
import pathlib
import resource
import subprocess
import sys

import pytest

pytest.importorskip("hypothesis")
# AddressSanitizer reserves terabytes of shadow memory, which no capped address space
# allows; the fuzzers run on the plain build.
pytestmark = pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                                reason="cannot cap the address space under ASan")

SECONDS = float(os.environ.get("VORLISK_FUZZ_SECONDS", "12"))
ADDRESS_SPACE = 3 << 30
SCRIPT = pathlib.Path(__file__).with_name("fuzz_targets.py")


def cap_address_space():
    resource.setrlimit(resource.RLIMIT_AS, (ADDRESS_SPACE, ADDRESS_SPACE))


@pytest.mark.parametrize("target", ["constructors", "env_calls", "logger_constructor",
                                    "logger_calls"])
def test_fuzz(target, tmp_path):
    result = subprocess.run(
        [sys.executable, str(SCRIPT), target, str(SECONDS)],
        cwd=tmp_path,  # csv paths that the fuzzer draws land here
        env={**os.environ, "OPENBLAS_NUM_THREADS": "1"},
        preexec_fn=cap_address_space,
        capture_output=True,
        text=True,
        timeout=SECONDS + 300,
    )
    assert result.returncode == 0, result.stdout + result.stderr[-5000:]
    print(result.stdout.strip())
