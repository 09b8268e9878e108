#!/usr/bin/env bash
# The Debian package's round trip: builds it from a configured build folder
# (default: build), installs it, uses the installed programs and checks the
# desktop entry and the AppStream record, then removes it again, also when a
# check fails, leaving the machine as it was. Exits 77 without checking
# anything when a pictrim package is installed already.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

rm -f "$build"/pictrim_*.deb
cmake --build "$build" --target package >/dev/null
deb=$(echo "$build"/pictrim_*.deb)
version=$(dpkg-deb -f "$deb" Version)
[ "$(dpkg-deb -f "$deb" Recommends)" = bash-completion ] || { echo "the package does not recommend bash-completion"; exit 1; }
if ! tags=$(lintian --fail-on error "$deb" 2>&1); then
  echo "$tags"; exit 1
fi

# Other checkouts on this machine may be installing theirs at the same time.
exec 9>/tmp/pictrim-package-check.lock
flock 9
if dpkg-query -W -f='${Status}' pictrim 2>/dev/null | grep -q "install ok installed"; then
  echo "package check skipped: a pictrim package is installed already; remove it to run the check"
  exit 77
fi

work=$(mktemp -d)
before="$work/packages-before"
dpkg-query -W -f='${Package}\n' | sort >"$before"
cleanup() {
  $sudo dpkg -r pictrim >/dev/null || true
  # Whatever `apt-get -f install` brought for the package goes too.
  local added
  added=$(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | awk '$1 ~ /^ii/ {print $2}' | sort | comm -13 "$before" -)
  [ -z "$added" ] || $sudo DEBIAN_FRONTEND=noninteractive apt-get remove -y $added >/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

$sudo dpkg -i "$deb" >/dev/null || $sudo DEBIAN_FRONTEND=noninteractive apt-get -f install -y >/dev/null

# A 4 x 4 source, halved: 2 x 2 pixels in rows padded to 8 bytes.
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
{
  printf 'BM'; printf "$(le32 102)$(le32 0)$(le32 54)"
  printf "$(le32 40)$(le32 4)$(le32 4)\\x01\\x00\\x18\\x00$(le32 0)$(le32 48)$(le32 0)$(le32 0)$(le32 0)$(le32 0)"
  head -c 48 /dev/urandom
} >"$work/in.bmp"
out=$(/usr/bin/pictrim-cli "$work/in.bmp" "$work/out.bmp" 50%)
[ "$out" = "Pictrim: 完了しました。" ] && [ "$(stat -c %s "$work/out.bmp")" -eq 70 ] ||
  { echo "installed pictrim-cli: '$out'"; exit 1; }

out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb /usr/bin/pictrim --version)
[ "$out" = "pictrim $version" ] || { echo "installed pictrim --version: '$out'"; exit 1; }

desktop-file-validate /usr/share/applications/pictrim.desktop
appstreamcli validate --pedantic --no-net /usr/share/metainfo/io.github.pictrim.pictrim.metainfo.xml >/dev/null
# "Open with Pictrim" for BMP files: the desktop database names it.
grep -q '^image/bmp=.*pictrim\.desktop' /usr/share/applications/mimeinfo.cache
# Completion as a user meets it: bash-completion loaded, ours found by the
# command's name on the first Tab, and `pictrim-cli -<Tab>` offering the options.
offered=$(bash --norc --noprofile -c '
  . /usr/share/bash-completion/bash_completion
  COMP_WORDS=(pictrim-cli -); COMP_CWORD=1; COMP_LINE="pictrim-cli -"; COMP_POINT=${#COMP_LINE}
  _completion_loader pictrim-cli
  registered=$(complete -p pictrim-cli) || exit 1
  function=${registered#*-F }; function=${function%% *}
  "$function" pictrim-cli - pictrim-cli
  printf "%s\n" "${COMPREPLY[@]}"' 2>&1) || true
for option in --target-directory --suffix --recursive --files0-from --jobs --dry-run --quiet \
  --preserve-timestamps --yes --no --help --version -t -R -j -n -q -p -y; do
  grep -qxe "$option" <<<"$offered" || { echo "completion of 'pictrim-cli -' lacks $option: $offered"; exit 1; }
done

cleanup
trap - EXIT
if dpkg-query -W -f='${Status}' pictrim 2>/dev/null | grep -q installed || [ -e /usr/bin/pictrim ]; then
  echo "package not removed"; exit 1
fi
echo "package round trip: $(basename "$deb") installed, used, validated and removed"
