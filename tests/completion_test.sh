#!/usr/bin/env bash
# Drives the bash completion the way bash does and checks what it offers.
#
# usage: completion_test.sh <completion script> <lorvrc>
set -euo pipefail

script="$(realpath "$1")"
tool="$(realpath "$2")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
touch alpha.bas beta.bas "two words.bas" gamma.inc alpha.bas.txt
mkdir folder.bas

# A host of our own, as lorvrc --list would show it: what has hardware is
# lorvrc's to decide, not the completion's. The options are the real
# lorvrc's.
cat >lorvrc-stub <<EOF
#!/bin/sh
[ "\$1" = --list ] || exec "$tool" "\$@"
echo "/dev/ttyACM1  cdc_acm  2e8a:000a  Raspberry Pi Pico"
echo "/dev/ttyS4  serial8250  16550A"
echo "/dev/ttyUSB0  ftdi_sio  0403:6001  FTDI FT232R USB UART  serial A10K3Z5M"
echo "  /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3Z5M-if00-port0"
echo "  /dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"
EOF
chmod +x lorvrc-stub
_lorvrc_command=$work/lorvrc-stub
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

ports="/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3Z5M-if00-port0"
ports="$ports,/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"
ports="$ports,/dev/ttyACM1,/dev/ttyS4,/dev/ttyUSB0"

all="--boot-wait=,--dtr=,--error-format=,--help,--list,--no-hangup,--rts=,--timeout=,--trace"
all="$all,--verbose,--version,--wait,-I,-h,-t,-v"
check "$all,alpha,beta,two words" lorvrc ""
check "alpha" lorvrc al
check "$all" lorvrc -
check "github,gnu" lorvrc --error-format = g
check "off,on" lorvrc --dtr = ""
check "off,on" lorvrc -t --rts ""
check "alpha" lorvrc --error-format = gnu -t al
check "alpha" lorvrc -I lib -v --dtr off --wait al
check "$ports" lorvrc --error-format=plain alpha ""
check "$ports" lorvrc --timeout 5 -- alpha ""
check "" lorvrc --list ""
check "" lorvrc -h ""
check "--verbose,--version" lorvrc --ver
check "$ports" lorvrc alpha ""
check "$ports" lorvrc alpha ignored ""
check "" lorvrc alpha 99
check "/dev/ttyUSB0" lorvrc alpha "/dev/ttyU"

[ "$failures" -eq 0 ] || exit 1
echo "PASS"
