# Sourced by the benchmarks once they have set their defaults: runs them from the top of
# the tree and reads the options they share (--runs N, --dir DIR, --cli PATH) and the one
# of their own, named by bench_option and kept in the variable bench_variable.
#   source "$(dirname "$0")/common.sh" "$@"
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

work_parent=/var/tmp
cli=build/bin/tarnwhistle-cli
while [ $# -gt 0 ]; do
  case $1 in
    "$bench_option") printf -v "$bench_variable" %s "$2"; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --dir) work_parent=$2; shift 2 ;;
    --cli) cli=$2; shift 2 ;;
    *) echo "usage: $0 [$bench_option $bench_metavar] [--runs N] [--dir DIR] [--cli PATH]" >&2; exit 2 ;;
  esac
done

# bench_enter NAME: takes the tool by its full path and moves into a fresh folder under
# DIR named for the benchmark, removed with everything in it at the end.
bench_enter() {
  cli=$(readlink -f "$cli")
  work=$(mktemp -d "$work_parent/tarnwhistle-$1-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  cd "$work"
}
