#!/usr/bin/env bash
# Builds the Debian packages (tarnwhistle-cli, and tarnwhistle when the window is built)
# from an existing, configured build folder and checks them: lintian with no error or
# warning, the command line's free of Qt and fonts, the desktop integration where the
# packages put it (desktop entry, AppStream metadata, bash completion), and the bash
# completion's answers. Exits non-zero otherwise.
#   packaging/check.sh [BUILD_DIR]        (default: build)
set -euo pipefail
build=$(realpath "${1:-build}")
source_dir=$(realpath "$(dirname "$0")/..")

cmake --build "$build"
rm -f "$build"/tarnwhistle_*.deb "$build"/tarnwhistle-cli_*.deb
(cd "$build" && cpack -G DEB)
cli_package=$(ls "$build"/tarnwhistle-cli_*.deb)
window_package=$(ls "$build"/tarnwhistle_*.deb 2>/dev/null || true)  # none without the window

# Info and pedantic tags are listed but do not fail the check.
for package in $cli_package $window_package; do
  lintian --fail-on error,warning --tag-display-limit 0 --display-info "$package"
done

# The command line's package pulls in neither Qt nor a font: a CI container needs only it.
if dpkg-deb -f "$cli_package" Depends | grep -Eiq 'qt|font'; then
  echo "check.sh: tarnwhistle-cli depends on Qt or a font: $(dpkg-deb -f "$cli_package" Depends)" >&2
  exit 1
fi

# The files as the packages install them.
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
for package in $cli_package $window_package; do dpkg-deb -x "$package" "$tree"; done
id=io.github.tarnwhistle.tarnwhistle
for file in usr/bin/tarnwhistle-cli usr/share/bash-completion/completions/tarnwhistle-cli \
            usr/share/man/man1/tarnwhistle-cli.1.gz usr/share/man/ja/man1/tarnwhistle-cli.1.gz; do
  [ -f "$tree/$file" ] || { echo "check.sh: the packages lack /$file" >&2; exit 1; }
done
if [ -n "$window_package" ]; then
  dpkg-deb -f "$window_package" Depends | grep -q 'tarnwhistle-cli (= ' ||
    { echo "check.sh: tarnwhistle does not depend on tarnwhistle-cli" >&2; exit 1; }
  for file in usr/bin/tarnwhistle usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
              usr/share/icons/hicolor/scalable/apps/tarnwhistle.svg usr/share/man/ja/man1/tarnwhistle.1.gz; do
    [ -f "$tree/$file" ] || { echo "check.sh: the packages lack /$file" >&2; exit 1; }
  done
  desktop-file-validate "$tree/usr/share/applications/$id.desktop"
  # --strict fails on any issue but pedantic hints; --no-net: no address is fetched.
  appstreamcli validate --strict --no-net "$tree/usr/share/metainfo/$id.metainfo.xml"
  # The metadata together with the desktop entry it launches.
  appstreamcli validate-tree --strict --no-net "$tree"
fi

"$source_dir/packaging/test_completion.sh" "$tree/usr/share/bash-completion/completions/tarnwhistle-cli"
echo "check.sh:" $cli_package $window_package "are clean"
