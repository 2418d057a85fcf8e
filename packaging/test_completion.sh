#!/usr/bin/env bash
# Checks tarnwhistle-cli's bash completion: each row is a command line, the cursor at its
# end, and the words the completion must offer there (sorted). check.sh runs it on the
# file the package installs.
#   packaging/test_completion.sh [COMPLETION_FILE]   (default: packaging/tarnwhistle-cli.bash)
set -uo pipefail
completion=$(realpath "${1:-$(dirname "$0")/tarnwhistle-cli.bash}")
source /usr/share/bash-completion/bash_completion
source "$completion"
# The function the file registers for tarnwhistle-cli.
function=$(complete -p tarnwhistle-cli 2>/dev/null | sed -n 's/.* -F \([^ ]*\) .*/\1/p')
[[ -n $function ]] || { echo "FAIL: $completion completes nothing for tarnwhistle-cli"; exit 1; }

# Names to complete: two files, one that looks like an option, a folder.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && touch a.txt b.csv ./-z.txt && mkdir sub

tests=(
  'tarnwhistle-cli |check convert detect info'
  'tarnwhistle-cli -|--help --version -V -h'
  'tarnwhistle-cli in|info'
  'tarnwhistle-cli detect -|--null -z'
  'tarnwhistle-cli info -z -|'
  'tarnwhistle-cli detect |-z.txt a.txt b.csv sub'
  'tarnwhistle-cli detect -- -|-z.txt'
  'tarnwhistle-cli convert -|--dry-run --editorconfig --exclude --files-from --from --in-place --include --keep-date --null --output-folder --quiet --recursive --to -f -k -o -q -r -t'
  'tarnwhistle-cli convert -t |cr crlf dos lf mac unix'
  'tarnwhistle-cli convert --to=u|unix'
  'tarnwhistle-cli convert -t unix -f C|cr crlf'
  'tarnwhistle-cli convert -t unix -f dos -|--keep-date --quiet -k -q'
  'tarnwhistle-cli convert -t unix -f dos -k -|--quiet -q'
  'tarnwhistle-cli convert -t unix -f dos |-z.txt a.txt b.csv sub'
  'tarnwhistle-cli convert -t unix -o |sub'
  'tarnwhistle-cli convert --output-folder=|sub'
  'tarnwhistle-cli convert --to=unix --in-place -r -q -|--dry-run --editorconfig --exclude --files-from --include --keep-date --null -k'
  'tarnwhistle-cli convert --include x -o sub -|--dry-run --editorconfig --exclude --files-from --include --keep-date --null --quiet --recursive --to -k -q -r -t'
  'tarnwhistle-cli check -|--editorconfig --exclude --files-from --format --include --null --recursive --to --verbose -r -t -v'
  'tarnwhistle-cli check --null --files-from |-z.txt a.txt b.csv sub'
  'tarnwhistle-cli check --format=|json text'
  'tarnwhistle-cli check -r --format json -v -|--editorconfig --exclude --files-from --include --null --to -t'
  'tarnwhistle-cli convert --include |'
  'tarnwhistle-cli check --editorconfig -|--exclude --files-from --format --include --null --recursive --verbose -r -v'
  'tarnwhistle-cli check --format |json text'
)

failures=0
for test in "${tests[@]}"; do
  line=${test%%|*}
  expected=${test#*|}
  # Words as bash splits them for completion: "=" is a word of its own.
  read -r -a COMP_WORDS <<<"${line//=/ = }"
  [[ $line == *[\ =] ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  "$function" tarnwhistle-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' ')
  if [[ $got != "$expected" ]]; then
    echo "FAIL: '$line': offered '$got', expected '$expected'"
    failures=$((failures + 1))
  fi
done
echo "test_completion.sh: $((${#tests[@]} - failures)) of ${#tests[@]} passed"
[[ $failures -eq 0 ]]
