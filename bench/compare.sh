#!/usr/bin/env bash
# Times tarnwhistle-cli against dd, cp, tr and dos2unix on large files and on a tree of
# many small ones, and `check` against `git ls-files --eol` (and eclint, where npm
# installs it) on a repository, and prints one Markdown report: the machine and this command line,
# the medians with each row's ratio to its reference, peak memory, the flushes of an
# in-place run, and whether the targets are met. Its progress goes to stderr.
#
#   bench/compare.sh [--sizes MIB,MIB | --size MIB] [--files N] [--runs N]
#                    [--dir DIR] [--cli PATH] [--quick]
#
#   --sizes  sizes of the large files, in MiB (default 64,256)
#   --files  how many small files in the tree (default 10000)
#   --runs   timed rounds, each running every command once (default 10)
#   --dir    where the work folder is made (default /var/tmp, on the disk where /tmp may
#            be in memory); it is removed at the end
#   --cli    the tarnwhistle-cli to measure (default build/bin/tarnwhistle-cli)
#   --quick  small sizes, few files and few runs, to try the script out (4,16 MiB,
#            1000 files, 3 runs); the options above still override them
#
# How it measures:
# - Every command writes a new output, and every run starts after a `sync`, so that no
#   command pays for writing back what the one before left in the page cache. The inputs
#   are read through just before (see `warm`), so that they are in the page cache: the
#   times are of the work, not of reading the disk.
# - The commands of a table are timed in rounds, each one hyperfine invocation running
#   every command once, in turn (see `hyperfine_rounds`); the medians are over the rounds.
# - The large-file commands of one size are timed together, the outputs of the run
#   before removed first. Beside them, "over an existing output": the
#   old output is recreated before each run, and tarnwhistle-cli, which then makes the
#   new bytes durable before it takes the old file's place, is set against
#   `dd conv=fdatasync`, which does the same.
# - The tree is copied afresh for each run, in the untimed prepare step, then synced;
#   `-r -o OUT src` is set against `cp -r src OUT`, then, timed apart,
#   `--in-place -r` against dos2unix in place. Earlier trees are kept, not deleted,
#   until the end, and each copy is placed in a block group of its own (see `fresh`).
# - The repository is copies of /usr/include, /usr/share/doc and /usr/lib/python3 (about
#   19,000 files), committed with git, with .editorconfig files at three levels; its
#   files are read through before each run. --quick does not make it smaller.
# - Every output is compared byte for byte with the file it must equal before anything
#   is timed; a mismatch or a failed command stops the script with exit 1.
# Run it on an otherwise idle machine: on two cores a build beside it doubles the times.
set -euo pipefail
invocation=bench/compare.sh
for arg in "$@"; do
  if [[ $arg =~ ^[A-Za-z0-9_./,=:+-]+$ ]]; then invocation+=" $arg"; else invocation+=" '${arg//\'/\'\\\'\'}'"; fi
done
cd "$(dirname "$0")/.."

usage() {
  awk '/^#   bench/ { on = 1 } on && /^#$/ { exit } on { sub(/^# ?/, ""); print }' "$0" >&2
  exit "$1"
}
quick=no opt_sizes="" opt_files="" opt_runs=""
work_parent=/var/tmp
cli=build/bin/tarnwhistle-cli
while [ $# -gt 0 ]; do
  case $1 in
    --size | --sizes) opt_sizes=${2:?}; shift 2 ;;
    --files) opt_files=${2:?}; shift 2 ;;
    --runs) opt_runs=${2:?}; shift 2 ;;
    --dir) work_parent=${2:?}; shift 2 ;;
    --cli) cli=${2:?}; shift 2 ;;
    --quick) quick=yes; shift ;;
    -h | --help) usage 0 ;;
    *) usage 2 ;;
  esac
done
if [ $quick = yes ]; then
  sizes=${opt_sizes:-4,16} files=${opt_files:-1000} runs=${opt_runs:-3}
else
  sizes=${opt_sizes:-64,256} files=${opt_files:-10000} runs=${opt_runs:-10}
fi
IFS=, read -r -a size_list <<< "$sizes"
for n in "${size_list[@]}" "$files" "$runs"; do
  [[ $n =~ ^[1-9][0-9]*$ ]] || { echo "$0: not a positive whole number: '$n'" >&2; usage 2; }
done
largest=$(printf '%s\n' "${size_list[@]}" | sort -n | tail -n 1)

source scripts/setup.sh
tw_need_packages hyperfine dos2unix time jq strace git
if [ ! -x "$cli" ]; then
  echo "$0: no $cli; build it first:" >&2
  echo "  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWHISTLE_BUILD_GUI=OFF && cmake --build build --target tarnwhistle-cli" >&2
  exit 2
fi
cli=$(readlink -f "$cli")

# The large files of the largest size and their outputs, and every copy of the tree,
# kept to the end: one for each run, warm-up and check of the four many-files commands,
# four for memory and flushes, the source and the expected tree (8 KiB a file at most).
# The repository: its files, and git's copy of them.
repo_sources=(/usr/include /usr/share/doc /usr/lib/python3)
repo_mib=$(du -smc "${repo_sources[@]}" 2> /dev/null | awk 'END { print $1 }')
need_mib=$((7 * largest + files * 8 * (4 * (runs + 2) + 6) / 1024 + 64 + 2 * repo_mib))
free_mib=$(df -Pm "$work_parent" | awk 'NR == 2 { print $4 }')
if [ "$free_mib" -lt "$need_mib" ]; then
  echo "$0: needs about $need_mib MiB free in $work_parent; there are $free_mib" >&2
  exit 2
fi
work=$(mktemp -d "$work_parent/tarnwhistle-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
# Read before anything here loads the machine.
load_at_start=$(cut -d ' ' -f 1 /proc/loadavg)

fail() { echo "$0: $*" >&2; exit 1; }
median() { jq -r --arg name "$2" '.results[] | select(.command == $name) | .median' "$1"; }

# hyperfine_rounds JSON ENTRY...: times commands in rounds, each round one hyperfine
# invocation running every command once, in an order of its own, after a round that is
# not timed; then writes to JSON each command's times and their median. An ENTRY is
# "NAME<tab>PREPARE<tab>COMMAND". The machine's two cores are shared with other
# machines, and a slow moment then falls on every command alike, where runs of one
# command after another let it fall on one command's runs: in one run so,
# tarnwhistle-cli MAC→UNIX measured 0.12-0.41 s at 256 MiB, the rows beside it
# 0.09-0.11 s. The order changes from round to round (the same on every run of this
# script), so that no command always follows the one whose output its prepare deletes.
hyperfine_rounds() {
  local json=$1 round i j entry name prepare cmd
  shift
  local entries=("$@") args
  RANDOM=20261209
  for ((round = 0; round <= runs; round++)); do
    for ((i = ${#entries[@]} - 1; i > 0; i--)); do  # a Fisher-Yates shuffle
      j=$((RANDOM % (i + 1)))
      entry=${entries[i]} entries[i]=${entries[j]} entries[j]=$entry
    done
    args=()
    for entry in "${entries[@]}"; do
      IFS=$'\t' read -r name prepare cmd <<< "$entry"
      args+=(--prepare "$prepare" --command-name "$name" "$cmd")
    done
    if ((round == 0)); then
      hyperfine --runs 1 --style none "${args[@]}" > /dev/null
    else
      echo "  round $round of $runs" >&2
      hyperfine --runs 1 --style none --export-json "round-$round.json" "${args[@]}" > /dev/null
    fi
  done
  jq -s '[.[].results[]] | group_by(.command) | map({command: .[0].command, times: map(.times[]) | sort})
         | map(. + {median: (.times | if length % 2 == 1 then .[length / 2 | floor]
                                      else (.[length / 2 - 1] + .[length / 2]) / 2 end)})
         | {results: .}' round-*.json > "$json"
  rm -f round-*.json
  jq -r '.results[] | "  \(.command): median \(.median * 1000 | floor) ms, \(.times[0] * 1000 | floor)-\(.times[-1] * 1000 | floor) ms"' \
    "$json" >&2
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
at_most() { awk -v v="$1" -v t="$2" 'BEGIN { print v <= t ? "met" : "MISSED" }'; }
peak_kib() {  # peak_kib COMMAND: the largest resident size of the command, in KiB
  /usr/bin/time -f %M -o rss.txt bash -c "$1" > /dev/null || fail "failed: $1"
  tail -n 1 rss.txt
}

# --- Large files -------------------------------------------------------------------
# A 4 MiB block of text lines, repeated up to the size asked for: line lengths spread
# from empty to about 200 bytes (most 20 to 90), about one line in five with Japanese
# UTF-8 text, the rest English words, some with a leading tab; the same bytes on every
# run. The UNIX file is the base; the others are made from it by sed, tr and perl, not
# by any tool under test.
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

make_large_files() {  # make_large_files MIB
  local bytes=$(($1 * 1024 * 1024)) block_bytes i
  block_bytes=$(stat -c %s block.txt)
  for ((i = 0; i < bytes / block_bytes; i++)); do cat block.txt; done > unix.txt
  # The rest up to the size, cut at the end of a line.
  head -c $((bytes - $(stat -c %s unix.txt))) block.txt | sed '$d' >> unix.txt
  sed 's/$/\r/' unix.txt > dos.txt
  tr '\n' '\r' < unix.txt > mac.txt
  # Line ends taking turns: CR LF, LF, CR. Each is one line ending, which becomes an LF:
  # the UNIX form of the mixed file is the UNIX file itself.
  perl -ne '
    chomp;
    print $_, ("\r\n", "\n", "\r")[($. - 1) % 3];
  ' unix.txt > mixed.txt
  cp unix.txt mixed-unix.txt
}

# name | input | output | the file it must equal | command
large_commands=(
  "dd bs=128K|dos.txt|dd.out|dos.txt|dd if=dos.txt of=dd.out bs=128K status=none"
  "cp|dos.txt|cp.out|dos.txt|cp dos.txt cp.out"
  "tarnwhistle-cli DOS→UNIX|dos.txt|tw1.out|unix.txt|$cli convert --to unix dos.txt tw1.out"
  "tarnwhistle-cli DOS→MAC|dos.txt|tw2.out|mac.txt|$cli convert --to mac dos.txt tw2.out"
  "tarnwhistle-cli UNIX→DOS|unix.txt|tw3.out|dos.txt|$cli convert --to dos unix.txt tw3.out"
  "tarnwhistle-cli UNIX→MAC|unix.txt|tw4.out|mac.txt|$cli convert --to mac unix.txt tw4.out"
  "tarnwhistle-cli MAC→DOS|mac.txt|tw5.out|dos.txt|$cli convert --to dos mac.txt tw5.out"
  "tarnwhistle-cli MAC→UNIX|mac.txt|tw6.out|unix.txt|$cli convert --to unix mac.txt tw6.out"
  "tarnwhistle-cli --to unix, mixed file|mixed.txt|tw7.out|mixed-unix.txt|$cli convert --to unix mixed.txt tw7.out"
  "tr -d '\\r'|dos.txt|tr.out|unix.txt|tr -d '\\r' < dos.txt > tr.out"
  "dos2unix -n|dos.txt|d2u.out|unix.txt|dos2unix -q -n dos.txt d2u.out"
  "unix2dos -n|unix.txt|u2d.out|dos.txt|unix2dos -q -n unix.txt u2d.out"
)
# The same, over an output that exists: it is recreated from the file named, then synced.
# name | input | output | the file it must equal | the old output | command
existing_commands=(
  "dd conv=fdatasync|dos.txt|dd-old.out|dos.txt|dos.txt|dd if=dos.txt of=dd-old.out bs=128K conv=fdatasync status=none"
  "tarnwhistle-cli DOS→UNIX over an existing output|dos.txt|tw-old.out|unix.txt|unix.txt|$cli convert --to unix dos.txt tw-old.out"
)
fresh_outputs="rm -f ./*.out; sync"
# The input read through once before each run: this machine's memory monitor (DAMON,
# `pageout`) writes out page-cache pages left untouched for a few seconds, so an input
# last read a dozen runs ago may be partly back on the disk, and the run then times the
# disk (dd measured 0.32-0.65 s at 256 MiB so, 0.11-0.15 s with the input read first).
warm() { echo "cat $1 > /dev/null"; }
large_names=() existing_names=()
for entry in "${large_commands[@]}"; do large_names+=("${entry%%|*}"); done
for entry in "${existing_commands[@]}"; do existing_names+=("${entry%%|*}"); done

declare -A large_median existing_median large_peak size_facts
for size in "${size_list[@]}"; do
  echo "Making the ${size} MiB files in $work ..." >&2
  rm -f ./*.out
  make_large_files "$size"
  size_facts[$size]="$(stat -c %s unix.txt) bytes UNIX and MAC, $(stat -c %s dos.txt) MS-DOS, \
$(stat -c %s mixed.txt) mixed; $(wc -l < unix.txt) lines"

  echo "Checking the outputs ..." >&2
  timed=()
  for entry in "${large_commands[@]}"; do
    IFS='|' read -r name input out expected cmd <<< "$entry"
    bash -c "$fresh_outputs; $cmd" > /dev/null || fail "$name failed"
    cmp "$out" "$expected" >&2 || fail "$name wrote $out, which differs from $expected"
    timed+=("$name"$'\t'"$(warm "$input"); $fresh_outputs"$'\t'"$cmd")
  done
  for entry in "${existing_commands[@]}"; do
    IFS='|' read -r name input out expected old cmd <<< "$entry"
    prepare="$(warm "$input"); rm -f ./*.out; cp $old $out; sync"
    bash -c "$prepare; $cmd" > /dev/null || fail "$name failed"
    cmp "$out" "$expected" >&2 || fail "$name wrote $out, which differs from $expected"
    timed+=("$name"$'\t'"$prepare"$'\t'"$cmd")
  done
  rm -f ./*.out

  hyperfine_rounds "large-$size.json" "${timed[@]}"
  for name in "${large_names[@]}"; do large_median[$size,$name]=$(median "large-$size.json" "$name"); done
  for name in "${existing_names[@]}"; do existing_median[$size,$name]=$(median "large-$size.json" "$name"); done

  if [ "$size" = "$largest" ]; then
    for entry in "${large_commands[@]}"; do
      IFS='|' read -r name input out expected cmd <<< "$entry"
      [[ $name == tarnwhistle-cli* ]] || continue
      bash -c "$fresh_outputs"
      large_peak[$name]=$(peak_kib "$cmd")
    done
  fi
done
rm -f ./*.txt ./*.out

# --- Many files --------------------------------------------------------------------
# 200 B to 8 KiB of CR LF text a file, English and Japanese, in 50 folders; the same
# bytes on every run. The tree the conversions must give, with LF, is written beside it.
echo "Making $files files in $work ..." >&2
perl -e '
  srand(20261208);
  my @en = qw(the line ending of each file is converted byte by byte and written to a new
              output which replaces the old one only when complete data report value total
              count name path result error server client request response config build);
  my @ja = ("日本語", "テキスト", "改行コード", "変換", "ファイル", "設定", "報告書", "。", "、");
  my ($count) = @ARGV;
  mkdir "src";
  mkdir "expected";
  for my $i (0 .. $count - 1) {
    my $folder = sprintf("d%02d", $i % 50);
    mkdir "src/$folder";
    mkdir "expected/$folder";
    my $size = 200 + int(rand(8 * 1024 - 200));
    my ($dos, $unix) = ("", "");
    while (length($dos) < $size) {
      my $line = rand() < 0.1 ? "\t" : "";
      my $target = rand() < 0.05 ? 0 : 10 + int(rand(90));
      $line .= rand() < 0.2 ? $ja[int(rand(@ja))] : $en[int(rand(@en))] . " " while length($line) < $target;
      $dos .= $line . "\r\n";
      $unix .= $line . "\n";
    }
    for (["src", $dos], ["expected", $unix]) {
      open(my $f, ">", sprintf("%s/%s/f%05d.txt", $_->[0], $folder, $i)) or die;
      binmode $f;
      print $f $_->[1];
      close $f;
    }
  }
' "$files"

# Where `tarnwhistle-cli convert -r -o OUT src` puts the files of src, below OUT: each
# folder named keeps its own name below OUT, as cp -r does.
cli_tree_place=src

# The start of every many-files run: `./fresh tree NAME` puts a copy of src at NAME for a
# run in place, `./fresh out NAME` an empty output folder after reading src through (see
# `warm`), then syncs. Whatever was at NAME is kept under another name until the end, not
# deleted, and each copy or folder is made under a name of its own in this folder, which
# has the ext4 attribute T ("top of a directory tree"): ext4 then places it, like a folder
# at the root, in a block group with few folders, not beside the trees of earlier runs. On ext4 without a journal, every new
# file passes over the inodes freed in its group in the last minute, five when the inode
# table is written to again, one call each: `cp -r` of 10,000 files took 1.6 s and up to
# 5 s right after as many were deleted beside it, 0.3 s in a group of its own. A run in
# place frees an inode for each file it replaces, so the run after it would pay for those.
chattr +T . 2> /dev/null || true
cat > fresh << 'EOF'
#!/usr/bin/env bash
set -euo pipefail
if [ -e "$2" ]; then mv "$2" "$(mktemp -u old-XXXXXXXX)"; fi
new=$(mktemp -d new-XXXXXXXX)
if [ "$1" = tree ]; then cp -r src/. "$new"; else find src -type f -exec cat {} + > /dev/null; fi
mv "$new" "$2"
sync
EOF
chmod +x fresh
# name | prepare | command | the folder it fills | the tree that folder must equal
# The copies come first: a run in place frees an inode for each file it replaces.
many_copies=(
  "cp -r src OUT|./fresh out out-cp|cp -r src out-cp|out-cp/src|src"
  "tarnwhistle-cli -r -o OUT src|./fresh out out-tw|$cli convert --to unix -r -o out-tw src|out-tw/$cli_tree_place|expected"
)
many_in_place=(
  "dos2unix in place|./fresh tree tree-d2u|find tree-d2u -name '*.txt' -exec dos2unix -q {} +|tree-d2u|expected"
  "tarnwhistle-cli --in-place -r|./fresh tree tree-tw|$cli convert --to unix --in-place -r tree-tw|tree-tw|expected"
)
many_commands=("${many_in_place[@]}" "${many_copies[@]}")

declare -A many_median many_peak
time_many() {  # time_many NAME ENTRY...: checks the outputs, then times them together
  local json=$1.json entry name prepare cmd result expected
  shift
  echo "Checking the outputs ..." >&2
  local timed=()
  for entry in "$@"; do
    IFS='|' read -r name prepare cmd result expected <<< "$entry"
    bash -c "$prepare; $cmd" > /dev/null || fail "$name failed"
    if ! diff -rq "$expected" "$result" > diff.txt; then
      head -n 5 diff.txt >&2
      fail "$name: $result differs from $expected"
    fi
    timed+=("$name"$'\t'"$prepare"$'\t'"$cmd")
  done
  hyperfine_rounds "$json" "${timed[@]}"
  for entry in "$@"; do
    IFS='|' read -r name prepare cmd result expected <<< "$entry"
    many_median[$name]=$(median "$json" "$name")
  done
}
time_many copies "${many_copies[@]}"
time_many in-place "${many_in_place[@]}"

for entry in "${many_commands[@]}"; do
  IFS='|' read -r name prepare cmd result expected <<< "$entry"
  if [[ $name == tarnwhistle-cli* ]]; then
    bash -c "$prepare"
    many_peak[$name]=$(peak_kib "$cmd")
  fi
done

# Flushes of a run in place, counted apart from the timing: strace slows every call.
flush_calls=fsync,fdatasync,syncfs,sync_file_range,sync
flushes() {  # flushes COMMAND: the flush calls it makes, summed
  strace -f -c -o strace.txt -e trace=$flush_calls bash -c "$1" > /dev/null || fail "failed under strace: $1"
  awk -v calls=",$flush_calls," 'index(calls, "," $NF ",") { n += $4 } END { print n + 0 }' strace.txt
}
./fresh tree tree-tw
tw_flushes=$(flushes "$cli convert --to unix --in-place -r tree-tw")
./fresh tree tree-d2u
d2u_flushes=$(flushes "find tree-d2u -name '*.txt' -exec dos2unix -q {} +")
per_thousand() { awk -v n="$1" -v f="$files" 'BEGIN { printf "%.1f", n * 1000 / f }'; }

# --- A repository ------------------------------------------------------------------
# `check -r` reads every file whole, as `git ls-files --eol` does for its "w/" column.
# The .editorconfig files: LF for all, CRLF for .bat and .cmd, nothing for Markdown at
# the top; a few sections below, one naming a folder.
echo "Making the repository in $work ..." >&2
mkdir repo
for source in "${repo_sources[@]}"; do cp -r "$source" "repo/$(basename "$source")"; done
printf 'root = true\n\n[*]\nend_of_line = lf\n\n[*.{bat,cmd}]\nend_of_line = crlf\n\n[*.md]\nend_of_line = unset\n' \
  > repo/.editorconfig
printf '[*.h]\nend_of_line = lf\n\n[{Makefile,*.mk}]\nend_of_line = lf\n' > repo/include/.editorconfig
printf '[*.h]\nend_of_line = lf\n\n[uapi/**]\nend_of_line = lf\n' > repo/include/linux/.editorconfig
git -C repo init -q
git -C repo -c core.compression=0 add -A
git -C repo -c user.name=bench -c user.email=bench@localhost commit -qm repository
repo_files=$(git -C repo ls-files | wc -l)
repo_size=$(du -sm --exclude=.git repo | cut -f 1)
warm_repo="find repo -path repo/.git -prune -o -type f -exec cat {} + > /dev/null"
# check exits 1 when a file differs, as some here do: only 2 and up are failures.
checked() { echo "$cli check -r $1 repo > /dev/null || [ \$? -eq 1 ]"; }
repo_commands=(
  "git ls-files --eol"$'\t'"$warm_repo"$'\t'"git -C repo ls-files --eol > /dev/null"
  "tarnwhistle-cli check -r -t lf"$'\t'"$warm_repo"$'\t'"$(checked "-t lf")"
  "tarnwhistle-cli check -r --editorconfig"$'\t'"$warm_repo"$'\t'"$(checked --editorconfig)"
)
echo "Checking the commands ..." >&2
for entry in "${repo_commands[@]}"; do
  IFS=$'\t' read -r name _ cmd <<< "$entry"
  bash -c "$cmd" || fail "$name failed"
done
hyperfine_rounds repo.json "${repo_commands[@]}"
declare -A repo_median
for entry in "${repo_commands[@]}"; do
  IFS=$'\t' read -r name _ <<< "$entry"
  repo_median[$name]=$(median repo.json "$name")
done
repo_peak=$(peak_kib "$(checked --editorconfig)")
# eclint (npm) checks every EditorConfig property, not only end_of_line: timed once,
# beside the rounds, where it is installed. It is given the regular files: walking by
# itself, it stops at the first link that leads nowhere (/usr/share/doc has some).
eclint_seconds=""
if command -v eclint > /dev/null; then
  bash -c "$warm_repo"
  start=$(date +%s.%N)
  (cd repo && find . -path ./.git -prune -o -type f -print0 | xargs -0 eclint check > /dev/null 2>&1) || true
  eclint_seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }')
fi

# --- Report ------------------------------------------------------------------------
tree_mib=$(du -sm src | cut -f 1)
fs=$(df -PT . | awk 'NR == 2 { print $2 " on " $1 }')
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
memory=$(free -g | awk '/^Mem:/ { print $2 }')
echo "Machine: $(nproc) cores ($cpu), $memory GiB of memory, $fs, Linux $(uname -r);" \
  "load average $load_at_start at the start. Measured $(date -u '+%Y-%m-%d %H:%M') UTC with:"
echo
echo "    $invocation"
echo
echo "$($cli --version | head -n 1), hyperfine $(hyperfine --version | cut -d ' ' -f 2)," \
  "dos2unix $(dos2unix --version | awk 'NR == 1 { print $2 }'), coreutils $(cp --version | awk 'NR == 1 { print $NF }');" \
  "medians of $runs rounds, each running every command once after a sync, every command writing a new output."
for size in "${size_list[@]}"; do echo "${size} MiB: ${size_facts[$size]}."; done
echo

header="| Large file, new output |" rule="|---|"
for size in "${size_list[@]}"; do header+=" ${size} MiB (s) | × dd |"; rule+="---:|---:|"; done
header+=" Peak RSS, ${largest} MiB |" rule+="---:|"
echo "$header"; echo "$rule"
for name in "${large_names[@]}"; do
  row="| $name |"
  for size in "${size_list[@]}"; do
    m=${large_median[$size,$name]}
    row+=" $(printf %.3f "$m") | $(ratio "$m" "${large_median[$size,dd bs=128K]}") |"
  done
  peak=${large_peak[$name]:-}
  echo "$row ${peak:+$peak KiB} |"
done
echo
header="| Large file, over an existing output (recreated and synced before each run) |" rule="|---|"
for size in "${size_list[@]}"; do header+=" ${size} MiB (s) | × dd conv=fdatasync |"; rule+="---:|---:|"; done
echo "$header"; echo "$rule"
for name in "${existing_names[@]}"; do
  row="| $name |"
  for size in "${size_list[@]}"; do
    m=${existing_median[$size,$name]}
    row+=" $(printf %.3f "$m") | $(ratio "$m" "${existing_median[$size,dd conv=fdatasync]}") |"
  done
  echo "$row"
done
echo
echo "| $files files, $tree_mib MiB, in 50 folders; a fresh copy each run | Median (s) | × reference | Peak RSS |"
echo "|---|---:|---:|---:|"
for entry in "${many_commands[@]}"; do
  IFS='|' read -r name _ <<< "$entry"
  case $name in *in?place*) reference="dos2unix in place" ;; *) reference="cp -r src OUT" ;; esac
  m=${many_median[$name]}
  peak=${many_peak[$name]:-}
  echo "| $name | $(printf %.3f "$m") | $(ratio "$m" "${many_median[$reference]}") | ${peak:+$peak KiB} |"
done
echo
echo "| A repository of $repo_files files, $repo_size MiB, committed with git | Median (s) | × git ls-files --eol | × check -t lf | Peak RSS |"
echo "|---|---:|---:|---:|---:|"
for entry in "${repo_commands[@]}"; do
  IFS=$'\t' read -r name _ <<< "$entry"
  m=${repo_median[$name]}
  peak=""
  [[ $name == *editorconfig ]] && peak="$repo_peak KiB"
  echo "| $name | $(printf %.3f "$m") | $(ratio "$m" "${repo_median[git ls-files --eol]}") |" \
    "$(ratio "$m" "${repo_median[tarnwhistle-cli check -r -t lf]}") | $peak |"
done
if [ -n "$eclint_seconds" ]; then
  echo "| eclint check (one run) | $eclint_seconds | $(ratio "$eclint_seconds" "${repo_median[git ls-files --eol]}") | | |"
else
  echo "| eclint check | not installed (npm install -g eclint) | | | |"
fi
echo
echo "Flushes ($flush_calls) per 1,000 files in place: tarnwhistle-cli $(per_thousand "$tw_flushes")" \
  "($tw_flushes for $files files), dos2unix $(per_thousand "$d2u_flushes")."
echo

for size in "${size_list[@]}"; do
  slowest=$(for name in "${large_names[@]}"; do
    if [[ $name == tarnwhistle-cli* ]]; then printf '%s\t%s\n' "${large_median[$size,$name]}" "$name"; fi
  done | sort -g | tail -n 1)
  r=$(ratio "${slowest%%$'\t'*}" "${large_median[$size,dd bs=128K]}")
  echo "- ${size} MiB: every conversion at most 1.2 × dd: $(at_most "$r" 1.2) (slowest ${slowest#*$'\t'}, $r ×)"
done
r=$(ratio "${many_median[tarnwhistle-cli --in-place -r]}" "${many_median[dos2unix in place]}")
echo "- --in-place over $files files at most 0.5 × dos2unix in place: $(at_most "$r" 0.5) ($r ×)"
r=$(ratio "${many_median[tarnwhistle-cli -r -o OUT src]}" "${many_median[cp -r src OUT]}")
echo "- -r -o at most 1.5 × cp -r: $(at_most "$r" 1.5) ($r ×)"
peak=$(printf '%s\n' "${large_peak[@]}" "${many_peak[@]}" | sort -n | tail -n 1)
echo "- Peak RSS under 8 MiB: $(at_most "$peak" 8191) (largest $peak KiB)"
git_median=${repo_median[git ls-files --eol]}
for name in "tarnwhistle-cli check -r -t lf" "tarnwhistle-cli check -r --editorconfig"; do
  r=$(ratio "${repo_median[$name]}" "$git_median")
  echo "- ${name#tarnwhistle-cli } at most 0.25 × git ls-files --eol: $(at_most "$r" 0.25) ($r ×)"
done
r=$(ratio "${repo_median[tarnwhistle-cli check -r --editorconfig]}" "${repo_median[tarnwhistle-cli check -r -t lf]}")
echo "- check -r --editorconfig at most 1.3 × check -r -t lf: $(at_most "$r" 1.3) ($r ×)"
echo "- check's peak RSS under 16 MiB: $(at_most "$repo_peak" 16383) ($repo_peak KiB)"
