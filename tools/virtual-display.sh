# Sourced by the scripts that drive windows: start_virtual_display SIZE
# starts Xvfb with one screen of SIZE (e.g. 1280x900x24) and openbox on it,
# exports DISPLAY, and returns once the window manager runs (windows are
# activated through it). Uses the caller's $work (a scratch folder), $limit
# (seconds), array pids (killed by its clean-up) and fail.
start_virtual_display() {
  local i
  Xvfb -displayfd 5 -screen 0 "$1" -nolisten tcp 5>"$work/display" 2>/dev/null &
  pids+=($!)
  for ((i = 0; i < limit * 10; i++)); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || fail "Xvfb did not start"
  export DISPLAY=:$(cat "$work/display")
  openbox >/dev/null 2>&1 &
  pids+=($!)
  for ((i = 0; i < limit * 10; i++)); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
  done
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' || fail "openbox did not start"
}
