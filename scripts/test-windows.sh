#!/usr/bin/env bash
# Runs the Windows build's suites under wine: scripts/test-windows.sh [BUILD]
# (build-windows by default, as scripts/build-windows.sh makes it). The wine prefix is
# made inside the build folder, with no display, so that nothing of the user's own wine
# is touched and a fresh clone runs it as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build-windows}
export WINEPREFIX=$PWD/$out/wine WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko to offer to install, and no window for anything.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
wine=$(command -v wine || command -v wine64)
# The first start makes the prefix (about 10 s); it is kept for later runs.
"$wine" cmd /c exit >/dev/null 2>&1 || true
for suite in tarnwhistle-engine-tests tarnwhistle-kernel-sse2-tests tarnwhistle-cli-tests; do
  echo "== $suite (wine)"
  "$wine" "$out/bin/$suite.exe" --gtest_brief=1
done
wineserver -k 2>/dev/null || true  # the server of this prefix, which would linger
