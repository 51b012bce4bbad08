#!/usr/bin/env bash
# Long runs, by hand: 1000 sessions in a row, one session of 100000
# commands, and floods of 100 MB (a name and an error report), which take
# minutes at the tool's one read per byte.
#
#   bench/soak.sh [--no-flood]
#
# LORVRC_SOAK_SESSIONS, LORVRC_SOAK_COMMANDS and LORVRC_FLOOD_BYTES change
# the sizes; the build goes to $LORVRC_SOAK_BUILD (default build/soak).
set -euo pipefail
cd "$(dirname "$0")/.."

build="${LORVRC_SOAK_BUILD:-build/soak}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DLORVRC_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j2 --target soak bounded_memory_test >/dev/null

"$build/bench/soak" "${LORVRC_SOAK_SESSIONS:-1000}" 60
"$build/bench/soak" 1 "${LORVRC_SOAK_COMMANDS:-100000}"
if [ "${1:-}" != "--no-flood" ]; then
  LORVRC_FLOOD_BYTES="${LORVRC_FLOOD_BYTES:-100000000}" \
    "$build/tests/bounded_memory_test" --gtest_brief=1
fi
