# Sourced by run.sh and test.sh: installs with apt-get whatever the build lacks (nothing
# when all is there), then configures and builds into build/ (nothing when nothing
# changed).

tw_need_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What building and running the window needs.
TW_BUILD_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-qpa-plugins libqt6svg6 libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libeditorconfig-dev
  fonts-ipafont-gothic qt6-translations-l10n
  libuchardet-dev
)

# What the test that reads the real windows over AT-SPI needs: a virtual display, a
# session bus, the accessibility bus and a client for it.
TW_BRIDGE_PACKAGES=(xvfb xauth dbus at-spi2-core python3-pyatspi)

tw_build() {  # tw_build DIR [cmake options...]
  local dir=$1
  shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja "$@"
  fi
  cmake --build "$dir"
}
