#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the threaded tests (ring, link, planner, jobs end to end, fault soak) with
# ThreadSanitizer and runs them, each test case in a process of its own as ctest runs them in
# the ordinary build; any data race or failure fails the run.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${HEADALIGN_TSAN_BUILD:-$top/build/tsan}"
programs="${HEADALIGN_TSAN_TESTS:-ring_tests link_tests planner_tests e2e_tests soak_tests}"
jobs="${HEADALIGN_JOBS:-$(nproc)}"
# HEADALIGN_TSAN_REPEAT=50 runs each case fifty times, each in a process of its own, stopping
# at its first failure (hunting a flaky case; HEADALIGN_TSAN_FILTER='JobsTest.*' narrows the
# cases).
repeat="${HEADALIGN_TSAN_REPEAT:-1}"
filter="${HEADALIGN_TSAN_FILTER:-*}"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DHEADALIGN_TSAN=ON -DHEADALIGN_SANITIZE=OFF \
      -DHEADALIGN_TESTS=ON >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" --target $programs -j"$jobs"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1 history_size=4}"
cd "$build"
logs="$(mktemp -d)"
trap 'rm -rf "$logs"' EXIT

# Suite.Case names of one program, from its own listing.
cases() {
  "$build/tests/$1" --gtest_list_tests --gtest_filter="$filter" |
    awk '/^[^ ]/ {suite=$1} /^  / {print suite $1}'
}
run_case() {
  local program="$1" name="$2" log="$logs/$1.${2//\//_}.log"
  local i
  for ((i = 1; i <= repeat; ++i)); do
    if ! timeout 600 "$build/tests/$program" --gtest_filter="$name" >"$log" 2>&1; then
      echo "FAILED $program $name$( ((repeat > 1)) && echo " (run $i of $repeat)")"
      return
    fi
  done
  rm -f "$log"
}
export -f run_case
export build logs repeat

status=0
for p in $programs; do
  echo "== $p (ThreadSanitizer)"
  failed="$(cases "$p" | xargs -P "$jobs" -I{} bash -c 'run_case "$0" "$1"' "$p" {})"
  if [[ -n "$failed" ]]; then
    status=1
    echo "$failed"
    for f in "$logs/$p".*.log; do
      echo "---- ${f#"$logs/"}"
      grep -E -A30 "WARNING: ThreadSanitizer|Failure|FAILED" "$f" | head -80
    done
  else
    echo "   $(cases "$p" | wc -l) tests passed"
  fi
done
exit $status
