#!/usr/bin/env bash
# Runs the endurance tests at full size and prints what they measured:
# 1000 sessions in a row, one session of 100000 commands, and floods of
# 100 MB (a name and an error report), which take minutes at the tool's
# one read per byte.
#
#   bench/soak.sh [--no-flood]
#
# Sizes can be changed through LORVRC_SOAK_SESSIONS, LORVRC_SOAK_COMMANDS
# and LORVRC_FLOOD_BYTES. The build goes to $LORVRC_SOAK_BUILD (default
# build/soak).
set -euo pipefail
cd "$(dirname "$0")/.."

build="${LORVRC_SOAK_BUILD:-build/soak}"
sessions="${LORVRC_SOAK_SESSIONS:-1000}"
commands="${LORVRC_SOAK_COMMANDS:-100000}"
flood="${LORVRC_FLOOD_BYTES:-100000000}"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target endurance_test >/dev/null
test="$build/tests/endurance_test"

timed() {
  local start=$SECONDS
  "$@" --gtest_brief=1 || { echo "bench/soak.sh: failed: $*" >&2; exit 1; }
  echo "   passed in $((SECONDS - start)) s"
}

echo "== $sessions sessions in a row, 60 commands each"
LORVRC_SOAK_COMMANDS=60 timed "$test" --gtest_filter='*LongSession*' --gtest_repeat="$sessions"
echo "== one session of $commands commands"
LORVRC_SOAK_COMMANDS="$commands" timed "$test" --gtest_filter='*LongSession*'
if [ "${1:-}" != "--no-flood" ]; then
  echo "== floods of $flood bytes"
  LORVRC_FLOOD_BYTES="$flood" timed "$test" --gtest_filter='*Floods*'
fi
