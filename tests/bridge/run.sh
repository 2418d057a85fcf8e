#!/usr/bin/env bash
# Starts the real windows on a virtual display, with a session bus and the accessibility
# bus as a desktop has them, and reads them over AT-SPI (read_windows.py).
# Usage: tests/bridge/run.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$(cd "$1" && pwd)/bin/tarnwhistle
config=$(mktemp -d)  # the windows' remembered settings are the test's own
export XDG_CONFIG_HOME=$config
trap 'rm -rf "$config"' EXIT
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb
# shellcheck disable=SC2016
xvfb-run -a -s '-screen 0 1280x1024x24' dbus-run-session -- bash -c '
  /usr/libexec/at-spi-bus-launcher --launch-immediately &
  launcher=$!
  trap "kill $launcher" EXIT
  /usr/bin/python3 "$0" "$1"' "$here/read_windows.py" "$program"
