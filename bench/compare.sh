#!/usr/bin/env bash
# Times tarnwhistle-cli against the usual tools on 256 MiB files and prints a Markdown
# table of medians and of ratios to a plain dd copy, then the peak memory of the tool
# and how detection time depends on file size.
#
#   bench/compare.sh [--size MIB] [--runs N] [--dir DIR] [--cli PATH]
#
# DIR (default: a fresh folder under /var/tmp, on the disk rather than a RAM-backed
# /tmp) holds the test files and is removed at the end. Every output is checked
# against the others that mean the same thing before anything is timed.
set -euo pipefail
cd "$(dirname "$0")/.."

size_mib=256
runs=10
work_parent=/var/tmp
cli=build/bin/tarnwhistle-cli
while [ $# -gt 0 ]; do
  case $1 in
    --size) size_mib=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --dir) work_parent=$2; shift 2 ;;
    --cli) cli=$2; shift 2 ;;
    *) echo "usage: $0 [--size MIB] [--runs N] [--dir DIR] [--cli PATH]" >&2; exit 2 ;;
  esac
done

source scripts/setup.sh
tw_need_packages hyperfine dos2unix time jq
if [ ! -x "$cli" ]; then
  tw_build build -DCMAKE_BUILD_TYPE=Release
fi
cli=$(readlink -f "$cli")

work=$(mktemp -d "$work_parent/tarnwhistle-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# --- Test files -------------------------------------------------------------------
# A 4 MiB block of text lines, repeated up to the size asked for: line lengths spread
# from empty to about 200 bytes (most 20-90), about one line in five with Japanese
# UTF-8 text, the rest English words, some with a leading tab. The UNIX file is the
# base; the MS-DOS and MAC files are made from it by sed and tr, not by any tool
# under test.
echo "Making ${size_mib} MiB test files in $work ..." >&2
perl -e '
  srand(20261208);
  my @en = qw(the line ending of each file is converted byte by byte and
              written to a new output which replaces the old one only when
              complete data report value total count name path result error
              server client request response config build test release);
  my @ja = ("日本語", "テキスト", "改行コード", "変換", "ファイル", "文字化け",
            "東京都", "品質管理", "設定", "報告書", "。", "、");
  my $out = "";
  while (length($out) < 4 * 1024 * 1024) {
    my $r = rand();
    my $target = $r < 0.05 ? 0 : $r < 0.85 ? 20 + int(rand(70)) : 90 + int(rand(110));
    my $line = rand() < 0.1 ? "\t" : "";
    my $japanese = rand() < 0.2;
    while (length($line) < $target) {
      $line .= $japanese && rand() < 0.6 ? $ja[int(rand(@ja))] : $en[int(rand(@en))] . " ";
    }
    $out .= $line . "\n";
  }
  print $out;
' > block.txt
: > unix.txt
block_bytes=$(stat -c %s block.txt)
for ((i = 0; i < size_mib * 1024 * 1024 / block_bytes; i++)); do cat block.txt; done > unix.txt
head -c $((size_mib * 1024 * 1024 - $(stat -c %s unix.txt))) block.txt | sed '$d' >> unix.txt
rm block.txt
sed 's/$/\r/' unix.txt > dos.txt
tr '\n' '\r' < unix.txt > mac.txt
head -c $((1024 * 1024)) unix.txt | sed '$d' | sed 's/$/\r/' > small-dos.txt
lines=$(wc -l < unix.txt)
echo "Lines: $lines; sizes: $(stat -c '%n %s' unix.txt dos.txt mac.txt | tr '\n' ' ')" >&2

# --- The commands --------------------------------------------------------------------
# name | its output file | the file that output must equal | command
commands=(
  "dd copy (bs=128K)|dd.out|dos.txt|dd if=dos.txt of=dd.out bs=128K status=none"
  "dd copy + fdatasync|ddsync.out|dos.txt|dd if=dos.txt of=ddsync.out bs=128K conv=fdatasync status=none"
  "tarnwhistle DOS→UNIX|tw1.out|unix.txt|$cli convert --to unix dos.txt tw1.out"
  "tarnwhistle DOS→MAC|tw2.out|mac.txt|$cli convert --to mac dos.txt tw2.out"
  "tarnwhistle UNIX→DOS|tw3.out|dos.txt|$cli convert --to dos unix.txt tw3.out"
  "tarnwhistle UNIX→MAC|tw4.out|mac.txt|$cli convert --to mac unix.txt tw4.out"
  "tarnwhistle MAC→DOS|tw5.out|dos.txt|$cli convert --to dos mac.txt tw5.out"
  "tarnwhistle MAC→UNIX|tw6.out|unix.txt|$cli convert --to unix mac.txt tw6.out"
  "tr -d '\\r' (DOS→UNIX)|tr.out|unix.txt|tr -d '\\r' < dos.txt > tr.out"
  "dos2unix -n|d2u.out|unix.txt|dos2unix -q -n dos.txt d2u.out"
  "unix2dos -n|u2d.out|dos.txt|unix2dos -q -n unix.txt u2d.out"
  "mac2unix -n|m2u.out|unix.txt|mac2unix -q -n mac.txt m2u.out"
  "unix2mac -n|u2m.out|mac.txt|unix2mac -q -n unix.txt u2m.out"
)

echo "Checking that the outputs agree ..." >&2
names=() cmds=()
for entry in "${commands[@]}"; do
  IFS='|' read -r name out expected cmd <<< "$entry"
  names+=("$name")
  cmds+=("$cmd")
  bash -c "$cmd" > /dev/null
  if ! cmp -s "$out" "$expected"; then
    echo "MISMATCH: $name wrote $out, which differs from $expected" >&2
    exit 1
  fi
  rm -f ./*.out
done
echo "All outputs agree." >&2

# --- Timing --------------------------------------------------------------------------
# Every run starts after a sync, so that no command pays for writing back what the one
# before it left in the page cache.
hyperfine_args=(--warmup 1 --runs "$runs" --prepare 'sync; rm -f ./*.out' --export-json times.json --style basic)
for i in "${!cmds[@]}"; do hyperfine_args+=(--command-name "${names[$i]}" "${cmds[$i]}"); done
hyperfine "${hyperfine_args[@]}" >&2

base=$(jq -r '.results[0].median' times.json)
echo
echo "| Command | Median (s) | × dd copy | MiB/s (input) |"
echo "|---|---:|---:|---:|"
input_mib=$(awk -v b="$(stat -c %s dos.txt)" 'BEGIN { printf "%.1f", b / 1048576 }')
jq -r --argjson base "$base" --argjson mib "$input_mib" \
  '.results[] | "| \(.command) | \(.median * 1000 | round / 1000) | \(.median / $base * 100 | round / 100) | \($mib / .median | round) |"' \
  times.json

# --- Memory and detection ------------------------------------------------------------
peak_kib() { /usr/bin/time -f '%M' "$@" 2>&1 > /dev/null | tail -n 1; }
echo
echo "| Peak RSS of tarnwhistle-cli | 1 MiB file | ${size_mib} MiB file |"
echo "|---|---:|---:|"
printf '| convert DOS→UNIX | %s KiB | %s KiB |\n' \
  "$(peak_kib "$cli" convert --to unix small-dos.txt rss.out)" "$(peak_kib "$cli" convert --to unix dos.txt rss.out)"
printf '| convert UNIX→DOS | %s KiB | %s KiB |\n' \
  "$(peak_kib "$cli" convert --to dos --from unix small-dos.txt rss.out)" "$(peak_kib "$cli" convert --to dos unix.txt rss.out)"
printf '| info | %s KiB | %s KiB |\n' "$(peak_kib "$cli" info small-dos.txt)" "$(peak_kib "$cli" info dos.txt)"
printf '| detect | %s KiB | %s KiB |\n' "$(peak_kib "$cli" detect small-dos.txt)" "$(peak_kib "$cli" detect dos.txt)"

hyperfine -N --warmup 3 --runs 50 --export-json detect.json --style none \
  --command-name "detect, 1 MiB file" "$cli detect small-dos.txt" \
  --command-name "detect, ${size_mib} MiB file" "$cli detect dos.txt" > /dev/null
echo
echo "| Detection | Median (ms) |"
echo "|---|---:|"
jq -r '.results[] | "| \(.command) | \(.median * 100000 | round / 100) |"' detect.json
