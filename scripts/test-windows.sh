#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Cross-builds headalign.exe and the Windows tests (CMake preset "windows", its own build
# folder) and runs them under Wine in a virtual X display. Exits non-zero on any failure.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${HEADALIGN_WINDOWS_BUILD:-$top/build/windows}"

# Windows programs with windows need an X display: the whole run lives in one Xvfb.
if [[ -z "${HEADALIGN_IN_XVFB:-}" ]]; then
  export HEADALIGN_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

(cd "$top" && cmake --preset windows -B "$build" >/dev/null)
cmake --build "$build" -j"$(nproc)"

export WINEDEBUG=-all
export WINEPREFIX="$build/wineprefix"
# One prefix per build folder, made once; the dialog font 宋体 is drawn with AR PL UMing in
# every locale (Wine finds it by itself only in a Chinese one or for the GB2312 character set;
# with the replacement GetTextFace reports 宋体 itself). At the dialog's 11 points UMing draws a
# Chinese character 16 pixels wide, one more than SimSun: the layout leaves room for that.
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  wineboot -i >/dev/null 2>&1
  LC_ALL=C.UTF-8 wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '宋体' /t REG_SZ /d 'AR PL UMing CN' /f >/dev/null 2>&1
  LC_ALL=C.UTF-8 wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'SimSun' /t REG_SZ /d 'AR PL UMing CN' /f >/dev/null 2>&1
fi
# A persistent server for the whole run, detached from CTest's pipes, ended on exit (after the
# one that setting up the prefix may have left running).
wineserver -k >/dev/null 2>&1 || true
wineserver -p >/dev/null 2>&1 </dev/null
# Wine's own services and desktop start with the first program and keep its standard handles:
# start them here, so that no test's output pipe is held open after the test ends.
wine cmd /c exit >/dev/null 2>&1 </dev/null
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

cd "$build"
ctest --output-on-failure -L windows "$@"
