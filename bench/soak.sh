#!/usr/bin/env bash
# Runs the soak and bounded-memory tests at full size and prints their
# figures: sessions per second, commands per second, the tool's peak and
# resident memory, and its descriptor counts.
#
#   bench/soak.sh [--no-flood]
#
# Full size: 1000 sessions, one session of 100000 commands, and floods of
# 100 MB (a name and an error report), which take several minutes at the
# tool's one read per byte; --no-flood leaves the floods out. Sizes can be
# changed through LORVRC_SOAK_SESSIONS, LORVRC_SOAK_COMMANDS and
# LORVRC_BOUNDED_BYTES. The build goes to $LORVRC_SOAK_BUILD (default
# build/soak).
set -euo pipefail
cd "$(dirname "$0")/.."

build="${LORVRC_SOAK_BUILD:-build/soak}"
export LORVRC_SOAK_SESSIONS="${LORVRC_SOAK_SESSIONS:-1000}"
export LORVRC_SOAK_COMMANDS="${LORVRC_SOAK_COMMANDS:-100000}"
export LORVRC_BOUNDED_BYTES="${LORVRC_BOUNDED_BYTES:-100000000}"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
if ! build_log="$(cmake --build "$build" -j2 --target soak_test bounded_memory_test 2>&1)"; then
  echo "$build_log" >&2
  exit 1
fi

# Prints the test's own figure lines; fails when the test does.
run() {
  local output status=0
  output="$("$@" 2>&1)" || status=$?
  grep -vE '^(\[|Running main|Note:|$)' <<<"$output" || true
  if [ "$status" -ne 0 ]; then
    echo "$output" | grep -E 'Failure|FAILED|Expected|Which is|Actual' >&2 || true
    echo "bench/soak.sh: $1 failed" >&2
    exit 1
  fi
}

echo "== $LORVRC_SOAK_SESSIONS sessions in a row, one session of $LORVRC_SOAK_COMMANDS commands"
run "$build/tests/soak_test"
if [ "${1:-}" != "--no-flood" ]; then
  echo "== floods of $LORVRC_BOUNDED_BYTES bytes"
  run "$build/tests/bounded_memory_test"
fi
