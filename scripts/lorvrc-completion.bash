# bash completion for lorvrc: lorvrc [-t] <program name> [<port>]
#
# The program name completes from the .bas files in the current directory,
# without the extension (lorvrc appends it); the port completes from the
# /dev/ttyS<N> that exist, as the numbers lorvrc takes (0 to 15).
# shellcheck shell=bash

_lorvrc_programs() {
  local file
  for file in *.bas; do
    if [[ -f $file ]]; then
      printf '%s\n' "${file%.bas}"
    fi
  done
}

_lorvrc_ports() {
  local device number
  for device in /dev/ttyS*; do
    number=${device#/dev/ttyS}
    if [[ $number =~ ^[0-9]+$ ]] && ((10#$number < 16)); then
      printf '%s\n' "$number"
    fi
  done
}

_lorvrc() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local name_word=1 candidates=() candidate
  [[ ${COMP_WORDS[1]-} == -t ]] && name_word=2
  COMPREPLY=()
  if ((COMP_CWORD == 1)); then
    candidates+=(-t)
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
