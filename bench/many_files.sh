#!/usr/bin/env bash
# Converts many small files in one process with tarnwhistle-cli and with dos2unix, side
# by side, and prints a Markdown table of medians, their ratio and the peak memory.
#
#   bench/many_files.sh [--files N] [--runs N] [--dir DIR] [--cli PATH]
#
# The files (10,000 by default, 200 B to 8 KiB of CR LF text, English and Japanese, in
# 100 folders; the same bytes on every run) go into a fresh folder under DIR (default
# /var/tmp), removed at the end with every output. The runs of the two tools take
# turns, so that a change in the machine's load falls on both. Both outputs are checked
# to be the same before anything is timed. Run it on an otherwise idle machine.
files=10000
runs=7
bench_option=--files bench_variable=files bench_metavar=N
source "$(dirname "$0")/common.sh" "$@"

for tool in dos2unix perl /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$0: needs $tool" >&2; exit 2; }
done
[ -x "$cli" ] || { echo "$0: no $cli; build it first (cmake --build build --target tarnwhistle-cli)" >&2; exit 2; }
bench_enter many

echo "Making $files files in $work ..." >&2
perl -e '
  srand(20261208);
  my @en = qw(the line ending of each file is converted byte by byte and written to a new
              output which replaces the old one only when complete data report value total
              count name path result error server client request response config build);
  my @ja = ("日本語", "テキスト", "改行コード", "変換", "ファイル", "設定", "報告書", "。", "、");
  my ($count) = @ARGV;
  mkdir "src";
  for my $i (0 .. $count - 1) {
    my $dir = sprintf("src/d%02d", $i % 100);
    mkdir $dir;
    my $size = 200 + int(rand(8 * 1024 - 200));
    my $text = "";
    while (length($text) < $size) {
      my $line = rand() < 0.1 ? "\t" : "";
      my $target = rand() < 0.05 ? 0 : 10 + int(rand(90));
      $line .= rand() < 0.2 ? $ja[int(rand(@ja))] : $en[int(rand(@en))] . " " while length($line) < $target;
      $text .= $line . "\r\n";
    }
    open(my $f, ">", sprintf("%s/f%05d.txt", $dir, $i)) or die;
    binmode $f;
    print $f $text;
    close $f;
  }
' "$files"
# dos2unix is given every SRC OUT pair on one command line.
find src -type f | sort > sources
[ "$(getconf ARG_MAX)" -gt "$((2 * $(wc -c < sources) + 20000))" ] || { echo "$0: too many files for one command line" >&2; exit 2; }

# Every run writes into a new output tree: right after thousands of files are deleted,
# ext4 spends most of a run looking for free inodes (recently_deleted), whichever tool
# runs, and the times would measure the deletion instead of the conversion.
run=0
next_output() { run=$((run + 1)); output=out$run; }
run_tw() { "$cli" convert --to unix -r -o "$output" src > /dev/null 2> tw.log; }
prepare_d2u() {  # the folders, which dos2unix cannot make, and the pairs, outside the timing
  (cd src && find . -type d) | sed "s|^\.|$output|" | xargs mkdir -p
  mapfile -t pair_list < <(awk -v out="$output" '{ o = $0; sub(/^src/, out, o); print $0; print o }' sources)
}
run_d2u() { dos2unix -q -n "${pair_list[@]}"; }
seconds() { local start=$EPOCHREALTIME; "$@"; echo "$EPOCHREALTIME - $start" | bc; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

next_output; tw_check=$output; run_tw
next_output; prepare_d2u; run_d2u
diff -r "$tw_check" "$output" > /dev/null || { echo "$0: the two outputs differ" >&2; exit 1; }
sync

tw_times=() d2u_times=()
for ((i = 0; i < runs; i++)); do
  next_output; tw_times+=("$(seconds run_tw)")
  next_output; prepare_d2u; d2u_times+=("$(seconds run_d2u)")
done
tw=$(printf '%s\n' "${tw_times[@]}" | median)
d2u=$(printf '%s\n' "${d2u_times[@]}" | median)

next_output; tw_kib=$(/usr/bin/time -f %M "$cli" convert --to unix -r -o "$output" src 2>&1 >/dev/null | tail -1)
next_output; prepare_d2u; d2u_kib=$(/usr/bin/time -f %M dos2unix -q -n "${pair_list[@]}" 2>&1 | tail -1)
# Memory flat in the number of files: the peak for a tenth of them.
next_output
mapfile -t tenth < <(awk -v n=$((files / 10)) 'NR <= n' sources)
tw_tenth_kib=$(/usr/bin/time -f %M "$cli" convert --to unix -o "$output" "${tenth[@]}" 2>&1 >/dev/null | tail -1)

size=$(du -sk src | cut -f1)
echo "$files files, $((size / 1024)) MiB, median of $runs runs; $(nproc) cores, $(uname -r)"
echo
echo "| Tool | Command | Time (s) | Peak memory |"
echo "|---|---|---:|---:|"
echo "| tarnwhistle-cli | \`convert --to unix -r -o OUT src\` | $tw | $tw_kib KiB ($tw_tenth_kib KiB for $((files / 10)) files) |"
echo "| dos2unix $(dos2unix --version | head -1 | awk '{print $2}') | \`dos2unix -q -n SRC OUT ...\` | $d2u | $d2u_kib KiB |"
echo
echo "dos2unix / tarnwhistle-cli: $(echo "scale=2; $d2u / $tw" | bc) x"
