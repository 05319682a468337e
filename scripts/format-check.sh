#!/usr/bin/env bash
# Fails when a C++ file of the tree deviates from .clang-format, and names each such file.
# With file arguments only those are checked. `clang-format -i FILE` puts a file right.
set -euo pipefail
cd "$(dirname "$0")/.."
format=${CLANG_FORMAT:-clang-format}
command -v "$format" >/dev/null || { echo "format-check: $format not found (scripts/deps.sh installs it)" >&2; exit 2; }

if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
fi

bad=()
for f in "${files[@]}"; do
  "$format" --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  printf '%s\n' "${bad[@]}" | sed 's/^/not formatted: /' >&2
  echo "format-check: ${#bad[@]} of ${#files[@]} files deviate from .clang-format" >&2
  exit 1
fi
echo "format-check: ${#files[@]} files follow .clang-format"
