#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The license line at the head of every source, script and build file:
#
#   scripts/spdx.sh --check [ROOT]   name each file that lacks it; status 1 if any
#   scripts/spdx.sh --add [ROOT]     add it where it is missing (safe to repeat)
#
# ROOT defaults to this checkout. The files are git's (tracked, and new ones
# not ignored), or without git every file outside build trees. The line goes
# first, after a "#!" line or an XML declaration, in the comment form of the
# file's language. A file of a kind with no rule here is reported, so a new
# kind of file gets a rule rather than passing unseen.
set -euo pipefail
mode=${1:-}
root=${2:-$(cd "$(dirname "$0")/.." && pwd)}
case "$mode" in --check | --add) ;; *) echo "usage: scripts/spdx.sh --check|--add [ROOT]" >&2; exit 2 ;; esac
cd "$root"
identifier="SPDX-License-Identifier: MIT"

# comment_for PATH: the license line for the file, "-" for files that take
# none (documents, data, the license itself), "?" for a kind without a rule.
comment_for() {
  local path=$1 name=${1##*/}
  case "$path" in
    .ci/* | samples/* | *.md | LICENSE | .gitignore) echo - ;;
    *.c | *.cpp | *.h | *.h.in) echo "// $identifier" ;;
    */CMakeLists.txt | CMakeLists.txt | *.cmake | *.sh | *.pc.in | tools/completion/* | tools/magic/*)
      echo "# $identifier" ;;
    *.[1-8]) echo ".\\\" $identifier" ;;
    *.xml) echo "<!-- $identifier -->" ;;
    *.map) echo "/* $identifier */" ;;
    *)
      if [ "$(head -c 2 "$path")" = "#!" ]; then echo "# $identifier"; else echo "?"; fi ;;
  esac
}

# The line after which the license line goes: 1 after "#!" or "<?xml", else 0.
preamble_lines() {
  local first
  first=$(head -n 1 "$1")
  case "$first" in '#!'* | '<?xml'*) echo 1 ;; *) echo 0 ;; esac
}

list_files() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files --cached --others --exclude-standard
  else
    find . -name .git -prune -o -type d -exec test -e '{}/CMakeCache.txt' ';' -prune -o -type f -print |
      sed 's|^\./||'
  fi
}

missing=0
while IFS= read -r path; do
  [ -f "$path" ] || continue
  line=$(comment_for "$path")
  [ "$line" = - ] && continue
  if [ "$line" = "?" ]; then
    echo "$path: no license-line rule for this kind of file (scripts/spdx.sh)"
    missing=1
    continue
  fi
  skip=$(preamble_lines "$path")
  if [ "$(sed -n "$((skip + 1))p" "$path")" = "$line" ]; then
    continue
  fi
  if [ "$mode" = --check ]; then
    echo "$path: no \"$identifier\" line at its head"
    missing=1
  else
    # The file is rewritten in place, so it keeps its mode and links.
    { head -n "$skip" "$path"; printf '%s\n' "$line"; tail -n "+$((skip + 1))" "$path"; } >"$path.spdx-new"
    cat "$path.spdx-new" >"$path"
    rm "$path.spdx-new"
  fi
done < <(list_files)
exit $missing
