#!/usr/bin/env bash
# Installs Pictrim's installer silently in a fresh Wine prefix, checks the
# files, the Start menu shortcut and the registry entries, uninstalls it
# silently and checks that the registry and the folders are exactly as
# before; then the same into another folder with /D=.
#
#   tools/wine-installer-test.sh BUILD-WIN-DIR
#
# Needs no display: a silent installer opens no window.
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD-WIN-DIR}" && pwd)
installer=$(ls "$build"/pictrim-*-win64.exe 2>/dev/null | head -1)
[ -n "$installer" ] || { echo "wine-installer-test: no installer in $build (cpack -G NSIS)" >&2; exit 1; }
version=$(basename "$installer" | sed 's/^pictrim-\(.*\)-win64\.exe$/\1/')

work=$(mktemp -d /tmp/pictrim-installer.XXXXXX)
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8
unset DISPLAY
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "wine-installer-test: FAILED: $*" >&2; failures=$((failures + 1)); }
say() { echo "wine-installer-test: $*"; }

wineboot -i >/dev/null 2>&1
wineserver -p 2>/dev/null || true
c=$WINEPREFIX/drive_c
menu="$c/ProgramData/Microsoft/Windows/Start Menu/Programs"
classes='HKLM\Software\Classes'
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

# The parts of the registry and the folders that an install may touch, as text.
snapshot() {
  local key
  for key in "$classes" "$uninstall"; do
    wine reg export "$key" "Z:${work//\//\\}\\export.reg" /y >/dev/null
    iconv -f UTF-16LE -t UTF-8 "$work/export.reg" | tr -d '\r'
  done
  (cd "$c" && find "Program Files" "Apps/Pictrim" "ProgramData/Microsoft/Windows/Start Menu" 2>/dev/null || true) | sort
}
# The data of one registry value, as `reg query` prints it.
value() {
  { wine reg query "$1" /v "$2" 2>/dev/null || true; } | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p" | head -1
}
default_value() {
  { wine reg query "$1" /ve 2>/dev/null || true; } | tr -d '\r' | sed -n 's/^ *(Default) *REG_[A-Z_]* *//p' | sed 's/^(value not set)$//' | head -1
}

round_trip() {  # FOLDER (Windows path) [ /D=FOLDER ]
  local folder=$1 unix=$2
  shift 2
  snapshot >"$work/before.txt"
  local bmp_default
  bmp_default=$(default_value "$classes\\.bmp")

  wine "$installer" /S "$@"
  wineserver -w
  for file in pictrim.exe pictrim-cli.exe uninstall.exe README.md LICENSE.txt; do
    [ -f "$unix/$file" ] || fail "$folder\\$file not installed"
  done
  [ -f "$menu/Pictrim.lnk" ] || fail "no Start menu shortcut"
  [ "$(value "$uninstall\\Pictrim" DisplayName)" = Pictrim ] || fail "no Apps & features entry"
  [ "$(value "$uninstall\\Pictrim" DisplayVersion)" = "$version" ] || fail "Apps & features: wrong version"
  [ -n "$(value "$uninstall\\Pictrim" EstimatedSize)" ] || fail "Apps & features: no size"
  [ "$(value "$uninstall\\Pictrim" UninstallString)" = "\"$folder\\uninstall.exe\"" ] || fail "Apps & features: wrong uninstaller"
  [ "$(default_value "$classes\\Applications\\pictrim.exe\\shell\\open\\command")" = "\"$folder\\pictrim.exe\" \"%1\"" ] ||
    fail "no open command for Open with"
  wine reg query "$classes\\Applications\\pictrim.exe\\SupportedTypes" /v .bmp >/dev/null 2>&1 || fail "no SupportedTypes .bmp"
  wine reg query "$classes\\.bmp\\OpenWithProgids" /v Pictrim.bmp >/dev/null 2>&1 || fail "not in .bmp's Open with list"
  [ "$(default_value "$classes\\.bmp")" = "$bmp_default" ] || fail "the default program for .bmp changed"
  [ "$(wine "$folder\\pictrim-cli.exe" --version | tr -d '\r')" = "pictrim-cli $version" ] || fail "installed pictrim-cli.exe does not run"

  wine "$folder\\uninstall.exe" /S
  wineserver -w  # the uninstaller runs on from a copy of itself
  snapshot >"$work/after.txt"
  diff -u "$work/before.txt" "$work/after.txt" || fail "uninstalling left the above behind"
  say "installed into $folder and removed again: $failures failure(s) so far"
}

round_trip 'C:\Program Files\Pictrim' "$c/Program Files/Pictrim"
# Wine quotes an argument with a blank, and /D= must come unquoted.
round_trip 'C:\Apps\Pictrim' "$c/Apps/Pictrim" '/D=C:\Apps\Pictrim'

if [ "$failures" -eq 0 ]; then
  echo "wine-installer-test: 1 passed, 0 failed"
else
  echo "wine-installer-test: 0 passed, 1 failed"
  exit 1
fi
