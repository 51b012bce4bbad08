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

# The options, as lorvrc itself lists them from its table: one line per
# name, "<name> <kind> [<value>...]", the kind one of flag, value (needs
# one), optional (only after '='), final (ends the command line). Asked
# once per shell, by _lorvrc itself (a subshell could not keep them).
_lorvrc_options=
_lorvrc_ask_options() {
  if [[ -z $_lorvrc_options ]]; then
    _lorvrc_options=$("$_lorvrc_command" --complete-options 2>/dev/null) || _lorvrc_options=
  fi
}

# The kind of the option named exactly by $1; nothing for no option.
_lorvrc_kind() {
  local name kind _
  while read -r name kind _; do
    [[ $name == "$1" ]] && printf '%s\n' "$kind"
  done <<<"$_lorvrc_options"
}

# The words that start an option: a long one that needs a value ends in
# '=', to take it in the same word.
_lorvrc_option_words() {
  local name kind _
  while read -r name kind _; do
    [[ -n $name ]] || continue
    [[ $name == --* && $kind == value ]] && name+='='
    printf '%s\n' "$name"
  done <<<"$_lorvrc_options"
}

# The values option $1 takes, when there are few.
_lorvrc_values() {
  local name _ values
  while read -r name _ values; do
    # shellcheck disable=SC2086 # one word per value
    [[ $name == "$1" && -n $values ]] && printf '%s\n' $values
  done <<<"$_lorvrc_options"
}

_lorvrc() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]-}
  local name_word=1 candidates=() candidate
  _lorvrc_ask_options
  if ((COMP_CWORD > 1)) && [[ $(_lorvrc_kind "${COMP_WORDS[1]-}") == final ]]; then
    return 0
  fi
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
    --:*) name_word=$((name_word + 1)) && break ;;
    -*) if [[ $(_lorvrc_kind "${COMP_WORDS[name_word]}") == value ]]; then
      name_word=$((name_word + 2))
    else
      name_word=$((name_word + 1))
    fi ;;
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
      mapfile -t candidates < <(_lorvrc_option_words)
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
