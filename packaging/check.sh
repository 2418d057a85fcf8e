#!/usr/bin/env bash
# Builds the Debian package from an existing, configured build folder and checks it:
# lintian with no error or warning, the desktop integration where the package puts it
# (desktop entry, AppStream metadata, bash completion), and the bash completion's
# answers. Exits non-zero otherwise.
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

# The files as the package installs them.
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$package" "$tree"
id=io.github.tarnwhistle.tarnwhistle
for file in usr/bin/tarnwhistle-cli usr/share/bash-completion/completions/tarnwhistle-cli; do
  [ -f "$tree/$file" ] || { echo "check.sh: the package lacks /$file" >&2; exit 1; }
done
if [ -f "$tree/usr/bin/tarnwhistle" ]; then
  for file in usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
              usr/share/icons/hicolor/scalable/apps/tarnwhistle.svg; do
    [ -f "$tree/$file" ] || { echo "check.sh: the package lacks /$file" >&2; exit 1; }
  done
  desktop-file-validate "$tree/usr/share/applications/$id.desktop"
  # --strict fails on any issue but pedantic hints; --no-net: no address is fetched.
  appstreamcli validate --strict --no-net "$tree/usr/share/metainfo/$id.metainfo.xml"
  # The metadata together with the desktop entry it launches.
  appstreamcli validate-tree --strict --no-net "$tree"
fi

"$source_dir/packaging/test_completion.sh" "$tree/usr/share/bash-completion/completions/tarnwhistle-cli"
echo "check.sh: $package is clean"
