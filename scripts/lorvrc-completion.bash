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

# The options, as lorvrc --help lists them; one ending in '=' takes its
# value in the same word.
_lorvrc_options=(-t --trace -v --verbose -I --error-format= --dtr= --rts= --no-hangup
  --boot-wait= --wait --timeout= --list --help --version)

# The values an option takes, when there are few.
_lorvrc_values() {
  case $1 in
  --error-format) printf '%s\n' plain gnu github ;;
  --dtr | --rts) printf '%s\n' on off ;;
  esac
}

_lorvrc() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]-}
  local name_word=1 candidates=() candidate
  case ${COMP_WORDS[1]-} in
  --list | --help | -h | --version) ((COMP_CWORD == 1)) || return 0 ;;
  esac
  # bash splits --dtr=on at the '=': "--dtr" "=" "on".
  if [[ $cur == = ]]; then
    cur=
  elif [[ $prev == = ]]; then
    prev=${COMP_WORDS[COMP_CWORD - 2]-}
  fi
  # The program name is the first word after the options and their values.
  while ((name_word < COMP_CWORD)); do
    case ${COMP_WORDS[name_word]}:${COMP_WORDS[name_word + 1]-} in
    -*:=) name_word=$((name_word + 3)) ;;
    --error-format:* | --dtr:* | --rts:* | --boot-wait:* | --timeout:* | -I:*)
      name_word=$((name_word + 2)) ;;
    --:*) name_word=$((name_word + 1)) && break ;;
    -*) name_word=$((name_word + 1)) ;;
    *) break ;;
    esac
  done
  COMPREPLY=()
  if [[ $prev == -I ]]; then
    mapfile -t candidates < <(compgen -d -- "$cur")
  elif ((COMP_CWORD < name_word)); then # the value of an option
    mapfile -t candidates < <(_lorvrc_values "$prev")
  elif ((COMP_CWORD == name_word)); then
    if [[ ${COMP_WORDS[name_word - 1]-} != -- ]]; then
      candidates+=("${_lorvrc_options[@]}")
    fi
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
  if [[ ${#COMPREPLY[@]} == 1 && ${COMPREPLY[0]} == *= ]]; then
    compopt -o nospace 2>/dev/null || true
  fi
  return 0
}

complete -F _lorvrc lorvrc
