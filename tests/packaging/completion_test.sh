#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# completion_test.sh COMPLETION_FILE UNPELK
#
# unpelk's bash completion, as bash runs it: the options come from the
# program's own --help (every one of them, long and short, --directory=
# waiting for its value); operands are containers and directories, never
# other files; after -d, -d's long form and "--directory=", directories
# only; after "--" a word starting with "-" is an operand.
set -uo pipefail
completion=$(realpath "$1") unpelk=$(realpath "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/pelk-completion.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/scene/sub" "$work/scene/subtoo" "$work/bin"
touch "$work/scene/a.plk" "$work/scene/b.txt" "$work/scene/-dash.plk" "$work/scene/sub/c.plk"
ln -s "$unpelk" "$work/bin/unpelk"
failed=0

# complete WORD...: the completions of the last word, sorted, one a line,
# completed in the scene directory with unpelk on PATH.
complete_words() {
  (cd "$work/scene" && PATH="$work/bin:$PATH" bash --norc --noprofile -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _unpelk unpelk "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$completion" "$@")
}

# expect NAME "EXPECTED LINES" WORD...
expect() {
  local name=$1 expected=$2
  shift 2
  local got
  got=$(complete_words "$@")
  if [ "$got" != "$(printf '%s\n' $expected | sort)" ]; then
    echo "completion: $name: expected [$(echo $expected)], got [$(echo $got)]" >&2
    failed=1
  fi
}

# Every option the help lists, in both spellings, is offered for "-".
options=$(complete_words unpelk -)
for option in -c --stdout --to-stdout -t --test -l --list -v --verbose -d --directory= -f --force \
              -k --keep -q --quiet -h --help -V --version; do
  grep -qx -- "$option" <<<"$options" || { echo "completion: option $option not offered" >&2; failed=1; }
done
# ... and nothing that is not an option of unpelk.
# (An option that takes a value is tried with one: ".", a directory.)
while IFS= read -r option; do
  case "$option" in
    *=) "$unpelk" "$option." --help >/dev/null 2>&1 && continue ;;
    *) { "$unpelk" "$option" --help || "$unpelk" "$option" . --help; } >/dev/null 2>&1 && continue ;;
  esac
  echo "completion: offers $option, which unpelk refuses" >&2
  failed=1
done <<<"$options"

expect "long options by prefix" "--test" unpelk --te
expect "operands" "a.plk -dash.plk sub subtoo" unpelk ""
expect "operands by prefix" "sub subtoo" unpelk s
expect "inside a directory" "sub/c.plk" unpelk sub/
expect "after -d" "sub subtoo" unpelk -d ""
expect "after --directory" "sub subtoo" unpelk --directory ""
expect "after --directory=, split at =" "sub subtoo" unpelk --directory = ""
expect "after --directory=, split at =, by prefix" "subtoo" unpelk --directory = subt
expect "--directory= in one word" "--directory=sub --directory=subtoo" unpelk --directory=su
expect "after --" "-dash.plk" unpelk -- -
[ $failed -eq 0 ] && echo "completion: all cases passed"
exit $failed
