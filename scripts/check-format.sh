#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks every C and C++ source file of the checkout (tracked ones and new files not yet added)
# with clang-format and the repository's .clang-format, on every branch and on main alike: the
# whole tree is kept formatted, so a file a commit touches is checked whole, and so is every
# other. Exits non-zero, showing the wanted formatting as a diff, when a file is off; with
# --fix it formats those files in place instead. Every such file also opens with its SPDX
# licence line.
set -euo pipefail
fix=0
if [[ "${1:-}" == --fix ]]; then fix=1; fi
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
if ! command -v clang-format >/dev/null; then
  echo "check-format: clang-format is missing (scripts/setup.sh installs Debian's clang-format)" >&2
  exit 1
fi
source_files='\.(c|cc|cpp|cxx|h|hh|hpp)$'
if command -v git >/dev/null && git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  files="$(git -c core.quotepath=off ls-files --cached --others --exclude-standard)"
else
  files="$(find src tests vprinter bench fuzz tools -type f 2>/dev/null)"
fi
status=0
while IFS= read -r file; do
  [[ -n "$file" && -f "$file" && "$file" =~ $source_files ]] || continue
  if ! head -n 1 "$file" | grep -q 'SPDX-License-Identifier: Apache-2.0'; then
    echo "check-format: $file does not open with its SPDX line (// SPDX-License-Identifier: Apache-2.0)"
    status=1
  fi
  if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
    if [[ $fix -eq 1 ]]; then
      echo "check-format: formatting $file"
      clang-format -i "$file"
      continue
    fi
    if [[ $status -eq 0 ]]; then echo "check-format: files not formatted as .clang-format wants:"; fi
    diff -u --label "$file" --label "$file (formatted)" "$file" <(clang-format "$file") || true
    status=1
  fi
done <<<"$files"
if [[ $status -eq 0 ]]; then echo "check-format: every source file is formatted"; fi
exit $status
