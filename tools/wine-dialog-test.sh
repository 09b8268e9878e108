#!/usr/bin/env bash
# Uses pictrim.exe under Wine as a person would, in a virtual display of its
# own with a window manager: the source from the command line (a Japanese
# name, as "Open with" gives it), the destination typed, Execute, the
# completion notice, the file byte for byte as pictrim-cli.exe makes it, a
# second Execute whose overwrite question is answered No, then 終了 and exit
# status 16. Then many files as a drop on the program's icon gives them
# (two files and a folder on one command line): one batch window lists
# them all, Enter presses 実行, the summary tells the counts, every result
# is byte for byte pictrim-cli.exe's, Esc ends the program with status 0.
# With a second argument, screenshots of the dialog, the question, the file
# dialog, the batch window and its summary are left in that folder.
#
#   tools/wine-dialog-test.sh BUILD-WIN-DIR [SHOTS-DIR]
#
# Every wait is for a window or a file, with a time limit; nothing waits a
# fixed time.
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD-WIN-DIR [SHOTS-DIR]}" && pwd)
shots=${2:-}
exe=$build/ui/win32/pictrim.exe
cli=$build/cli/pictrim-cli.exe
limit=90  # seconds for any one thing to happen, on a loaded machine

work=$(mktemp -d /tmp/pictrim-dialog.XXXXXX)
pids=()
cleanup() {
  wineserver -k 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "wine-dialog-test: $*" >&2; exit 1; }
say() { echo "wine-dialog-test: $*"; }

# xdotool types reliably under C.UTF-8 (Wine in a Japanese locale drops
# kanji typed at it); Japanese is drawn through the font settings below.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
export WINEPREFIX=$build/wine-dialog WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

. "$(dirname "$0")/virtual-display.sh"
start_virtual_display 1024x768x24

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  # The template's font and the system's dialog font, drawn with IPA
  # Gothic where Windows would have its Japanese fonts.
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /t REG_SZ /d IPAPGothic /f >/dev/null
  for font in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "Segoe UI"; do
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$font" \
      /t REG_MULTI_SZ /d 'ipagp.ttf,IPAPGothic' /f >/dev/null
  done
fi
# One server for all that follows (ended with the prefix's -k at the end).
wineserver -p 2>/dev/null || true

winpath() { echo "Z:${1//\//\\}"; }

# The dialog's tests, which make windows: here, where there is a display.
# Their output goes to a file, which Wine's background programs, started on
# the way, may keep open without keeping anyone waiting.
tests=$build/tests/pictrim_win32_dialog_tests.exe
if [ -f "$tests" ]; then
  status=0
  timeout $((limit * 5)) wine "$tests" >"$work/tests.log" 2>&1 </dev/null || status=$?
  tr -d '\r' <"$work/tests.log" | grep -E '^\[ *(PASSED|SKIPPED|FAILED) *\]|Failure' || true
  [ "$status" -eq 0 ] || fail "the dialog's tests failed (status $status)"
  ! grep -q '^\[  SKIPPED \]' "$work/tests.log" || fail "the dialog's tests were skipped"
fi

# Waits for a visible window whose title matches; prints its id.
wait_window() {
  local id
  id=$(timeout "$limit" xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -1) || true
  [ -n "$id" ] || fail "no window '$1' within ${limit}s ($2)"
  echo "$id"
}
wait_gone() {
  local deadline=$((SECONDS + limit))
  while xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || fail "window '$1' still there after ${limit}s ($2)"
    sleep 0.1
  done
}
# Waits until a window shows more than the black it is mapped with.
wait_drawn() {
  [ -n "$shots" ] || return 0
  local deadline=$((SECONDS + limit))
  until [ "$(import -window "$1" png:- 2>/dev/null | convert - -format '%[fx:mean>0.2]' info: 2>/dev/null)" = 1 ]; do
    [ $SECONDS -lt $deadline ] || fail "window $1 not drawn after ${limit}s ($2)"
    sleep 0.1
  done
}
shot() {
  [ -n "$shots" ] || return 0
  mkdir -p "$shots"
  xwd -root -silent | convert xwd:- "$shots/$1.png"
}
# Clicks a control at its place in the template, in dialog units of the
# 223 x 113 dialog, whatever the font and scaling make of them.
click_at() {
  local WINDOW X Y WIDTH HEIGHT SCREEN
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove --window "$1" $((WIDTH * $2 / 223)) $((HEIGHT * $3 / 113)) click 1
}

# A 24-bit source of 61 x 43 pixels (rows padded to 4 bytes) with
# arbitrary pixels, in a folder and under a name in Japanese.
mkdir -p "$work/写真"
src=$work/写真/猫.bmp
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"; }
stride=$(((61 * 3 + 3) / 4 * 4))
{
  printf 'BM'; le32 $((54 + stride * 43)); le32 0; le32 54
  le32 40; le32 61; le32 43; printf '\x01\x00\x18\x00'; le32 0; le32 $((stride * 43)); le32 2835; le32 2835; le32 0; le32 0
  head -c $((stride * 43)) /dev/urandom
} >"$src"
out=$work/out.bmp
wine "$cli" "$(winpath "$src")" "$(winpath "$work/expected.bmp")" 50% >/dev/null || fail "pictrim-cli.exe could not make the expected file"

started=$(date +%s%N)
wine "$exe" "$(winpath "$src")" &
app=$!
dlg=$(wait_window '^Pictrim - v\.0\.17\.02$' "start")
say "the dialog appeared after $((($(date +%s%N) - started) / 1000000)) ms"

# The source is in its field from the command line; the destination is typed.
xdotool windowactivate --sync "$dlg"
click_at "$dlg" 87 68  # the destination field
xdotool type --delay 100 "$(winpath "$out")"
shot dialog
xdotool key Return  # Execute is the default button
box=$(wait_window '^Pictrim$' "completion notice")
shot completion
xdotool windowactivate --sync "$box" key Return
wait_gone '^Pictrim$' "completion notice"
cmp "$out" "$work/expected.bmp" || fail "the destination differs from pictrim-cli.exe's"
say "converted byte for byte"

# Execute again: the question comes first, and No keeps the file.
before=$(stat -c %i:%Y "$out")
xdotool windowactivate --sync "$dlg" key Return
box=$(wait_window '^Pictrim$' "overwrite question")
shot question
xdotool windowactivate --sync "$box" key Tab space  # from Yes to No
wait_gone '^Pictrim$' "overwrite question"
[ "$(stat -c %i:%Y "$out")" = "$before" ] || fail "No replaced the destination"
cmp -s "$out" "$work/expected.bmp" || fail "No changed the destination"
say "the overwrite question answered No kept the file"

if [ -n "$shots" ]; then
  xdotool windowactivate --sync "$dlg"
  click_at "$dlg" 190 68  # the destination's browse button
  files=$(wait_window '^(Open|開く)$' "file dialog")
  shot file-dialog
  xdotool windowactivate --sync "$files" key Escape
  wait_gone '^(Open|開く)$' "file dialog"
fi

xdotool windowactivate --sync "$dlg"
click_at "$dlg" 191 98  # 終了
status=0
timeout "$limit" tail --pid="$app" -f /dev/null || fail "pictrim.exe did not end after 終了"
wait "$app" || status=$?
[ "$status" -eq 16 ] || fail "exit status $status after 終了, not 16"
say "終了 ended the program with exit status 16"

# Many files: two named and a folder of two more (one named in upper case).
mkdir -p "$work/束" "$work/束/フォルダー"
for name in 甲.bmp 乙.bmp フォルダー/丙.BMP フォルダー/丁.bmp; do cp "$src" "$work/束/$name"; done
wine "$exe" "$(winpath "$work/束/甲.bmp")" "$(winpath "$work/束/乙.bmp")" "$(winpath "$work/束/フォルダー")" &
app=$!
batch=$(wait_window '^Pictrim - 一括変換$' "batch window")
xdotool windowactivate --sync "$batch"
shot batch
xdotool key Return  # 実行 is the default button
box=$(wait_window '^Pictrim$' "summary")
xdotool windowactivate --sync "$box"
wait_drawn "$box" "summary"
shot batch-summary
# The box alone too: in the whole screen's picture it may show black.
[ -z "$shots" ] || import -window "$box" "$shots/batch-summary-box.png"
xdotool key Return
wait_gone '^Pictrim$' "summary"
for name in 甲_50.bmp 乙_50.bmp フォルダー/丙_50.BMP フォルダー/丁_50.bmp; do
  cmp "$work/束/$name" "$work/expected.bmp" || fail "$name differs from pictrim-cli.exe's"
done
say "the batch window converted 4 files byte for byte"
shot batch-done
xdotool windowactivate --sync "$batch" key Escape
status=0
timeout "$limit" tail --pid="$app" -f /dev/null || fail "pictrim.exe did not end after Esc in the batch window"
wait "$app" || status=$?
[ "$status" -eq 0 ] || fail "exit status $status after Esc in the batch window, not 0"
echo "wine-dialog-test: 1 passed, 0 failed"
