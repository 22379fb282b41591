#!/usr/bin/env bash
# Builds the threaded tests (ring, link, planner, jobs end to end, fault soak) with
# ThreadSanitizer and runs them; any data race fails the run. Extra arguments go to each test program.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${HEADALIGN_TSAN_BUILD:-$top/build/tsan}"
programs="${HEADALIGN_TSAN_TESTS:-ring_tests link_tests planner_tests e2e_tests soak_tests}"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DHEADALIGN_TSAN=ON -DHEADALIGN_SANITIZE=OFF \
      -DHEADALIGN_TESTS=ON >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" --target $programs -j"${HEADALIGN_JOBS:-$(nproc)}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1 history_size=4}"
cd "$build"
status=0
for p in $programs; do
  echo "== $p (ThreadSanitizer)"
  if ! "$build/tests/$p" "$@"; then status=1; echo "== $p FAILED"; fi
done
exit $status
