# bash completion for lorvrc: lorvrc [<options>] <program name> [<port>], or
# lorvrc --list | --help | --version
#
# The program name completes from the .bas files in the current directory,
# without the extension (lorvrc appends it). The port completes from what
# `lorvrc --list` shows: the device files that have hardware behind them
# and their stable names under /dev/serial/by-id and by-path.
# shellcheck shell=bash

# The lorvrc to ask; only the completion test changes it.
_lorvrc_command=${_lorvrc_command:-lorvrc}

_lorvrc_programs() {
  local file
  for file in *.bas; do
    if [[ -f $file ]]; then
      printf '%s\n' "${file%.bas}"
    fi
  done
}

# The first field of every line of the list: a device file, or one of its
# stable names on the indented lines below it.
_lorvrc_ports() {
  local first _
  "$_lorvrc_command" --list 2>/dev/null | while read -r first _; do
    printf '%s\n' "$first"
  done
}

_lorvrc() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local name_word=1 candidates=() candidate
  case ${COMP_WORDS[1]-} in
  --list | --help | -h | --version) ((COMP_CWORD == 1)) || return 0 ;;
  esac
  # The program name is the first word that is no option.
  while ((name_word < COMP_CWORD)) && [[ ${COMP_WORDS[name_word]} == -* ]]; do
    ((++name_word))
  done
  COMPREPLY=()
  if ((COMP_CWORD == name_word)); then
    candidates+=(-t --dtr=on --dtr=off --rts=on --rts=off --no-hangup --boot-wait= --wait
      --timeout=)
    ((COMP_CWORD > 1)) || candidates+=(--list --help --version)
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
  # An option that wants its value right after the '=' gets no blank.
  [[ ${#COMPREPLY[@]} -ne 1 || ${COMPREPLY[0]} != *= ]] || compopt -o nospace 2>/dev/null || true
  return 0
}

complete -F _lorvrc lorvrc
