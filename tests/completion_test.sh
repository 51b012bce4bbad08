#!/usr/bin/env bash
# Drives the bash completion the way bash does and checks what it offers.
#
# usage: completion_test.sh <completion script>
set -euo pipefail

script="$(realpath "$1")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
touch alpha.bas beta.bas "two words.bas" gamma.inc alpha.bas.txt
mkdir folder.bas

# A host of our own: ttyS0 and ttyS4 have a UART, ttyS1 has none, ttyS20 is
# beyond the numbers; two adapters, one with a by-id name.
for port in 0:4 1:0 4:4 20:4; do
  mkdir -p "sys/class/tty/ttyS${port%:*}"
  echo "${port#*:}" >"sys/class/tty/ttyS${port%:*}/type"
done
mkdir -p dev/serial/by-id
touch dev/ttyS0 dev/ttyS1 dev/ttyUSB0 dev/ttyACM1 dev/ttyAMA0
ln -s ../../ttyUSB0 dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3Z5M-if00-port0
_lorvrc_dev_root=$work/dev
_lorvrc_sysfs_root=$work/sys
# shellcheck source=scripts/lorvrc-completion.bash source-path=SCRIPTDIR/..
source "$script"

failures=0

# check "<expected, comma-separated>" <word>...: completes the last word.
check() {
  local expected=$1 offered
  shift
  COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMPREPLY=()
  _lorvrc
  offered="$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd, -)"
  [ "$offered" = "$expected" ] || {
    echo "FAIL: lorvrc ${COMP_WORDS[*]:1}<TAB> offers '$offered', expected '$expected'" >&2
    failures=$((failures + 1))
  }
}

ports="$work/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3Z5M-if00-port0"
ports="$ports,$work/dev/ttyACM1,$work/dev/ttyUSB0,0,4"

check "--help,--list,--version,-t,alpha,beta,two words" lorvrc ""
check "alpha" lorvrc al
check "--help,--list,--version,-t" lorvrc -
check "" lorvrc --list ""
check "alpha,beta,two words" lorvrc -t ""
check "$ports" lorvrc alpha ""
check "$ports" lorvrc -t alpha ""
check "$ports" lorvrc alpha ignored ""
check "" lorvrc alpha 99
check "$work/dev/ttyUSB0" lorvrc alpha "$work/dev/ttyU"

[ "$failures" -eq 0 ] || exit 1
echo "PASS"
