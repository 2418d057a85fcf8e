#!/usr/bin/env bash
# Sets up, builds and starts the Tarnwhistle window.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh

tw_need_packages "${TW_BUILD_PACKAGES[@]}"
tw_build build -DCMAKE_BUILD_TYPE=Release

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are unset); run it in a desktop session or under xvfb-run." >&2
  exit 1
fi
exec build/bin/tarnwhistle
