#!/usr/bin/env bash
# Drives the bash completion the way bash does and checks what it offers.
#
# usage: completion_test.sh <completion script>
set -euo pipefail

script="$(realpath "$1")"
# shellcheck source=scripts/lorvrc-completion.bash source-path=SCRIPTDIR/..
source "$script"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
touch alpha.bas beta.bas "two words.bas" gamma.inc alpha.bas.txt
mkdir folder.bas

failures=0

# check "<expected, comma-separated>" <word>...: completes the last word.
check() {
  local expected=$1 offered
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _lorvrc
  offered="$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd, -)"
  if [ "$offered" != "$expected" ]; then
    echo "FAIL: lorvrc ${COMP_WORDS[*]:1}<TAB> offers '$offered', expected '$expected'" >&2
    failures=$((failures + 1))
  fi
}

ports=""
for number in $(seq 0 15); do
  if [ -e "/dev/ttyS$number" ]; then
    ports+="${ports:+,}$number"
  fi
done

check "-t,alpha,beta,two words" lorvrc ""
check "alpha" lorvrc al
check "-t" lorvrc -
check "alpha,beta,two words" lorvrc -t ""
check "beta" lorvrc -t b
check "$ports" lorvrc alpha ""
check "$ports" lorvrc -t alpha ""
check "$ports" lorvrc alpha ignored ""
check "" lorvrc alpha 99

[ "$failures" -eq 0 ] || exit 1
echo "PASS"
