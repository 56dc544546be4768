#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The programs of another platform's build against the native build's, run
# under Wine (windows) or qemu-user (s390x, aarch64):
#
#   tests/platforms/platform_test.sh TARGET TARGET_BUILD NATIVE_BUILD CORPUS_DIR [FILE...]
#
# Every case is a difference that must not exist: each corpus file (all of
# them, or the FILEs named) gives the container the native pelk gives,
# stamp masked, and the target's unpelk restores it exactly; usage texts,
# messages, exit statuses and bytes on standard output are those of the
# native programs. On Windows also: the target is refused under every other
# name of the source (case, ".\", "..", a drive path, a hard link); existing
# targets are replaced; paths longer than 260 characters; a name outside
# ASCII gives the native container and is restored under its name; stored
# names Windows would misread are refused (and restored by the native
# unpelk); NUL is written as a device; Ctrl+C removes the temporary file;
# the DLL exports only the library's API.
# Ends with "N passed, N failed" and a nonzero status when any case failed.
set -uo pipefail

target=$1
target_build=$(cd "$2" && pwd) native_build=$(cd "$3" && pwd) corpus=$4
shift 4
case "$target" in
  windows)
    export WINEPREFIX="$target_build/wine-prefix" WINEDEBUG=-all LC_ALL=C.UTF-8
    run=(/usr/lib/wine/wine64) suffix=.exe ;;
  s390x) run=(qemu-s390x-static) suffix= ;;
  aarch64) run=(qemu-aarch64-static) suffix= ;;
  *) echo "unknown target $target" >&2; exit 2 ;;
esac
pelk_t=("${run[@]}" "$target_build/driver/pelk$suffix")
unpelk_t=("${run[@]}" "$target_build/tools/unpelk/unpelk$suffix")
plk_t=("${run[@]}" "$target_build/tools/plk/plk$suffix")
pelk_n=("$native_build/driver/pelk")
unpelk_n=("$native_build/tools/unpelk/unpelk")
plk_n=("$native_build/tools/plk/plk")

work=$(mktemp -d)
cleanup() {
  [ "$target" = windows ] && /usr/lib/wine/wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
passed=0 failed=0

# check NAME COMMAND...: the case passes when the command succeeds.
check() {
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $target: $name"
  fi
}

# Two containers alike but for the time stamp (bytes 5-8).
same_container() {
  cmp -s <(head -c 4 "$1"; tail -c +9 "$1") <(head -c 4 "$2"; tail -c +9 "$2")
}

# --- The corpus: the same containers, restored exactly ----------------------

corpus_file() {
  local name=$1 dir=$work/corpus
  mkdir -p "$dir"
  (cd "$corpus" && "${pelk_n[@]}" "$name" "$dir/native.plk") >/dev/null || return 1
  (cd "$corpus" && "${pelk_t[@]}" "$name" "$dir/target.plk") >/dev/null || return 1
  same_container "$dir/native.plk" "$dir/target.plk" || return 1
  # plk writes pelk's container, from the file and through a pipe.
  (cd "$corpus" && "${plk_t[@]}" -c "$name") >"$dir/plk.plk" || return 1
  same_container "$dir/native.plk" "$dir/plk.plk" || return 1
  "${plk_t[@]}" --name="$name" <"$corpus/$name" >"$dir/redirected.plk" || return 1
  same_container "$dir/native.plk" "$dir/redirected.plk" || return 1
  cat "$corpus/$name" | "${plk_t[@]}" --name="$name" >"$dir/piped.plk" || return 1
  same_container "$dir/native.plk" "$dir/piped.plk" || return 1
  "${unpelk_t[@]}" -d "$dir" "$dir/target.plk" && cmp -s "$corpus/$name" "$dir/$name"
  local status=$?
  rm -f "$dir"/*
  return $status
}

if [ -d "$corpus" ]; then
  corpus=$(cd "$corpus" && pwd)
  [ $# -gt 0 ] || set -- $(cd "$corpus" && ls)
  for name in "$@"; do
    check "corpus $name" corpus_file "$name"
  done
else
  echo "$target: no corpus at $corpus; its cases are skipped"
fi

# --- The same texts, statuses and output bytes ------------------------------

# A directory both programs find alike: a source, a container of it, a
# damaged copy, a directory and a file of the stored name.
setup_scene() {
  local dir=$1
  mkdir -p "$dir/subdir"
  # Line ends of both kinds and a Ctrl-Z, which text-mode streams would alter.
  printf 'line one\nline two\r\n\032 after the Ctrl-Z\n' >"$dir/src.txt"
  printf 'ab' >"$dir/ab"
  (cd "$dir" && "${pelk_n[@]}" src.txt c.plk) >/dev/null
  head -c 30 "$dir/c.plk" >"$dir/short.plk"
  cp "$dir/c.plk" "$dir/flipped.plk"
  printf '\377' | dd of="$dir/flipped.plk" bs=1 seek=25 conv=notrunc 2>/dev/null
}

setup_scene "$work/scene"

# The digest of every file under the current directory, by name. A
# container's time stamp (bytes 5-8) is the time of the run that wrote it,
# which two runs need not share, so it is left out of the container's.
file_digests() {
  local file
  while IFS= read -r -d '' file; do
    case $file in
      *.plk) printf '%s  %s\n' "$({ head -c 4 "$file"; tail -c +9 "$file"; } | sha256sum | cut -d ' ' -f 1)" "$file" ;;
      *) sha256sum "$file" ;;
    esac
  done < <(find . -type f -print0 | sort -z)
}

# same_behaviour PROGRAM ARGS...: run in fresh copies of the scene by both
# builds, the same standard output, standard error, status and files
# afterwards.
same_behaviour() {
  local program=$1
  shift
  for build in native target; do
    local dir=$work/scene-$build
    rm -rf "$dir"
    cp -a "$work/scene" "$dir"
    local -n command="${program}_${build:0:1}"
    (cd "$dir" && "${command[@]}" "$@" >"$work/out-$build" 2>"$work/err-$build" </dev/null)
    echo "status $?" >>"$work/out-$build"
    (cd "$dir" && file_digests) >"$work/files-$build"
  done
  local kind
  for kind in out err files; do
    cmp -s "$work/$kind-native" "$work/$kind-target" && continue
    echo "$kind differs (native, then $target):"
    diff "$work/$kind-native" "$work/$kind-target" | head -n 10
    return 1
  done
}
# The banner and the refusals; a successful run ("src.txt out.plk") differs
# only in its stamp, so its container is compared through the restores below.
for args in "" "a b c" "missing.txt out.plk" "ab" "src.txt src.txt" "subdir" "src.txt nodir/out.plk"; do
  check "pelk $args" same_behaviour pelk $args
done
for args in "" "--help" "-x" "-t c.plk" "-c c.plk" "-l c.plk" "-t short.plk" "-t flipped.plk" \
  "c.plk" "-f c.plk" "c.plk subdir" "-c -" "c.plk c.plk"; do
  check "unpelk $args" same_behaviour unpelk $args
done
# plk's refusals and restores, and a compression among refusals; its
# containers are compared byte for byte in the corpus cases.
for args in "--help" "-x" "-t c.plk" "-dc c.plk" "-l c.plk" "-t short.plk" "-d c.plk" "-df c.plk" \
  "-dfk --rm c.plk" "-d --rm -f c.plk" "ab.plk" "-dc -" "missing.txt subdir ab"; do
  check "plk $args" same_behaviour plk $args
done
# A stream past what plk holds in memory goes through a scratch file that
# nothing leaves behind: in TMPDIR, or under Wine in the prefix's temporary
# directory (TMPDIR there would move the wineserver's own files).
scratch_files() {
  find "$1" ${WINEPREFIX:+"$WINEPREFIX/drive_c"} \( -name 'plk*.tmp' -o -name '.pelk-scratch-*' \) 2>/dev/null | wc -l
}
long_stream() {
  local dir=$work/stream
  mkdir -p "$dir/tmp"
  head -c 20000000 /dev/urandom >"$dir/long"
  (cd "$dir" && "${plk_n[@]}" -o native.plk long) || return 1
  local before status
  before=$(scratch_files "$dir/tmp")
  (
    [ "$target" = windows ] || export TMPDIR=$dir/tmp
    "${plk_t[@]}" --name=long <"$dir/long" >"$dir/redirected.plk" &&
      cat "$dir/long" | "${plk_t[@]}" --name=long >"$dir/piped.plk"
  ) && same_container "$dir/native.plk" "$dir/redirected.plk" && same_container "$dir/native.plk" "$dir/piped.plk" &&
    [ "$(scratch_files "$dir/tmp")" = "$before" ]
  status=$?
  rm -rf "$dir"
  return $status
}
check "plk holds a long stream in a temporary file" long_stream

# A container on standard input, restored to standard output: both binary.
stdin_restore() {
  "${unpelk_t[@]}" -c <"$work/scene/c.plk" >"$work/stdin-out" && cmp -s "$work/stdin-out" "$work/scene/src.txt"
}
check "unpelk -c from standard input" stdin_restore

if [ "$target" != windows ]; then
  echo "$target: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
fi

# --- Windows ------------------------------------------------------------------

# The DLL exports the functions pelk.h declares and nothing else (the
# export table objdump reads from it).
dll_exports_the_api() {
  local here dll=$target_build/lib/libpelk.dll
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  [ -f "$dll" ] || { echo "no $dll"; return 1; }
  diff <(x86_64-w64-mingw32-objdump -p "$dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' | sort) \
       <("$here/../packaging/library_abi_test.sh" declared "$here/../../include/pelk.h")
}
check "the DLL exports only the API" dll_exports_the_api

win=$work/windows
mkdir -p "$win/sub"
printf 'the source\n' >"$win/x.txt"
ln "$win/x.txt" "$win/hard.txt"

# The target is the source under another name: refused, nothing changed.
refused_as_same() {
  local before after
  before=$(cd "$win" && ls -A | sha256sum)
  (cd "$win" && "${pelk_t[@]}" x.txt "$1" >/dev/null 2>"$work/err")
  local status=$?
  after=$(cd "$win" && ls -A | sha256sum)
  [ $status -eq 1 ] && [ "$before" = "$after" ] &&
    [ "$(cat "$work/err")" = "$(printf '\npelk: %s: source and target are the same file' "$1")" ]
}
for name in X.TXT 'x.TXT' '.\x.txt' 'sub\..\x.txt' "Z:${win//\//\\}\\sub\\..\\X.txt" hard.txt; do
  check "same file as $name" refused_as_same "$name"
done

# An existing target is replaced whole by pelk, and by unpelk with -f only.
replaced() {
  head -c 5000 /dev/zero >"$win/old.plk"
  (cd "$win" && "${pelk_t[@]}" x.txt old.plk && "${pelk_n[@]}" x.txt new.plk) >/dev/null &&
    same_container "$win/old.plk" "$win/new.plk" || return 1
  printf 'older' >"$win/back.txt"
  (cd "$win" && ! "${unpelk_t[@]}" old.plk back.txt 2>/dev/null) && [ "$(cat "$win/back.txt")" = older ] &&
    (cd "$win" && "${unpelk_t[@]}" -f old.plk back.txt) && cmp -s "$win/back.txt" "$win/x.txt"
}
check "existing targets replaced" replaced

# A device is written where it stands, as /dev/null is: nothing is created.
to_device() {
  local before
  before=$(cd "$win" && ls -A)
  (cd "$win" && "${pelk_t[@]}" x.txt NUL >/dev/null 2>&1) && [ "$(cd "$win" && ls -A)" = "$before" ]
}
check "a device as the target" to_device

# Paths past 260 characters, through both programs.
long_paths() {
  local deep=$win/$(printf 'd%.0s' {1..120})/$(printf 'e%.0s' {1..120})/$(printf 'f%.0s' {1..60})
  mkdir -p "$deep"
  cp "$win/x.txt" "$deep/long-source.txt"
  (cd "$win" && "${pelk_t[@]}" "${deep#"$win"/}/long-source.txt") >/dev/null &&
    (cd "$deep" && "${pelk_n[@]}" long-source.txt native.plk) >/dev/null &&
    same_container "$deep/long-source.plk" "$deep/native.plk" &&
    rm "$deep/long-source.txt" && "${unpelk_t[@]}" "$deep/long-source.plk" && cmp -s "$deep/long-source.txt" "$win/x.txt"
}
check "paths longer than 260 characters" long_paths

# A name outside ASCII: taken from the UTF-16 command line, stored as UTF-8
# as the native pelk stores it, listed and restored under it.
unicode_name() {
  local name='zażółć 日本 ✓.txt' dir=$win/unicode
  mkdir -p "$dir/out"
  printf 'unicode\n' >"$dir/$name"
  (cd "$dir" && "${pelk_t[@]}" "$name" u.plk >"$work/out" && "${pelk_n[@]}" "$name" n.plk >/dev/null) &&
    [ "$(cat "$work/out")" = "$(printf 'Pelk Compress ver 1.0  2004.7.8 by the Pelk developers\nin file = %s' "$name")" ] &&
    same_container "$dir/u.plk" "$dir/n.plk" &&
    "${unpelk_t[@]}" -l "$dir/u.plk" | grep -qF "  $name" &&
    "${unpelk_t[@]}" -d "$dir/out" "$dir/u.plk" && cmp -s "$dir/out/$name" "$dir/$name"
}
check "a name outside ASCII" unicode_name

# Stored names Windows would misread: refused by unpelk.exe with the reason,
# nothing created; the native unpelk restores them as they stand.
misread_name() {
  local name=$1 reason=$2 printed=$3 dir=$win/names
  rm -rf "$dir" && mkdir -p "$dir/src" "$dir/w" "$dir/l"
  printf 'named' >"$dir/src/$name"
  (cd "$dir/src" && "${pelk_n[@]}" "$name" ../c.plk) >/dev/null || return 1
  (cd "$dir/w" && "${unpelk_t[@]}" ../c.plk 2>"$work/err")
  [ $? -eq 1 ] && [ -z "$(ls -A "$dir/w")" ] &&
    [ "$(cat "$work/err")" = "unpelk: ../c.plk: refusing the stored name \"$printed\": the stored name $reason; give a target name" ] &&
    "${unpelk_n[@]}" -d "$dir/l" "$dir/c.plk" && cmp -s "$dir/l/$name" "$dir/src/$name"
}
for name in CON nul.txt 'Aux .tar.gz' COM1 lpt9.x 'COM¹.txt' 'CONOUT$'; do
  check "stored name $name" misread_name "$name" "is a Windows device name" "$name"
done
dropped="ends in a dot or a space, which Windows drops"
check "stored name ending in a dot" misread_name 'a.' "$dropped" 'a.'
check "stored name ending in a space" misread_name 'b ' "$dropped" 'b '
check "stored name with ?" misread_name 'q?x' "contains a character Windows does not allow in names" 'q?x'
check "stored name not UTF-8" misread_name $'\xe9t\xe9.txt' "is not UTF-8, so Windows has no name for it" \
  '\xE9t\xE9.txt'
# Names that only look like devices are names.
looks_like_device() {
  local name=$1 dir=$win/looks
  rm -rf "$dir" && mkdir -p "$dir/src" "$dir/out"
  printf 'x' >"$dir/src/$name"
  (cd "$dir/src" && "${pelk_n[@]}" "$name" ../c.plk) >/dev/null &&
    "${unpelk_t[@]}" -d "$dir/out" "$dir/c.plk" && cmp -s "$dir/out/$name" "$dir/src/$name"
}
for name in conx.txt COM10 nul-x.txt; do
  check "stored name $name restored" looks_like_device "$name"
done

# Ctrl+C (Wine delivers SIGINT as the console's Ctrl+C event) removes the
# temporary file: a sparse source of 4 GiB keeps pelk busy meanwhile.
interrupted() {
  local dir=$win/interrupt
  mkdir -p "$dir/out"
  truncate -s 4G "$dir/zeros.bin"
  (cd "$dir" && exec "${pelk_t[@]}" zeros.bin out/zeros.plk >/dev/null 2>&1) &
  local pid=$! waited=0
  while [ -z "$(ls -A "$dir/out")" ] && [ $waited -lt 200 ]; do sleep 0.1; waited=$((waited + 1)); done
  local seen
  seen=$(ls -A "$dir/out")
  kill -INT $pid
  wait $pid
  local left
  left=$(ls -A "$dir/out")
  rm -f "$dir/zeros.bin"
  [[ "$seen" == .pelk-* ]] && [ -z "$left" ]
}
check "Ctrl+C removes the temporary file" interrupted

echo "$target: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
