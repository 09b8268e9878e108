#!/usr/bin/env bash
# Installs Pictrim's installer silently in a fresh Wine prefix, checks the
# files, the Start menu shortcut and the registry entries, uninstalls it
# silently and checks that the registry and the folders are exactly as
# before (the class and the verbs that give Explorer's selection to one
# process included); then the same into a new folder chain with /D=. Then: a second
# install elsewhere takes the first copy away, a third without /D= stays
# where the second went, a copy of the folder made by hand removes only
# itself, a folder the install made is kept once it holds someone else's
# file; and while pictrim-cli.exe runs from the install folder, neither an
# uninstall nor an install elsewhere changes anything.
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
clsid='{AB592894-8D00-472E-BDFF-E268CBA0E760}'

# The parts of the registry and the folders that an install may touch, as text.
snapshot() {
  local key
  for key in "$classes" "$uninstall"; do
    wine reg export "$key" "Z:${work//\//\\}\\export.reg" /y >/dev/null
    iconv -f UTF-16LE -t UTF-8 "$work/export.reg" | tr -d '\r'
  done
  (cd "$c" && find "Program Files" "Apps" "ツール" "ProgramData/Microsoft/Windows/Start Menu" 2>/dev/null || true) | sort
}
# The data of value NAME of KEY (@: its default value), as `reg export`
# writes it, which keeps any text (`reg query` prints ? for what its code
# page lacks).
value() {
  local name=$2
  [ "$name" = @ ] || name="\"$name\""
  wine reg export "$1" "Z:${work//\//\\}\\value.reg" /y >/dev/null 2>&1 || return 0
  iconv -f UTF-16LE -t UTF-8 "$work/value.reg" | tr -d '\r' |
    awk -v n="$name=" '/^\[/ { if (seen++) exit; next } index($0, n) == 1 { print substr($0, length(n) + 1); exit }' |
    sed -e 's/^"\(.*\)"$/\1/' -e 's/\\"/"/g' -e 's/\\\\/\\/g'
}
unix() { winepath -u "$1" 2>/dev/null; }

# Wine quotes an argument with a blank, and /D= and _?= must come last and
# unquoted: so they are given word by word.
install() {  # [FOLDER]; returns the installer's exit status
  local -a into=()
  [ $# -eq 0 ] || read -ra into <<<"/D=$1"
  wine "$installer" /S "${into[@]}"
}
uninstall() {  # FOLDER
  wine "$1\\uninstall.exe" /S || fail "no uninstaller in $1 to run"
  wineserver -w  # the uninstaller runs on from a copy of itself
}
# Runs FOLDER's uninstaller as the installer does to remove an older copy:
# from a copy of it, with _?=, which waits for it and gives its exit status.
uninstall_waiting() {  # FOLDER
  local -a at
  read -ra at <<<"_?=$1"
  cp "$(unix "$1\\uninstall.exe")" "$work/uninstall-copy.exe"
  wine "$work/uninstall-copy.exe" /S "${at[@]}"
}

installed() {  # FOLDER BMP-DEFAULT: the install in FOLDER is whole, with its entries
  local folder=$1 dir file
  dir=$(unix "$folder")
  for file in pictrim.exe pictrim-cli.exe uninstall.exe README.md LICENSE.txt; do
    [ -f "$dir/$file" ] || fail "$folder\\$file not installed"
  done
  [ -f "$menu/Pictrim.lnk" ] || fail "no Start menu shortcut"
  [ "$(value "$uninstall\\Pictrim" DisplayName)" = Pictrim ] || fail "no Apps & features entry"
  [ "$(value "$uninstall\\Pictrim" DisplayVersion)" = "$version" ] || fail "Apps & features: wrong version"
  [ -n "$(value "$uninstall\\Pictrim" EstimatedSize)" ] || fail "Apps & features: no size"
  [ "$(value "$uninstall\\Pictrim" UninstallString)" = "\"$folder\\uninstall.exe\"" ] || fail "Apps & features: not the uninstaller of $folder"
  [ "$(value "$classes\\Applications\\pictrim.exe\\shell\\open\\command" @)" = "\"$folder\\pictrim.exe\" \"%1\"" ] ||
    fail "no open command for Open with"
  wine reg query "$classes\\Applications\\pictrim.exe\\SupportedTypes" /v .bmp >/dev/null 2>&1 || fail "no SupportedTypes .bmp"
  wine reg query "$classes\\.bmp\\OpenWithProgids" /v Pictrim.bmp >/dev/null 2>&1 || fail "not in .bmp's Open with list"
  [ "$(value "$classes\\.bmp" @)" = "$2" ] || fail "the default program for .bmp changed"
  # A selection of any size to one process: the class as a local server of
  # the installed program, named by the DropTarget of the verbs that use it.
  [ "$(value "$classes\\CLSID\\$clsid\\LocalServer32" @)" = "\"$folder\\pictrim.exe\"" ] ||
    fail "the selection's class is not served by $folder\\pictrim.exe"
  local verb
  for verb in 'SystemFileAssociations\.bmp\shell\Pictrim' 'Directory\shell\Pictrim' \
    'Applications\pictrim.exe\shell\open' 'Pictrim.bmp\shell\open'; do
    [ "$(value "$classes\\$verb\\DropTarget" CLSID)" = "$clsid" ] || fail "$verb does not hand the selection to the class"
  done
  for verb in 'SystemFileAssociations\.bmp\shell\Pictrim' 'Directory\shell\Pictrim'; do
    [ "$(value "$classes\\$verb" MultiSelectModel)" = Player ] || fail "$verb is not offered for any number of items"
  done
}

round_trip() {  # FOLDER [NEW]: installs (into FOLDER when NEW), uninstalls, nothing left
  local folder=$1
  snapshot >"$work/before.txt"
  local bmp_default
  bmp_default=$(value "$classes\\.bmp" @)
  if [ $# -gt 1 ]; then install "$folder"; else install; fi || fail "installing into $folder failed"
  wineserver -w
  installed "$folder" "$bmp_default"
  [ "$(wine "$folder\\pictrim-cli.exe" --version | tr -d '\r')" = "pictrim-cli $version" ] || fail "installed pictrim-cli.exe does not run"
  uninstall "$folder"
  snapshot >"$work/after.txt"
  diff -u "$work/before.txt" "$work/after.txt" || fail "uninstalling left the above behind"
  say "installed into $folder and removed again: $failures failure(s) so far"
}

programs='C:\Program Files\Pictrim'
tools='C:\ツール\画像 変換'
round_trip "$programs"
round_trip "$tools" new

# One copy only: an install elsewhere removes the first, one without /D=
# goes where the last one went; the uninstaller removes the folders the
# install made, but not one that holds someone else's file by then.
snapshot >"$work/before.txt"
bmp_default=$(value "$classes\\.bmp" @)
install || fail "installing failed"
wineserver -w
install "$tools" || fail "installing into $tools failed"
wineserver -w
[ ! -e "$(unix "$programs")" ] || fail "installing into $tools left the copy in $programs"
installed "$tools" "$bmp_default"
install || fail "installing again failed"
wineserver -w
[ ! -e "$(unix "$programs")" ] || fail "an install without /D= went to $programs, not where the last one went"
installed "$tools" "$bmp_default"
# A copy of the folder elsewhere removes itself only, not the entry of the
# copy installed, nor its shortcut.
cp -r "$(unix "$tools")" "$c/Apps"
uninstall 'C:\Apps'
[ ! -e "$c/Apps" ] || fail "uninstalling a copy in C:\\Apps left it"
installed "$tools" "$bmp_default"
echo memo >"$c/ツール/メモ.txt"
uninstall "$tools"
[ -f "$c/ツール/メモ.txt" ] && [ ! -e "$(unix "$tools")" ] || fail "uninstalling from $tools did not keep C:\\ツール with its file alone"
rm -r "$c/ツール"
snapshot >"$work/after.txt"
diff -u "$work/before.txt" "$work/after.txt" || fail "installing twice and uninstalling left the above behind"
say "installed into $programs, then into $tools, then again, removed: $failures failure(s) so far"

# While pictrim-cli.exe runs from the install folder (waiting for the list
# of names it reads from a pipe held open here), Windows, and Wine too,
# refuse to open its file for writing or to delete it: an uninstall fails
# with everything kept, and so does an install elsewhere.
snapshot >"$work/before.txt"
install || fail "installing failed"
wineserver -w
mkfifo "$work/names"
wine "$programs\\pictrim-cli.exe" --files0-from - --suffix _h 50% <"$work/names" >"$work/cli.txt" 2>&1 &
cli=$!
exec 7>"$work/names"
# Running, and its file locked, once Wine has mapped the program.
until grep -q '/Pictrim/pictrim-cli\.exe$' "/proc/$cli/maps" 2>/dev/null; do
  kill -0 "$cli" 2>/dev/null || { fail "pictrim-cli.exe did not start: $(cat "$work/cli.txt")"; break; }
  sleep 0.1
done
# Each with the pipe closed, so that no program started on the way keeps it open.
status=0
uninstall_waiting "$programs" 7>&- || status=$?
[ "$status" = 2 ] || fail "uninstalling while pictrim-cli.exe runs: exit status $status, not 2"
installed "$programs" "$bmp_default"
status=0
install 'C:\Apps\Pictrim' 7>&- || status=$?
[ "$status" = 2 ] || fail "installing elsewhere while pictrim-cli.exe runs: exit status $status, not 2"
[ ! -e "$c/Apps/Pictrim" ] || fail "installing elsewhere while pictrim-cli.exe runs made C:\\Apps\\Pictrim"
installed "$programs" "$bmp_default"
# As a person or a script calls it: uninstall.exe returns at once, and its
# copy (in ~nsuN.tmp of the temporary folder) goes on; once it has ended
# while pictrim-cli.exe still ran, the install is whole. Where that copy is
# not found, it may run after pictrim-cli.exe ends: then only no files
# without the entry to remove them, and no entry without them, is sure.
uninstaller_copy() {
  local pid env
  for pid in $(pgrep -f '\\~nsu[^\\]*\.tmp\\' || true); do
    env=$(tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ") || continue
    [[ $'\n'$env$'\n' == *$'\n'"WINEPREFIX=$WINEPREFIX"$'\n'* ]] && return 0
  done
  return 1
}
wine "$programs\\uninstall.exe" /S 7>&- || fail "no uninstaller in $programs to run"
seen=no
while uninstaller_copy; do seen=yes; sleep 0.1; done
exec 7>&-
wait "$cli" || fail "pictrim-cli.exe failed: $(cat "$work/cli.txt")"
wineserver -w
left=$({ find "$(unix "$programs")" -type f 2>/dev/null || true; } | wc -l)
if [ "$seen" = yes ] || [ -n "$(value "$uninstall\\Pictrim" DisplayName)" ]; then
  installed "$programs" "$bmp_default"
  uninstall "$programs"
elif [ "$left" -gt 0 ]; then
  fail "an uninstall while pictrim-cli.exe ran left files in $programs with no entry"
fi
snapshot >"$work/after.txt"
diff -u "$work/before.txt" "$work/after.txt" || fail "uninstalling after pictrim-cli.exe ended left the above behind"
say "uninstalled (its copy seen running: $seen) and installed elsewhere while pictrim-cli.exe ran: $failures failure(s) so far"

if [ "$failures" -eq 0 ]; then
  echo "wine-installer-test: 1 passed, 0 failed"
else
  echo "wine-installer-test: 0 passed, 1 failed"
  exit 1
fi
