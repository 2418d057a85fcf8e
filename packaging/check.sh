#!/usr/bin/env bash
# Builds the Debian package from an existing, configured build folder and checks it:
# lintian with no error or warning, the desktop entry valid. Exits non-zero otherwise.
#   packaging/check.sh [BUILD_DIR]        (default: build)
set -euo pipefail
build=$(realpath "${1:-build}")
source_dir=$(realpath "$(dirname "$0")/..")

cmake --build "$build"
rm -f "$build"/tarnwhistle_*.deb
(cd "$build" && cpack -G DEB)
package=$(ls "$build"/tarnwhistle_*.deb)

# Info and pedantic tags are listed but do not fail the check.
lintian --fail-on error,warning --tag-display-limit 0 --display-info "$package"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$source_dir/packaging/io.github.tarnwhistle.tarnwhistle.desktop"
fi
echo "check.sh: $package is clean"
