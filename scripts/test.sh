#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Sets everything up, builds the tests with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs all of them. Exits non-zero on any failure.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/setup.sh"
# Every source file must be formatted; the verdict comes at the end,
# after the tests have run.
format_ok=1
"$top/scripts/check-format.sh" || format_ok=0
build="${HEADALIGN_TEST_BUILD:-$top/build/test}"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DHEADALIGN_SANITIZE=ON -DHEADALIGN_TESTS=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
# The threaded tests once more under ThreadSanitizer (a build of their own).
if [[ "${HEADALIGN_SKIP_TSAN:-0}" != 1 ]]; then
  "$top/scripts/tsan.sh"
fi
# headalign.exe and the Windows tests under Wine (their own build folder, build/windows).
if [[ "${HEADALIGN_SKIP_WINDOWS:-0}" != 1 ]]; then
  "$top/scripts/test-windows.sh"
fi
# The Debian package built from the release build and installed into a clean Debian 12 root.
if [[ "${HEADALIGN_SKIP_PACKAGE:-0}" != 1 ]]; then
  "$top/scripts/test-package.sh"
fi
if [[ $format_ok != 1 ]]; then
  echo "test: source files are not formatted (scripts/check-format.sh)" >&2
  exit 1
fi
