#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Sets everything up, builds the tests with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs all of them, then every row of the sweeps in an optimized build, the threaded tests
# under ThreadSanitizer, the Windows tests under Wine and the package test. Exits non-zero on
# any failure; ends with the time each phase took.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/setup.sh"
# Every source file must be formatted; the verdict comes at the end,
# after the tests have run.
format_ok=1
"$top/scripts/check-format.sh" || format_ok=0
build="${HEADALIGN_TEST_BUILD:-$top/build/test}"
opt_build="${HEADALIGN_OPT_TEST_BUILD:-$top/build/opt}"
# How long each phase took, printed at the end.
phases=()
phase_start=$SECONDS
phase_done() {
  phases+=("$(printf '%-34s %5d s' "$1" $((SECONDS - phase_start)))")
  phase_start=$SECONDS
}
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DHEADALIGN_SANITIZE=ON -DHEADALIGN_TESTS=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
phase_done "sanitizer build"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
(cd "$build" && ctest --output-on-failure -j"$(nproc)" "$@")
phase_done "sanitizer tests"
# The sweeps and long reader tables, every row, in an optimized build with assertions kept
# (under the sanitizers above they ran a few rows each: tests/support/rows.h).
if [[ "${HEADALIGN_SKIP_OPT:-0}" != 1 ]]; then
  cmake -S "$top" -B "$opt_build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O2 \
        -DCMAKE_C_FLAGS_RELEASE=-O2 -DHEADALIGN_TEST_ALL_ROWS=ON -DHEADALIGN_TESTS=ON >/dev/null
  cmake --build "$opt_build" -j"$(nproc)" --target sweep_tests
  phase_done "optimized build (sweeps)"
  (cd "$opt_build" && ctest --output-on-failure -j"$(nproc)" -L sweep "$@")
  phase_done "optimized tests (every row)"
fi
# The threaded tests once more under ThreadSanitizer (a build of their own).
if [[ "${HEADALIGN_SKIP_TSAN:-0}" != 1 ]]; then
  "$top/scripts/tsan.sh"
  phase_done "thread sanitizer"
fi
# headalign.exe and the Windows tests under Wine (their own build folder, build/windows).
if [[ "${HEADALIGN_SKIP_WINDOWS:-0}" != 1 ]]; then
  "$top/scripts/test-windows.sh"
  phase_done "windows"
fi
# The Debian package built from the release build and installed into a clean Debian 12 root.
if [[ "${HEADALIGN_SKIP_PACKAGE:-0}" != 1 ]]; then
  "$top/scripts/test-package.sh"
  phase_done "package"
fi
printf 'test: %s\n' "${phases[@]}"
if [[ $format_ok != 1 ]]; then
  echo "test: source files are not formatted (scripts/check-format.sh)" >&2
  exit 1
fi
