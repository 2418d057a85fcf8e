#!/usr/bin/env bash
# Builds tarnwhistle-cli.exe for 64-bit Windows, its test programs and its zip, into
# build-windows/, with Debian's mingw-w64 (statically linked: the .exe needs no DLL
# beside it). The window is left out: Qt for Windows is not in Debian.
#   scripts/build-windows.sh            build (installs the cross compiler and wine first)
#   scripts/build-windows.sh --test     build, then run the suites under wine
# The zip: build-windows/tarnwhistle-cli-VERSION-win64.zip.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh

TW_WINDOWS_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64 googletest libcli11-dev)
tw_need_packages "${TW_WINDOWS_PACKAGES[@]}"

out=build-windows
toolchain=$PWD/cmake/mingw-w64.cmake
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

# GoogleTest from Debian's sources, built for the target and installed inside the build.
gtest=$PWD/$out/googletest
if [ ! -f "$gtest/install/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$gtest/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest/install" "${launcher[@]}"
  cmake --build "$gtest/build"
  cmake --install "$gtest/build" >/dev/null
fi

# CLI11 is headers only, but its Debian package's CMake file adds /usr/include, whose C
# headers are Linux's: the same headers, reached through a folder of their own.
cli11=$PWD/$out/cli11
if [ ! -f "$cli11/CLI11Config.cmake" ]; then
  mkdir -p "$cli11/include"
  ln -sfn /usr/include/CLI "$cli11/include/CLI"
  cat >"$cli11/CLI11Config.cmake" <<CONFIG
add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "$cli11/include")
CONFIG
fi

if [ ! -f "$out/build.ninja" ]; then
  cmake -S . -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DTARNWHISTLE_BUILD_GUI=OFF -DTARNWHISTLE_BUILD_BENCH=OFF \
    -DGTest_DIR="$gtest/install/lib/cmake/GTest" -DCLI11_DIR="$cli11" "${launcher[@]}"
fi
cmake --build "$out"
(cd "$out" && cpack -G ZIP >/dev/null)
ls "$out"/tarnwhistle-cli-*-win64.zip

[ "${1:-}" = --test ] && scripts/test-windows.sh "$out"
exit 0
