#!/bin/sh
# Runs a Windows program under Wine for CMake and CTest. Wine's background
# programs (services.exe and friends) may be started by the program and
# outlive it; started with our output, they would hold CTest's pipe open and
# the test would never seem to end. So they get files, which are passed on.
out=$(mktemp) && err=$(mktemp) || exit 125
wine "$@" >"$out" 2>"$err"
status=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit "$status"
