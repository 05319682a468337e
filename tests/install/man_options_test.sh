#!/usr/bin/env bash
# Each program's options, as its --help lists them, against its manual page: an option that one
# names and the other does not fails the test, so the two cannot drift apart.
# Usage: man_options_test.sh BUILD_DIR MAN_DIR
set -uo pipefail
build=$1
man=$2
export QT_QPA_PLATFORM=offscreen
failures=0

# The long options a help text lists: those that begin a line ("  --port NAME", "  -h,--help").
long_options() {
  grep -E -- '^[[:space:]]*(-[a-zA-Z],[[:space:]]*)?--[a-z]' | grep -oE -- '--[a-z][a-z0-9-]*' |
    head -c 100000 | sort -u
}
# The options a manual page's OPTIONS section lists: the tag line after each .TP (roff writes a
# dash as \-).
man_options() {
  sed -e 's/\\-/-/g' "$1" |
    awk '/^\.SH/ { in_options = ($0 ~ /^\.SH "?OPTIONS/) } in_options && tag { print } { tag = in_options && /^\.TP/ }' |
    grep -oE -- '--[a-z][a-z0-9-]*' | sort -u
}

compare() {  # PROGRAM HELP_TEXT_FILE
  local program=$1 help=$2 page=$man/$1.1
  local in_help in_man
  in_help=$(long_options <"$help")
  in_man=$(man_options "$page")
  [ -n "$in_help" ] || { echo "FAIL: $program --help lists no option" >&2; failures=$((failures + 1)); return; }
  local missing extra
  missing=$(comm -23 <(echo "$in_help") <(echo "$in_man"))
  extra=$(comm -13 <(echo "$in_help") <(echo "$in_man"))
  if [ -n "$missing" ]; then
    echo "FAIL: $program --help has options its manual page lacks: $(echo $missing)" >&2
    failures=$((failures + 1))
  fi
  if [ -n "$extra" ]; then
    echo "FAIL: $program's manual page names options --help lacks: $(echo $extra)" >&2
    failures=$((failures + 1))
  fi
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/kelvano" --help >"$work/kelvano" 2>&1 || { echo "FAIL: kelvano --help failed" >&2; failures=$((failures + 1)); }
compare kelvano "$work/kelvano"

"$build/kelvano-boxsim" --help >"$work/boxsim" 2>&1 || { echo "FAIL: kelvano-boxsim --help failed" >&2; failures=$((failures + 1)); }
compare kelvano-boxsim "$work/boxsim"

# kelvano-cli: the program's help and every command's.
cli=$build/kelvano-cli
"$cli" --help-all >"$work/cli" 2>&1 || { echo "FAIL: kelvano-cli --help-all failed" >&2; failures=$((failures + 1)); }
compare kelvano-cli "$work/cli"

if [ "$failures" -ne 0 ]; then
  echo "$failures manual page check(s) failed" >&2
  exit 1
fi
echo "manual pages and --help name the same options"
