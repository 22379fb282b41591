#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The Windows installer under Wine, as an operator would use it silently: installs for the
# current user (default folder) and for all users (a folder given with /D=), runs the installed
# headalign.exe (--version, a nozzle check on the virtual printer, and a bidirectional
# adjustment printed and read back from its picture with `align --scan`, in a folder named in
# Chinese with spaces), uninstalls and checks that no file, Start-menu shortcut or uninstall
# entry is left.
# Usage: test-installer.sh SETUP.EXE VERSION WORKDIR   (in the Wine prefix of $WINEPREFIX)
set -euo pipefail
setup="$1" version="$2" work="$3"
export WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-${HOME}/.wine-headalign}"  # as scripts/wine-run
key='Software\Microsoft\Windows\CurrentVersion\Uninstall\headalign'

fail() { echo "FAIL: $*" >&2; exit 1; }
# A Windows folder of the prefix as a Linux path.
winenv() { wine cmd /c "echo %$1%" </dev/null 2>/dev/null | tr -d '\r'; }
unixpath() { winepath -u "$1" 2>/dev/null | tr -d '\r'; }
has_key() { wine reg query "$1\\$key" </dev/null >/dev/null 2>&1; }

# The uninstaller copies itself to a temporary folder and removes the installation from
# there, so its first process returns at once: wait for the folder to go.
wait_gone() {
  local i
  for ((i = 0; i < 300; ++i)); do
    [[ -e "$1" ]] || return 0
    sleep 0.1
  done
  return 1
}

rm -rf "$work" && mkdir -p "$work"

check_mode() {
  local mode="$1" root="$2" dir_win="$3" menu="$4"
  shift 4
  local dir; dir="$(unixpath "$dir_win")"
  [[ -n "$dir" ]] || fail "$mode: no Linux path for $dir_win"
  [[ ! -e "$dir" ]] || fail "$mode: $dir exists before installing"

  local t0=$SECONDS
  wine "$setup" /S "/$mode" "$@" </dev/null || fail "$mode: the installer failed ($?)"
  [[ -f "$dir/headalign.exe" && -f "$dir/uninstall.exe" ]] || fail "$mode: not installed in $dir"
  [[ -f "$menu/headalign.lnk" ]] || fail "$mode: no Start-menu shortcut in $menu"
  has_key "$root" || fail "$mode: no uninstall entry under $root"
  local other=HKLM; [[ "$root" == HKLM ]] && other=HKCU
  ! has_key "$other" || fail "$mode: an uninstall entry under $other as well"
  local location
  location="$(wine reg query "$root\\$key" /v InstallLocation </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p')"
  [[ "$location" == "$dir_win" ]] || fail "$mode: InstallLocation '$location', not '$dir_win'"

  # The installed program: its version, then a job on the virtual printer.
  local out
  out="$(wine "$dir/headalign.exe" --version </dev/null 2>&1 | tr -d '\r')" || fail "$mode: --version failed"
  [[ "$out" == "headalign $version" ]] || fail "$mode: --version printed '$out'"
  local printer="$work/printer-$mode"
  mkdir -p "$printer"
  wine "$dir/headalign.exe" --virtual-printer "$(winepath -w "$printer" 2>/dev/null | tr -d '\r')" \
       --fast-clock pattern nozzle </dev/null >"$work/job-$mode.txt" 2>&1 \
    || { cat "$work/job-$mode.txt"; fail "$mode: the nozzle check on the virtual printer failed"; }
  [[ -f "$printer/jobs/0001.jsonl" ]] || fail "$mode: the virtual printer recorded no job"

  # The scan reader of the installed program, on an operator's Desktop: the text-high
  # adjustment on a printer whose right-to-left drops land 6 columns (16/1440 inch) too far
  # left, which moves the meeting point 3 groups from where the ideal printer's prints meet
  # (half-way between "00" and "-1"). Names go to Wine as UTF-8.
  local desk="$work/桌面 $mode/虚拟 打印机"
  mkdir -p "$desk"
  printf 'bidir_error = 50:16\n' >"$desk/printer.cfg"
  local desk_win; desk_win="$(LC_ALL=C.UTF-8 winepath -w "$desk" 2>/dev/null | tr -d '\r')"
  LC_ALL=C.UTF-8 wine "$dir/headalign.exe" --virtual-printer "$desk_win" --fast-clock adjust text-high \
       </dev/null >"$work/adjust-$mode.txt" 2>&1 \
    || { cat "$work/adjust-$mode.txt"; fail "$mode: the adjustment on the virtual printer failed"; }
  [[ -f "$desk/jobs/0001.png" ]] || fail "$mode: the virtual printer drew no picture in $desk"
  LC_ALL=C.UTF-8 wine "$dir/headalign.exe" align text-high --scan "$desk_win\jobs\0001.png" \
       </dev/null >"$work/align-$mode.txt" 2>&1 \
    || { cat "$work/align-$mode.txt"; fail "$mode: align --scan did not read the printed picture"; }
  grep -q 'lines up between "-3" and "-4"' "$work/align-$mode.txt" \
    || { cat "$work/align-$mode.txt"; fail "$mode: align --scan read the wrong group"; }

  # The uninstall entry's own quiet command, as Windows' "Apps" would run it.
  local quiet
  quiet="$(wine reg query "$root\\$key" /v QuietUninstallString </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p')"
  [[ "$quiet" == "\"$dir_win\\uninstall.exe\" /$mode /S" ]] || fail "$mode: QuietUninstallString '$quiet'"
  wine "$dir/uninstall.exe" "/$mode" /S </dev/null || fail "$mode: the uninstaller failed"
  wait_gone "$dir" || fail "$mode: $dir left after uninstalling: $(ls -A "$dir")"
  [[ ! -e "$menu/headalign.lnk" ]] || fail "$mode: Start-menu shortcut left"
  ! has_key "$root" || fail "$mode: uninstall entry left under $root"
  echo "$mode: installed in $dir_win, ran and uninstalled in $((SECONDS - t0)) s"
}

local_app="$(winenv LOCALAPPDATA)"
appdata="$(winenv APPDATA)"
programdata="$(winenv ProgramData)"
[[ -n "$local_app" && -n "$appdata" && -n "$programdata" ]] || fail "no user folders in the prefix"

# Without administrator rights the default: the user's own programs folder.
check_mode CurrentUser HKCU "$local_app\\Programs\\headalign" \
  "$(unixpath "$appdata\\Microsoft\\Windows\\Start Menu\\Programs")"
# As administrator (which a Wine user is) for everyone, in a folder of the operator's choice.
# /D= has to be the last word and unquoted; Wine quotes an argument with a space, so the
# folder here has none.
check_mode AllUsers HKLM 'C:\Tools\headalign' \
  "$(unixpath "$programdata\\Microsoft\\Windows\\Start Menu\\Programs")" \
  '/D=C:\Tools\headalign'
rmdir "$(unixpath 'C:\Tools')" 2>/dev/null || true
