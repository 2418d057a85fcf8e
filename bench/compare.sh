#!/usr/bin/env bash
# Times tarnwhistle-cli against the usual tools on 256 MiB files and prints a Markdown
# table of medians and of ratios to a plain dd copy, then the peak memory of the tool
# and how detection time depends on file size.
#
#   bench/compare.sh [--size MIB] [--runs N] [--dir DIR] [--cli PATH]
#
# The test files (about 3.5 × the size, 900 MiB by default) go into a fresh folder under
# DIR (default /var/tmp, which is on the disk where /tmp may be in RAM), removed at the
# end. Every output is checked against the others that mean the same thing before
# anything is timed. The report goes to stdout, hyperfine's own output to stderr.
# Run it on an otherwise idle machine: on two cores a build beside it doubles the times.
size_mib=256
runs=10
bench_option=--size bench_variable=size_mib bench_metavar=MIB
source "$(dirname "$0")/common.sh" "$@"

source scripts/setup.sh
tw_need_packages hyperfine dos2unix time jq
if [ ! -x "$cli" ]; then
  tw_build build -DCMAKE_BUILD_TYPE=Release
fi
bench_enter bench

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
# name | its input file | its output file | the file that output must equal | command
# Every output is a new file, except in the row "over an existing output": the tool then
# makes the new content durable (fdatasync) before it takes the old file's place, and
# is to be compared with "dd copy + fdatasync".
commands=(
  "dd copy (bs=128K)|dos.txt|dd.out|dos.txt|dd if=dos.txt of=dd.out bs=128K status=none"
  "tarnwhistle DOS→UNIX|dos.txt|tw1.out|unix.txt|$cli convert --to unix dos.txt tw1.out"
  "tarnwhistle DOS→MAC|dos.txt|tw2.out|mac.txt|$cli convert --to mac dos.txt tw2.out"
  "tarnwhistle UNIX→DOS|unix.txt|tw3.out|dos.txt|$cli convert --to dos unix.txt tw3.out"
  "tarnwhistle UNIX→MAC|unix.txt|tw4.out|mac.txt|$cli convert --to mac unix.txt tw4.out"
  "tarnwhistle MAC→DOS|mac.txt|tw5.out|dos.txt|$cli convert --to dos mac.txt tw5.out"
  "tarnwhistle MAC→UNIX|mac.txt|tw6.out|unix.txt|$cli convert --to unix mac.txt tw6.out"
  "tr -d '\\r' (DOS→UNIX)|dos.txt|tr.out|unix.txt|tr -d '\\r' < dos.txt > tr.out"
  "dos2unix -n|dos.txt|d2u.out|unix.txt|dos2unix -q -n dos.txt d2u.out"
  "unix2dos -n|unix.txt|u2d.out|dos.txt|unix2dos -q -n unix.txt u2d.out"
  "mac2unix -n|mac.txt|m2u.out|unix.txt|mac2unix -q -n mac.txt m2u.out"
  "unix2mac -n|unix.txt|u2m.out|mac.txt|unix2mac -q -n unix.txt u2m.out"
  "dd copy + fdatasync|dos.txt|ddsync.out|dos.txt|dd if=dos.txt of=ddsync.out bs=128K conv=fdatasync status=none"
  "tarnwhistle DOS→UNIX over an existing output|dos.txt|existing.out|unix.txt|$cli convert --to unix dos.txt existing.out"
)

echo "Checking that the outputs agree ..." >&2
names=() inputs=() cmds=() prepares=()
for entry in "${commands[@]}"; do
  IFS='|' read -r name input out expected cmd <<< "$entry"
  names+=("$name")
  inputs+=("$input")
  cmds+=("$cmd")
  # Each run starts after a sync, so that no command pays for writing back what the
  # one before it left in the page cache, and with no output left from before.
  if [ "$out" = existing.out ]; then
    prepares+=("rm -f ./*.out; echo old > existing.out; sync")
  else
    prepares+=("rm -f ./*.out; sync")
  fi
  [ "$out" = existing.out ] && echo old > existing.out
  bash -c "$cmd" > /dev/null
  if ! cmp -s "$out" "$expected"; then
    echo "MISMATCH: $name wrote $out, which differs from $expected" >&2
    exit 1
  fi
  rm -f ./*.out
done
echo "All outputs agree." >&2

# --- Timing --------------------------------------------------------------------------
echo "Measured $(date -u +%Y-%m-%d) on $(nproc) CPUs ($(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)),"
echo "$(free -g | awk '/^Mem:/ { print $2 }') GiB of memory, files on $(df -hT . | awk 'NR == 2 { print $2 " on " $1 ", " $3 " with " $5 " free" }');"
echo "$(stat -c %s unix.txt) bytes UNIX, $(stat -c %s dos.txt) MS-DOS, $(stat -c %s mac.txt) MAC, $(wc -l < unix.txt) lines; medians of $runs runs."
echo
hyperfine_args=(--warmup 1 --runs "$runs" --export-json times.json --style basic)
for i in "${!cmds[@]}"; do hyperfine_args+=(--prepare "${prepares[$i]}"); done
for i in "${!cmds[@]}"; do hyperfine_args+=(--command-name "${names[$i]}" "${cmds[$i]}"); done
hyperfine "${hyperfine_args[@]}" >&2

median() { jq -r --arg name "$1" '.results[] | select(.command == $name) | .median' times.json; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
base=$(median "dd copy (bs=128K)")

echo "| Command | Median (s) | × dd copy | MiB/s read |"
echo "|---|---:|---:|---:|"
for i in "${!names[@]}"; do
  m=$(median "${names[$i]}")
  printf '| %s | %.3f | %s | %.0f |\n' "${names[$i]}" "$m" "$(ratio "$m" "$base")" \
    "$(awk -v b="$(stat -c %s "${inputs[$i]}")" -v m="$m" 'BEGIN { print b / 1048576 / m }')"
done

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
rm -f rss.out

hyperfine -N --warmup 3 --runs 50 --export-json detect.json --style none \
  --command-name "detect, 1 MiB file" "$cli detect small-dos.txt" \
  --command-name "detect, ${size_mib} MiB file" "$cli detect dos.txt" > /dev/null 2>&1
echo
echo "| Detection | Median (ms) |"
echo "|---|---:|"
jq -r '.results[] | "| \(.command) | \(.median * 1000 | . * 100 | round / 100) |"' detect.json

# --- Against the targets -------------------------------------------------------------
echo
d2u=$(median "tarnwhistle DOS→UNIX")
worst=$(for name in "${names[@]}"; do
  case $name in "tarnwhistle "*"over an existing output") ;; "tarnwhistle "*) median "$name" ;; esac
done | sort -g | tail -n 1)
verdict() { awk -v v="$1" -v t="$2" -v op="$3" 'BEGIN { ok = op == "<=" ? v <= t : v >= t; print ok ? "met" : "MISSED" }'; }
r=$(ratio "$worst" "$base")
echo "- Slowest conversion: $r × the dd copy (target ≤ 1.5): $(verdict "$r" 1.5 "<=")"
r=$(ratio "$(median "tr -d '\\r' (DOS→UNIX)")" "$d2u")
echo "- DOS→UNIX against tr -d '\\r': $r × faster (target ≥ 2): $(verdict "$r" 2 ">=")"
r=$(ratio "$(median "dos2unix -n")" "$d2u")
echo "- DOS→UNIX against dos2unix: $r × faster (target ≥ 5): $(verdict "$r" 5 ">=")"
