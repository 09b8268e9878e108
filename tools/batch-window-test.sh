#!/usr/bin/env bash
# Uses the batch window as a person would, in a virtual display of its own
# with a window manager: `pictrim a.bmp b.bmp photos/` from a terminal,
# Execute, the overwrite question for a.bmp answered はい, the progress, the
# summary, every result byte for byte as pictrim-cli makes it, the window
# closed with exit status 0; then a second batch into a folder stopped with
# 中止 in its middle, which leaves every destination complete or absent and
# no temporary file. With a second argument, screenshots are left in
# that folder.
#
#   tools/batch-window-test.sh BUILD-DIR [SHOTS-DIR]
#
# Every wait is for a window or a file, with a time limit; only where 中止
# lands, and when a screenshot is taken, depend on a fixed wait.
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD-DIR [SHOTS-DIR]}" && pwd)
shots=${2:-}
[ -z "$shots" ] || shots=$(mkdir -p "$shots" && cd "$shots" && pwd)
exe=$build/ui/pictrim
cli=$build/cli/pictrim-cli
limit=90  # seconds for any one thing to happen, on a loaded machine

work=$(mktemp -d /tmp/pictrim-batch.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "batch-window-test: $*" >&2; exit 1; }
say() { echo "batch-window-test: $*"; }

. "$(dirname "$0")/virtual-display.sh"
start_virtual_display 1280x900x24
export QT_QPA_PLATFORM=xcb

wait_window() {
  local id
  id=$(timeout "$limit" xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -1) || true
  [ -n "$id" ] || fail "no window '$1' within ${limit}s ($2)"
  echo "$id"
}
shot() {
  [ -n "$shots" ] || return 0
  sleep 2  # a window just mapped is painted a moment later
  xwd -root -silent | convert xwd:- "$shots/$1.png"
}
wait_file() {
  local deadline=$((SECONDS + limit))
  until [ -e "$1" ]; do
    [ $SECONDS -lt $deadline ] || fail "no $1 after ${limit}s ($2)"
    sleep 0.05
  done
}

# Sources of 640 x 480 with arbitrary pixels: two named, 300 in a folder
# (and one that is not a picture, which the list shows as such).
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"; }
bmp() {
  { printf 'BM'; le32 $((54 + 1920 * 480)); le32 0; le32 54
    le32 40; le32 640; le32 480; printf '\x01\x00\x18\x00'; le32 0; le32 $((1920 * 480)); le32 2835; le32 2835; le32 0; le32 0
    head -c $((1920 * 480)) /dev/urandom; } >"$1"
}
mkdir -p "$work/photos"
bmp "$work/a.bmp"
bmp "$work/b.bmp"
for i in $(seq -w 1 300); do
  if [ "$i" = 001 ]; then bmp "$work/photos/p$i.bmp"; else cp "$work/photos/p001.bmp" "$work/photos/p$i.bmp"; fi
done
echo "not a picture" >"$work/photos/readme.bmp"
"$cli" -q -t "$work/expected" "$work/a.bmp" "$work/b.bmp" "$work/photos/p001.bmp" 50%
"$cli" -q --suffix _200 "$work/photos/p001.bmp" 200%
mv "$work/photos/p001_200.bmp" "$work/expected/p001_200.bmp"
bmp "$work/a_50.bmp"  # an older result: asked about
cp "$work/a_50.bmp" "$work/a_50.old"

cd "$work"
"$exe" a.bmp b.bmp photos/ &
app=$!
win=$(wait_window '^Pictrim - 一括変換$' "start")
say "the batch window lists a.bmp, b.bmp and the folder's files"
xdotool windowactivate --sync "$win"
shot batch-list
xdotool key Return  # 実行 is the default button
box=$(wait_window '^Pictrim$' "overwrite question")
shot batch-question
xdotool windowactivate --sync "$box" key Return  # はい
wait_file "$work/photos/p150_50.bmp" "progress"
shot batch-progress
box=$(wait_window '^Pictrim$' "summary")
shot batch-summary
xdotool windowactivate --sync "$box" key Return
cmp "$work/a_50.bmp" "$work/expected/a.bmp" || fail "a.bmp's result differs from pictrim-cli's"
cmp "$work/b_50.bmp" "$work/expected/b.bmp" || fail "b.bmp's result differs from pictrim-cli's"
for i in $(seq -w 1 300); do
  cmp -s "$work/photos/p${i}_50.bmp" "$work/expected/p001.bmp" || fail "photos/p${i}_50.bmp differs from pictrim-cli's"
done
[ ! -e "$work/photos/readme_50.bmp" ] || fail "a file that is not a picture gave a result"
say "302 files converted byte for byte as pictrim-cli converts them, the question answered はい"
xdotool windowactivate --sync "$win" key Escape
status=0
timeout "$limit" tail --pid="$app" -f /dev/null || fail "pictrim did not end when its window closed"
wait "$app" || status=$?
[ "$status" -eq 0 ] || fail "exit status $status after closing, not 0"

rm -f photos/*_50.bmp

# 中止 once the batch has begun (the keyboard's focus is on the list while a
# batch runs, 中止 the next control that takes it): wherever it lands, each
# destination is complete or absent. A second Enter first: it must not stop.
"$exe" -t out --ratio 200 photos/ &
app=$!
win=$(wait_window '^Pictrim - 一括変換$' "second start")
xdotool windowactivate --sync "$win" key Return
wait_file out "the results' folder, made as the first file starts"
xdotool key Return
sleep 0.5  # a few files further in; the check holds wherever 中止 lands
[ -z "$(xdotool search --onlyvisible --name '^Pictrim$' 2>/dev/null)" ] || fail "a second Enter stopped the batch"
xdotool key Tab space
box=$(wait_window '^Pictrim$' "summary after 中止")
shot batch-stopped
xdotool windowactivate --sync "$box" key Return
done=0
shopt -s nullglob
for file in out/* out/.[!.]*; do
  case $file in
    out/p*.bmp) cmp -s "$file" "$work/expected/p001_200.bmp" || fail "$file is not complete"; done=$((done + 1)) ;;
    *) fail "$file should not be there" ;;
  esac
done
[ "$done" -lt 300 ] || fail "中止 did not stop the batch"
say "中止 after $done of 300 files: each of them complete, nothing else in the folder"
xdotool windowactivate --sync "$win" key Escape
timeout "$limit" tail --pid="$app" -f /dev/null || fail "pictrim did not end when its window closed"
echo "batch-window-test: 1 passed, 0 failed"
