#!/usr/bin/env bash
# Sets everything up, builds headalign and runs it.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/setup.sh"
build="$top/build/release"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHEADALIGN_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target headalign
exec "$build/headalign" "$@"
