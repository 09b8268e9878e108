#!/usr/bin/env bash
# Builds Pictrim and runs every test: once in an optimised build, from which
# the Debian package is also made, installed, tried and removed; once
# cross-built for Windows and run under Wine, from which the zip is made;
# once under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
# What each ctest run printed, for the tests it skipped.
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DPICTRIM_BUILD_GUI=ON
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure | tee "$logs/suite"
# The batch window used as a person would, in a virtual display.
tools/batch-window-test.sh build
# Skipped (77) when a pictrim package is installed already: the check would
# remove it.
package=passed
tools/package-check.sh build || { status=$?; [ "$status" -eq 77 ] || exit "$status"; package=skipped; }

tools/windows-check.sh build-win | tee "$logs/windows"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPICTRIM_SANITIZE=address,undefined -DPICTRIM_BUILD_GUI=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp" \
  ctest --test-dir build-asan -j "$jobs" --output-on-failure | tee "$logs/asan"

# About a minute of fuzzing the whole job with arbitrary source files.
tools/fuzz.sh 60

# Reached only when everything above passed (set -e).
# The names of the tests a ctest run listed as not run (skipped or disabled).
not_run() { sed -nE 's/^[[:space:]]*[0-9]+ - (.*) \((Skipped|Disabled)\)$/\1/p' "$1"; }
total() { ctest --test-dir "$1" -N | awk '/Total Tests:/ {print $3}'; }
# The Windows dialog's tests are skipped in the display-less ctest and run in
# the end-to-end check's display: counted there, once.
display=$(ctest --test-dir build-win -N -L display | sed -nE 's/^[[:space:]]*Test +#[0-9]+: //p')
passed=0 skipped=0
for run in "build suite" "build-asan asan" "build-win windows"; do
  read -r dir log <<<"$run"
  count=$(total "$dir")
  missed=$(not_run "$logs/$log" | sort -u)
  if [ "$log" = windows ]; then
    count=$((count - $(grep -c . <<<"$display" || true)))
    missed=$(comm -23 <(echo "$missed") <(sort -u <<<"$display"))
  fi
  missed=$(grep -c . <<<"$missed" || true)
  passed=$((passed + count - missed)) skipped=$((skipped + missed))
done
# The display's dialog tests; +1: the fuzzing; +3: the batch window used in
# a virtual display, the Windows dialog used under Wine and the installer's
# round trip; +1 again unless the package check was skipped.
passed=$((passed + $(grep -c . <<<"$display" || true) + 1 + 3))
if [ "$package" = passed ]; then passed=$((passed + 1)); else skipped=$((skipped + 1)); fi
echo "summary: $passed passed, 0 failed, $skipped skipped"
