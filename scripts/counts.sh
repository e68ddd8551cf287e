# Sourced by scripts/test.sh and scripts/ci.sh: adds the passed and failed counts of
# a suite's log to PASSED and FAILED, for the one summary line at the end.
PASSED=${PASSED:-0}
FAILED=${FAILED:-0}

# ctest: "97% tests passed, 2 tests failed out of 211"
count_ctest() {
  local line total failed
  line=$(grep -E "tests passed, [0-9]+ tests? failed out of [0-9]+" "$1" | tail -1)
  if [ -z "$line" ]; then FAILED=$((FAILED + 1)); return; fi
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  failed=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
  PASSED=$((PASSED + total - failed))
  FAILED=$((FAILED + failed))
}

# a GoogleTest binary: "[  PASSED  ] 40 tests." and "[  FAILED  ] 2 tests, listed below:"
count_gtest() {
  local passed failed
  passed=$(grep -E '^\[  PASSED  \] [0-9]+ test' "$1" | tail -1 | sed -E 's/[^0-9]*([0-9]+).*/\1/')
  failed=$(grep -E '^\[  FAILED  \] [0-9]+ test' "$1" | tail -1 | sed -E 's/[^0-9]*([0-9]+).*/\1/')
  if [ -z "$passed" ] && [ -z "$failed" ]; then FAILED=$((FAILED + 1)); return; fi
  PASSED=$((PASSED + ${passed:-0}))
  FAILED=$((FAILED + ${failed:-0}))
}

# pytest -q: "3 failed, 180 passed, 1 skipped, 1 error in 14.08s"
count_pytest() {
  local line n
  line=$(grep -E "[0-9]+ (passed|failed|error)" "$1" | tail -1)
  if [ -z "$line" ]; then FAILED=$((FAILED + 1)); return; fi
  n=$(grep -oE "[0-9]+ passed" <<<"$line" | grep -oE "[0-9]+" || true)
  PASSED=$((PASSED + ${n:-0}))
  for word in failed error errors; do
    n=$(grep -oE "[0-9]+ $word\b" <<<"$line" | grep -oE "[0-9]+" || true)
    FAILED=$((FAILED + ${n:-0}))
  done
}
