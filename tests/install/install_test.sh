#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed programs from there, so a
# missing install rule or a file the programs cannot find once installed fails the suite.
# Usage: install_test.sh CMAKE BUILD_DIR
set -uo pipefail
cmake=$1
build=$2
here=$(cd "$(dirname "$0")" && pwd)
prefix=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$prefix" "$work"' EXIT
# Only the temporary folders count as data folders.
export XDG_DATA_HOME="$work/data-home" XDG_DATA_DIRS="$work/data-dirs" QT_QPA_PLATFORM=offscreen

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# expect STATUS DESCRIPTION COMMAND...: runs COMMAND (output in $work/out), checks its status.
expect() {
  local want=$1 what=$2 status
  shift 2
  "$@" >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -eq "$want" ] || fail "$what: exit status $status, expected $want ($(head -c 300 "$work/err"))"
}
contains() {  # FILE TEXT DESCRIPTION
  grep -qF -- "$2" "$1" || fail "$3: no \"$2\" in $(basename "$1")"
}

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
  cat "$work/install.log" >&2
  fail "cmake --install"
  exit 1
}

share=$prefix/share
for f in bin/kelvano bin/kelvano-cli bin/kelvano-boxsim lib/udev/rules.d/60-kelvano.rules \
         share/applications/org.kelvano.kelvano.desktop share/metainfo/org.kelvano.kelvano.metainfo.xml \
         share/icons/hicolor/scalable/apps/kelvano.svg share/bash-completion/completions/kelvano-cli \
         share/man/man1/kelvano.1.gz share/man/man1/kelvano-cli.1.gz share/man/man1/kelvano-boxsim.1.gz \
         share/doc/kelvano/copyright share/doc/kelvano/changelog.Debian.gz; do
  [ -s "$prefix/$f" ] || fail "not installed: $f"
done
for size in 16 22 24 32 48 64 128 256; do
  [ -s "$share/icons/hicolor/${size}x${size}/apps/kelvano.png" ] || fail "no ${size}x${size} icon"
done
for t in kelvano kelvano-cli kelvano-boxsim; do
  [ -x "$prefix/bin/$t" ] || fail "$t is not executable"
done

# The desktop data passes the validators of the desktops that read it.
expect 0 "desktop-file-validate" desktop-file-validate "$share/applications/org.kelvano.kelvano.desktop"
expect 0 "appstreamcli validate" appstreamcli validate --no-net "$share/metainfo/org.kelvano.kelvano.metainfo.xml"
contains "$share/applications/org.kelvano.kelvano.desktop" "Exec=kelvano" "desktop entry"
# Built without a web page, nothing names one; built with one, the metainfo's screenshots are
# the guide's own pictures.
! grep -q "example\|<url\|<screenshot" "$share/metainfo/org.kelvano.kelvano.metainfo.xml" ||
  fail "the metainfo names a web page though the build has none"
# A build with a web page (written with trailing slashes) configures, and its metainfo names
# the page once with one slash and the guide's pictures below it.
web=$work/web
if "$cmake" -S "$here/../.." -B "$web" -DKELVANO_TESTS=OFF \
     -DKELVANO_HOMEPAGE=https://example.org/kelvano// >"$work/web.log" 2>&1; then
  contains "$web/packaging/org.kelvano.kelvano.metainfo.xml" \
    '<url type="homepage">https://example.org/kelvano/</url>' "metainfo with a web page"
  contains "$web/packaging/org.kelvano.kelvano.metainfo.xml" \
    "<image>https://example.org/kelvano/guide/images/main-pic.png</image>" "metainfo with a web page"
else
  fail "configuring with a web page: $(grep -m1 -A2 'Error' "$work/web.log")"
fi
for shot in $(grep -o 'guide/images/[a-z-]*\.png' "$here/../../cmake/Install.cmake"); do
  [ -s "$here/../../docs/${shot#guide/}" ] || fail "the metainfo names $shot, which the guide lacks"
done

# Each manual page formats without warnings and says what the exit statuses mean.
for page in kelvano kelvano-cli kelvano-boxsim; do
  expect 0 "man $page" env MANWIDTH=80 man --warnings -l "$share/man/man1/$page.1.gz"
  [ ! -s "$work/err" ] || fail "man $page warns: $(head -c 300 "$work/err")"
  contains "$work/out" "EXIT STATUS" "man $page"
done
# (groff spreads the words of a justified line: compare with single blanks)
tr -s ' ' <"$work/out" >"$work/out.squeezed"
contains "$work/out.squeezed" "Usage error or set-up failure" "man kelvano-boxsim"

cli=$prefix/bin/kelvano-cli
expect 0 "kelvano-cli --help" "$cli" --help
contains "$work/out" "--port" "kelvano-cli --help"
contains "$work/out" "Exit status" "kelvano-cli --help"
expect 0 "kelvano-cli cards" "$cli" cards
contains "$work/out" $'10\tBrelmont PIC (PIC16F84 + 24C16)\t1024\t64\t2048' "kelvano-cli cards"
contains "$work/out" $'31\tAVR-Mega163 (ATMega163 + 24C256)\t8192\t512\t32768' "kelvano-cli cards"
expect 2 "kelvano-cli with an unknown command" "$cli" frobnicate

# A short read of a blank card in the simulated box, saved as Intel HEX.
cd "$work" || exit 1
expect 0 "kelvano-cli --port SIM read" "$cli" --port SIM --card 10 read --save 1=card.hex
contains "$work/err" "READY" "kelvano-cli --port SIM read"
[ "$(head -n 1 "$work/card.hex" 2>/dev/null | tr -d '\r')" = ":10000000FF3FFF3FFF3FFF3FFF3FFF3FFF3FFF3F00" ] ||
  fail "the read card's image does not start with blank flash words"

# Card dump layouts installed under the prefix's share/kelvano are found by the installed program.
printf 'AA BB 00 10 01 02\r\n' >"$work/custom.crd"
expect 1 "a dump in an unknown layout" "$cli" --card 22 --load 3="$work/custom.crd" dump
mkdir -p "$share/kelvano"
printf 'aa bb HI LO\r\n' >"$share/kelvano/kelvano.crd"
expect 0 "a dump in a layout from share/kelvano" "$cli" --card 22 --load 3="$work/custom.crd" dump
contains "$work/out" $'0010:\t01 02 FF' "dump with the installed layout"

# The bash completion, typed into a real interactive bash: readline replaces only the text
# after a '=', so a value joined to its option must not come back with the option again.
if [ -r /usr/share/bash-completion/bash_completion ]; then
  mkdir -p "$work/tab" && : >"$work/tab/card.hex"
  python3 "$here/complete_in_bash.py" "$share/bash-completion/completions/kelvano-cli" \
    "$prefix/bin" "$work/tab" "command=kelvano-cli --port SIM rea" "card=kelvano-cli --card 3" \
    "port=kelvano-cli --port=S" "memories=kelvano-cli --memories prog,data,e" \
    "joined=kelvano-cli read --lock-bits=b" "file=kelvano-cli convert --save=1=car" \
    "slot=kelvano-cli convert --save 1=car" >"$work/completions" 2>&1
  for line in "command: kelvano-cli --port SIM read" "card: kelvano-cli --card 3" \
              "port: kelvano-cli --port=SIM" "memories: kelvano-cli --memories prog,data,eeprom" \
              "joined: kelvano-cli read --lock-bits=both" "file: kelvano-cli convert --save=1=card.hex" \
              "slot: kelvano-cli convert --save 1=card.hex"; do
    grep -qxF -- "$line" "$work/completions" || fail "completion: no \"$line\" in $(tr '\n' '|' <"$work/completions")"
  done
else
  fail "bash-completion is not installed (scripts/deps.sh installs it)"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures install check(s) failed" >&2
  exit 1
fi
echo "installed tree under a temporary prefix: all checks passed"
