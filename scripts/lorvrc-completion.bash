# bash completion for lorvrc: lorvrc [-t] <program name> [<port>], or
# lorvrc --list | --help | --version
#
# The program name completes from the .bas files in the current directory,
# without the extension (lorvrc appends it). The port completes from the
# ports that have hardware: the numbers of the /dev/ttyS<N> (0 to 15) whose
# UART the kernel found (sysfs type not 0), the /dev/ttyUSB* and
# /dev/ttyACM* devices, and the stable /dev/serial/by-id/ names.
# shellcheck shell=bash

# Where the devices and sysfs are; only the completion test changes them.
_lorvrc_dev_root=${_lorvrc_dev_root:-/dev}
_lorvrc_sysfs_root=${_lorvrc_sysfs_root:-/sys}

_lorvrc_programs() {
  local file
  for file in *.bas; do
    if [[ -f $file ]]; then
      printf '%s\n' "${file%.bas}"
    fi
  done
}

_lorvrc_ports() {
  local tty number type device
  for tty in "$_lorvrc_sysfs_root"/class/tty/ttyS*; do
    number=${tty##*/ttyS}
    type=$(cat "$tty/type" 2>/dev/null) || continue
    if [[ $number =~ ^[0-9]+$ ]] && ((10#$number < 16)) && [[ $type != 0 ]]; then
      printf '%s\n' "$number"
    fi
  done
  for device in "$_lorvrc_dev_root"/ttyUSB* "$_lorvrc_dev_root"/ttyACM* \
    "$_lorvrc_dev_root"/serial/by-id/*; do
    if [[ -e $device ]]; then
      printf '%s\n' "$device"
    fi
  done
}

_lorvrc() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local name_word=1 candidates=() candidate
  case ${COMP_WORDS[1]-} in
  -t) name_word=2 ;;
  --list | --help | -h | --version) ((COMP_CWORD == 1)) || return 0 ;;
  esac
  COMPREPLY=()
  if ((COMP_CWORD == 1)); then
    candidates+=(-t --list --help --version)
  fi
  if ((COMP_CWORD == name_word)); then
    mapfile -t -O "${#candidates[@]}" candidates < <(_lorvrc_programs)
    # Quotes names with blanks; fails harmlessly outside a completion.
    compopt -o filenames 2>/dev/null || true
  elif ((COMP_CWORD > name_word)); then
    mapfile -t candidates < <(_lorvrc_ports)
  fi
  for candidate in "${candidates[@]}"; do
    [[ $candidate == "$cur"* ]] && COMPREPLY+=("$candidate")
  done
  return 0
}

complete -F _lorvrc lorvrc
