#!/usr/bin/env bash
# A check for benchmarks only, not part of ./test.sh: a source of more than 4 GiB,
# through the window's handlers (the disabled test HostileInput.DISABLED_AFileOver4GiB)
# and through tarnwhistle-cli, so that any size, count or offset kept in 32 bits would
# show. The files hold real lines, not holes, and need about 14 GiB free.
#   bench/huge_file.sh [BUILD_DIR [FOLDER]]    (defaults: build, and $TMPDIR or /tmp)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
parent=${2:-${TMPDIR:-/tmp}}

free_kib=$(df -Pk "$parent" | awk 'NR == 2 { print $4 }')
if [ "$free_kib" -lt $((14 * 1024 * 1024)) ]; then
  echo "bench/huge_file.sh: needs 14 GiB free in $parent; there are $((free_kib / 1024 / 1024)) GiB" >&2
  exit 1
fi
work=$(mktemp -d "$parent/tarnwhistle-huge-XXXXXX")
trap 'rm -rf "$work"' EXIT


timed() {  # timed COMMAND...: runs it and says on stderr how long it took
  local start=$EPOCHREALTIME
  "$@"
  awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "  %.1f s\n", b - a }' >&2
}
check() {  # check WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    echo "FAILED: $1: expected '$2', got '$3'" >&2
    exit 1
  fi
  echo "ok: $1"
}

echo "== The window: detect, then convert MS-DOS to UNIX"
TARNWHISTLE_HUGE_DIR="$work" "$build/bin/tarnwhistle-window-tests" --gtest_also_run_disabled_tests \
  --gtest_filter='HostileInput.DISABLED_AFileOver4GiB' 2>&1 | grep -E '^\[ *(OK|FAILED|SKIPPED) |Failure|Which is'

echo "== tarnwhistle-cli"
cli="$build/bin/tarnwhistle-cli"
seq -f '%010g: a line of a file larger than 4 GiB, with 日本語 in it' 1 50000 | sed 's/$/\r/' >"$work/block"
block_bytes=$(stat -c %s "$work/block")
copies=$(((4 * 1024 * 1024 * 1024) / block_bytes + 2))
for ((i = 0; i < copies; i++)); do cat "$work/block"; done >"$work/source.txt"
lines=$((copies * 50000))
size=$(stat -c %s "$work/source.txt")
echo "source: $size bytes, $lines CR LF lines"

check "detect" "MS-DOS" "$("$cli" detect "$work/source.txt")"
echo "info:"
timed "$cli" info "$work/source.txt" >"$work/info"
check "info counts every CR LF" "crlf: $lines" "$(grep '^crlf:' "$work/info")"
check "info counts every byte" "bytes: $size" "$(grep '^bytes:' "$work/info")"

echo "convert to UNIX:"
timed "$cli" convert --to unix "$work/source.txt" "$work/unix.txt" >/dev/null
check "UNIX size" $((size - lines)) "$(stat -c %s "$work/unix.txt")"
tr -d '\r' <"$work/source.txt" | cmp - "$work/unix.txt"
echo "ok: the UNIX output is the source without its CR bytes (compared with tr)"

echo "convert back to MS-DOS:"
timed "$cli" convert --to dos "$work/unix.txt" "$work/back.txt" >/dev/null
cmp "$work/source.txt" "$work/back.txt"
echo "ok: back to MS-DOS gives the source again"
