#!/usr/bin/env bash
# Sets up, builds and runs every test: the suite, the windows read over AT-SPI, the Debian
# package through lintian, the same suite built with AddressSanitizer and
# UndefinedBehaviorSanitizer, the same suite built with ThreadSanitizer (the engine and the
# windows work on several threads), the engine and tarnwhistle-cli.exe built for Windows
# and run under wine, and the engine's fuzz target for a bounded time (TW_FUZZ_SECONDS, 20
# by default).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh

tw_need_packages "${TW_BUILD_PACKAGES[@]}"
tw_build build -DCMAKE_BUILD_TYPE=Release
ctest --test-dir build --output-on-failure -j "$(nproc)"

# The windows as a screen reader hears them, through the real AT-SPI bridge.
tw_need_packages "${TW_BRIDGE_PACKAGES[@]}"
tests/bridge/run.sh build

tw_need_packages lintian desktop-file-utils appstream bash-completion
packaging/check.sh build

tw_need_packages pre-commit git
scripts/pre_commit_test.sh build

tw_build build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWHISTLE_SANITIZE=ON -DTARNWHISTLE_BUILD_BENCH=OFF
ctest --test-dir build-asan --output-on-failure -j "$(nproc)"

# ThreadSanitizer stops a suite at its first report (tests/sanitizer_defaults.cpp).
if [ ! -f build-tsan/build.ninja ]; then
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWHISTLE_TSAN=ON -DTARNWHISTLE_BUILD_BENCH=OFF
fi
cmake --build build-tsan --target tarnwhistle-engine-tests tarnwhistle-cli-tests tarnwhistle-window-tests
# The engine's fault sweep runs on one thread and takes most of a minute there: the
# plain and ASan runs have it.
build-tsan/bin/tarnwhistle-engine-tests --gtest_brief=1 --gtest_filter='-FailingConversion.EveryOperationFailingAtEveryCall*'
build-tsan/bin/tarnwhistle-cli-tests --gtest_brief=1
build-tsan/bin/tarnwhistle-window-tests --gtest_brief=1

# tarnwhistle-cli.exe for Windows, cross-built with mingw-w64, its zip, and its suites
# under wine (about 4 minutes on 2 cores from nothing, most of it the build).
scripts/build-windows.sh --test

fuzz/run.sh "${TW_FUZZ_SECONDS:-20}"
