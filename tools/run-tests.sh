#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$root/build}
"$root/tools/setup.sh" -DCORVEX_WERROR=ON
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2
