#!/usr/bin/env bash
# Installs what the tests need, builds, and runs the C++ and Python suites.
# Usage: scripts/test.sh [--sanitize]   (--sanitize: C++ suite under ASan + UBSan too)
# Ends with one line for both suites: "N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/counts.sh

if [ ! -f /usr/include/gtest/gtest.h ]; then
  echo "GoogleTest is missing; installing libgtest-dev" >&2
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq libgtest-dev >/dev/null
fi

# Into whichever python3 comes first on PATH: say which, since outside a virtual
# environment that is the system's own.
echo "Installing vorlisk and the test dependencies into $(python3 -c 'import sys; print(sys.prefix)')" >&2
python3 -m pip install -q --disable-pip-version-check cmake ninja
# Our own builds treat warnings as errors; a plain `pip install` does not.
python3 -m pip install -q --disable-pip-version-check --config-settings=cmake.define.VORLISK_WERROR=ON ".[test]"

mkdir -p build/logs
cmake -S . -B build/tests -G Ninja -DVORLISK_BUILD_MODULE=OFF -DVORLISK_BUILD_TESTS=ON \
  -DVORLISK_WERROR=ON >/dev/null
cmake --build build/tests -j2
ctest --test-dir build/tests --output-on-failure 2>&1 | tee build/logs/ctest.log || true
count_ctest build/logs/ctest.log

if [ "${1:-}" = "--sanitize" ]; then
  cmake -S . -B build/sanitize -G Ninja -DVORLISK_BUILD_MODULE=OFF -DVORLISK_BUILD_TESTS=ON \
    -DVORLISK_SANITIZE=ON -DVORLISK_WERROR=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build build/sanitize -j2
  # The exhaustive libm comparison already ran above; instrumented it would take hours.
  ctest --test-dir build/sanitize --output-on-failure -LE exhaustive 2>&1 | tee build/logs/ctest-sanitize.log || true
  count_ctest build/logs/ctest-sanitize.log
fi

export VORLISK_FAKE_NVML_DIR="$PWD/build/tests/tests/cpp/fake_nvml"
python3 -m pytest tests/python -q 2>&1 | tee build/logs/pytest.log || true
count_pytest build/logs/pytest.log

echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
