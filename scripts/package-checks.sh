#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# What a user checks after installing the headalign package (run by scripts/test-package.sh
# inside the clean root):  package-checks.sh installed VERSION  |  package-checks.sh purged
set -euo pipefail
fail() { echo "package-checks: $*" >&2; exit 1; }

# What <Tab> offers after the words of $1 (a trailing blank starts a new word).
complete_words() {
  bash -c '. /usr/share/bash-completion/bash_completion
    __load_completion headalign || exit 1  # found by name, as bash finds it on the first <Tab>
    line=$1
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
    _headalign headalign "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s " "${COMPREPLY[@]}"' _ "$1"
}
expect_completion() {
  local got
  got="$(complete_words "$1")"
  case " $got " in
    *" $2 "*) echo "ok: completion of \"$1\" offers $2" ;;
    *) fail "completion of \"$1\" offers \"$got\", not $2" ;;
  esac
}

case "${1:-}" in
installed)
  expected="headalign $2"
  got="$(headalign --version)"
  [[ $got == "$expected" ]] || fail "headalign --version says \"$got\", not \"$expected\""
  echo "ok: headalign --version: $got"

  printer="$(mktemp -d)"
  headalign --virtual-printer "$printer" --fast-clock pattern nozzle >"$printer/run.txt" 2>&1 ||
    { tail -n 20 "$printer/run.txt"; fail "the nozzle check failed"; }
  png="$(sed -n 's/^printed: //p' "$printer/run.txt")"
  [[ -s $png ]] || fail "the nozzle check printed no paper"
  echo "ok: nozzle check on the virtual printer: $(grep -c . "$printer/run.txt") lines, paper $png"
  rm -rf "$printer"
  headalign pattern nozzle --bogus >/dev/null 2>&1 && fail "a usage error exits 0"

  for page in headalign headalign-vprinter headalign-usb-probe; do
    where="$(man -w "$page")"
    warnings="$(MANWIDTH=80 man --warnings "$page" 2>&1 >/dev/null)"
    [[ -z $warnings ]] || fail "man $page: $warnings"
    echo "ok: man -w $page: $where"
  done
  man headalign | grep -q -- '--virtual-printer' || fail "the manual page lacks --virtual-printer"

  [[ -f /usr/lib/udev/rules.d/70-headalign.rules ]] || fail "no udev rule"
  [[ -f /usr/share/applications/headalign.desktop && -f /usr/share/icons/hicolor/48x48/apps/headalign.png ]] ||
    fail "no desktop entry or icon"
  echo "ok: udev rule, desktop entry, icon"
  if command -v fc-match >/dev/null; then
    font="$(fc-match -f '%{family}' 宋体)"
    [[ $font == *UMing* ]] || fail "宋体 is $font, not AR PL UMing"
    echo "ok: fc-match 宋体: $font"
  fi

  expect_completion "headalign pat" pattern
  expect_completion "headalign pattern noz" nozzle
  expect_completion "headalign adjust pass" pass8
  expect_completion "headalign params s" set
  expect_completion "headalign params set bidirTextH" bidirTextHigh=
  expect_completion "headalign config " load
  expect_completion "headalign align text-high --ap" --apply
  expect_completion "headalign --fast" --fast-clock
  ;;
purged)
  for f in /usr/bin/headalign /usr/share/man/man1/headalign.1.gz /etc/fonts/conf.d/65-headalign-fonts.conf \
           /usr/lib/udev/rules.d/70-headalign.rules /usr/share/bash-completion/completions/headalign; do
    if [[ -e $f || -L $f ]]; then fail "$f is left after purging"; fi
  done
  echo "ok: purged without leftovers"
  ;;
*)
  fail "usage: package-checks.sh installed VERSION | purged"
  ;;
esac
