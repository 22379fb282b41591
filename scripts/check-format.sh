#!/usr/bin/env bash
# Checks with clang-format and the repository's .clang-format only the lines this checkout
# changes against main: what its commits changed since they left main, what is not committed
# yet, and new files not yet added. Lines that came from main are never looked at, so a checkout
# of main (merges included) checks nothing and old code is held to the format only where it is
# touched. A file moved or renamed counts only its edited lines (git's rename detection).
# Exits non-zero, showing the wanted formatting as a diff, when a changed line is off.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
source_files='\.(c|cc|cpp|cxx|h|hh|hpp)$'
if ! command -v git >/dev/null || ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  echo "check-format: not a git checkout, nothing to compare with main: not checked"
  exit 0
fi
base_ref=""
for candidate in main origin/main; do
  if git rev-parse --verify -q "$candidate^{commit}" >/dev/null; then base_ref=$candidate; break; fi
done
if [[ -z "$base_ref" ]]; then
  echo "check-format: no branch main or origin/main to compare with: not checked"
  exit 0
fi
if ! command -v clang-format >/dev/null; then
  echo "check-format: clang-format is missing (scripts/setup.sh installs Debian's clang-format)" >&2
  exit 1
fi
base="$(git merge-base HEAD "$base_ref")"

# "path<TAB>--lines=A:B --lines=C:D ..." for every source file with added or changed lines: the
# working tree (commits and edits not yet committed) against the merge-base, then new files.
changed="$(
  git -c core.quotepath=off diff -M -U0 --no-color --no-ext-diff --diff-filter=AMR \
      --src-prefix=a/ --dst-prefix=b/ "$base" |
    awk '
      /^\+\+\+ b\// { file = substr($0, 7); next }
      /^@@ / {
        split($3, added, ",")
        start = substr(added[1], 2); count = (2 in added) ? added[2] : 1
        if (count > 0) lines[file] = lines[file] " --lines=" start ":" (start + count - 1)
      }
      END { for (f in lines) print f "\t" lines[f] }'
  git ls-files --others --exclude-standard | awk '{ print $0 "\t" }'
)"
status=0
while IFS=$'\t' read -r file ranges; do
  [[ -n "$file" && -f "$file" && "$file" =~ $source_files ]] || continue
  # shellcheck disable=SC2086 # the ranges are separate options
  if ! clang-format --dry-run --Werror $ranges "$file" >/dev/null 2>&1; then
    if [[ $status -eq 0 ]]; then
      echo "check-format: changed lines not formatted as .clang-format wants (against $base_ref):"
    fi
    # shellcheck disable=SC2086
    diff -u --label "$file" --label "$file (formatted)" "$file" <(clang-format $ranges "$file") || true
    status=1
  fi
done <<<"$changed"
if [[ $status -eq 0 ]]; then echo "check-format: lines changed against $base_ref are formatted"; fi
exit $status
