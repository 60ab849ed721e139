#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in a
# build directory of its own (build-asan/, or $ASAN_BUILD_DIR) and runs every
# test there; the program the integration tests start is instrumented too.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${ASAN_BUILD_DIR:-$root/build-asan}
# Any report fails the run: a leak or a sanitizer error in a started program
# turns into an exit status its test does not expect.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:detect_stack_use_after_return=1:strict_string_checks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tools/lsan-suppressions.txt:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
"$root/tools/setup.sh" -DCORVEX_WERROR=ON -DCORVEX_SANITIZE=ON
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2
