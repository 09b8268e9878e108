#!/usr/bin/env bash
# Builds the Debian package and installs it, with what it needs from Debian
# (Qt 6, the IPA Gothic font, Qt's Japanese texts, and bash-completion,
# which it recommends). Run as root, or as a user who may use sudo.
#   tools/install.sh [BUILD-FOLDER]      (default: build)
# `apt-get remove pictrim` (as root) removes it again.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

tools/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
rm -f "$build"/pictrim_*.deb
cmake --build "$build" -j "$(nproc)" --target package
deb=$(realpath "$build"/pictrim_*.deb)
# A path, not a name: apt-get installs the file and fetches what it depends
# on; --reinstall replaces an installed build of the same version.
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --reinstall "$deb"
echo "installed: $(dpkg-query -W -f='${Package} ${Version}' pictrim); start it with 'pictrim' or from the menu (Graphics)"
