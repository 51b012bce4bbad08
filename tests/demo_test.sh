#!/usr/bin/env bash
# Runs scripts/demo against the targets already built in a build dir and
# checks its outcome: lorvrc's exit status, the files the device received
# and the text lorvrc printed.
#
# usage: demo_test.sh <source dir> <build dir> [--error]
set -euo pipefail

source_dir=$1
build=$2
shift 2

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

expect_text() {
  [[ $output == *"$1"* ]] || fail "the demo's output lacks: $1"
}

status=0
output="$(LORVRC_DEMO_BUILD_DIR="$build" "$source_dir/scripts/demo" "$@" 2>&1)" || status=$?
printf '%s\n' "$output"

expect_text "device: received hello.bas: 8 lines"
if [ "${1:-}" = --error ]; then
  [ "$status" -eq 1 ] || fail "exit status $status, expected 1"
  examples="$(cd "$source_dir/examples" && pwd -P)"
  expect_text $'\n'"Error $examples\\hello.bas Syntax error in line 30"$'\n'
  [[ $output != *"RUN hello"* ]] || fail "trace text after an error report"
else
  [ "$status" -eq 0 ] || fail "exit status $status, expected 0"
  expect_text "device: received mathlib.inc: 3 lines"
  expect_text "device:   | 1020 DEF FNSUM(N) = N * (N + 1) / 2"
  # The trace text reaches the user byte for byte, line ends included.
  expect_text $'RUN hello\r\nHello from Lorvan BASIC\r\n1 squared is 1\r\n'
  expect_text $'5 squared is 25\r\nSum of 1 to 5: 15\r\nReady\r\n'
  [[ $output != *"lorvrc: "* ]] || fail "lorvrc printed a message"
fi
echo "PASS"
