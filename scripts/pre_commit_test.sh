#!/usr/bin/env bash
# The hooks of .pre-commit-hooks.yaml as pre-commit runs them (`pre-commit try-repo`, which
# needs no network for hooks of language: system), on a repository of a CRLF file where
# its .editorconfig says LF: the check fails and names it, the fix converts it, the check
# then passes. Usage: scripts/pre_commit_test.sh BUILD_DIR
set -euo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "$1/bin" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PRE_COMMIT_HOME=$work/cache PATH=$bin:$PATH
export GIT_CONFIG_GLOBAL=$work/gitconfig GIT_AUTHOR_NAME=t GIT_AUTHOR_EMAIL=t@example.com
export GIT_COMMITTER_NAME=t GIT_COMMITTER_EMAIL=t@example.com
# try-repo clones this repository: root running it over a tree of another owner's needs this.
git config --global --add safe.directory '*'

repo=$work/repo
mkdir -p "$repo/.github"
cd "$repo"
git init -q
printf 'root = true\n[*]\nend_of_line = lf\n[*.bat]\nend_of_line = crlf\n' > .editorconfig
printf 'on: push\r\njobs: {}\r\n' > .github/ci.yml
printf 'echo\r\n' > run.bat
printf 'int main() {}\n' > main.c
git add -A
git commit -qm files

fail() { echo "pre-commit test: $*" >&2; exit 1; }
run() { pre-commit try-repo "$source_root" "$1" --all-files --verbose > "$work/out" 2>&1; }

if run tarnwhistle-check; then cat "$work/out"; fail "the check passed a CRLF file its .editorconfig sets to LF"; fi
grep -q '\.github/ci\.yml: CRLF 2、期待 LF' "$work/out" || { cat "$work/out"; fail "the check did not name the file"; }
if grep -q 'run\.bat\|main\.c' "$work/out"; then cat "$work/out"; fail "the check named a file that agrees"; fi
run tarnwhistle-fix || true  # fails because it changed a file, as fixing hooks do
[ "$(cat .github/ci.yml)" = "$(printf 'on: push\njobs: {}')" ] || fail "the fix did not convert .github/ci.yml"
[ "$(od -An -c run.bat | tr -d ' \n')" = 'echo\r\n' ] || fail "the fix changed run.bat, which is right as it is"
run tarnwhistle-check || { cat "$work/out"; fail "the check failed after the fix"; }
echo "pre-commit hooks: ok"
