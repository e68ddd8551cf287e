# Sourced by scripts/test.sh and scripts/ci.sh: adds the passed and failed counts of
# a suite's log to PASSED and FAILED, for the one summary line at the end. A log
# without its suite's summary (a crash) counts as one failure.
PASSED=${PASSED:-0}
FAILED=${FAILED:-0}

# The last line of $1 that matches $2 (empty when none).
last_match() { grep -E "$2" "$1" 2>/dev/null | tail -1 || true; }
# The number in front of $2 in the text $1 (0 when absent).
number_before() { grep -oE "[0-9]+ $2" <<<"$1" | grep -oE "^[0-9]+" || echo 0; }

# ctest: "100% tests passed out of 212" or "97% tests passed, 2 tests failed out of 211"
count_ctest() {
  local line total failed
  line=$(last_match "$1" "tests passed.* out of [0-9]+")
  if [ -z "$line" ]; then FAILED=$((FAILED + 1)); return; fi
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  failed=$(number_before "$line" "tests? failed")
  PASSED=$((PASSED + total - failed))
  FAILED=$((FAILED + failed))
}

# a GoogleTest binary: "[  PASSED  ] 40 tests." and "[  FAILED  ] 2 tests, listed below:"
count_gtest() {
  local passed failed
  passed=$(last_match "$1" '^\[  PASSED  \] [0-9]+ test')
  failed=$(last_match "$1" '^\[  FAILED  \] [0-9]+ test')
  if [ -z "$passed$failed" ]; then FAILED=$((FAILED + 1)); return; fi
  PASSED=$((PASSED + $(number_before "${passed/\] /}" "tests?")))
  FAILED=$((FAILED + $(number_before "${failed/\] /}" "tests?")))
}

# pytest -q: "3 failed, 180 passed, 1 skipped, 1 error in 14.08s"
count_pytest() {
  local line
  line=$(last_match "$1" "[0-9]+ (passed|failed|errors?)( |,|$)")
  if [ -z "$line" ]; then FAILED=$((FAILED + 1)); return; fi
  PASSED=$((PASSED + $(number_before "$line" "passed")))
  FAILED=$((FAILED + $(number_before "$line" "failed") + $(number_before "$line" "errors?")))
}
