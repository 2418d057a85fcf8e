#!/usr/bin/env bash
# Sets up, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh

tw_need_packages "${TW_BUILD_PACKAGES[@]}"
tw_build build -DCMAKE_BUILD_TYPE=Release
ctest --test-dir build --output-on-failure -j "$(nproc)"
