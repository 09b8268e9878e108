#!/usr/bin/env bash
# Cross-builds Pictrim for 64-bit Windows with MinGW-w64 into the folder
# given (default build-win; CMake options may follow it), runs every test
# under Wine, makes the zip and the installer, checks that the programs
# need no DLL beyond Windows' own, uses pictrim.exe as a person would and
# installs and uninstalls it.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-win}
shift || true
# Windows are made only where a display of the stage's own is set up
# (tools/wine-dialog-test.sh), never on the caller's desktop.
unset DISPLAY WAYLAND_DISPLAY
jobs=$(nproc)
started=$(date +%s)

cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release "$@"

# The build's own Wine prefix, quiet, without the offers to install Mono and
# Gecko; one Wine server kept for the whole stage, so that each test program
# does not pay Wine's start-up, and stopped however the stage ends.
export WINEPREFIX="$PWD/$dir/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver -p
trap 'wineserver -k || true' EXIT
wine wineboot -i </dev/null >/dev/null 2>&1

cmake --build "$dir" -j "$jobs"
ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 900
(cd "$dir" && cpack -G ZIP && cpack -G NSIS)

zip="$dir/pictrim-$(sed -n 's/^project(Pictrim VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)-win64.zip"
listing=$(unzip -Z1 "$zip")
for file in pictrim.exe pictrim-cli.exe README.md LICENSE.txt; do
  grep -q "/$file\$" <<<"$listing" || { echo "windows-check: $file missing from $zip" >&2; exit 1; }
done
# Only DLLs every Windows 10 and 11 has: nothing of the compiler's run time.
said=""
for exe in cli/pictrim-cli.exe ui/win32/pictrim.exe; do
  imports=$(x86_64-w64-mingw32-objdump -p "$dir/$exe" | awk '/DLL Name:/ {print $3}')
  foreign=$(grep -viE '^(kernel32|msvcrt|ucrtbase|user32|shell32|advapi32|gdi32|comdlg32|comctl32|ole32|api-ms-win-.*)\.dll$' <<<"$imports" || true)
  [ -z "$foreign" ] || { echo "windows-check: $exe imports $foreign" >&2; exit 1; }
  said+="$(basename "$exe") imports $(tr '\n' ' ' <<<"$imports"); "
done

# The dialog's own tests (skipped above: no display there) and pictrim.exe
# used as a person would, in a display, prefix and Wine server of their
# own; then the installer's silent round trip.
tools/wine-dialog-test.sh "$dir"
tools/wine-installer-test.sh "$dir"

echo "windows-check: $zip and the installer; $said$(( $(date +%s) - started )) s"
