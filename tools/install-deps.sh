#!/usr/bin/env bash
# Installs, from Debian's packages, what building, testing and running
# Pictrim needs. Does nothing when all of it is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  xvfb xauth fonts-ipafont-gothic qt6-translations-l10n
  dpkg-dev file lintian desktop-file-utils appstream bash-completion
  dosfstools fusefat
  # The crash-state check: pictrim-cli traced, the trace read by Python.
  strace python3
  # Windows: the cross compiler, GoogleTest's source to build with it, Wine to run the tests
  g++-mingw-w64-x86-64-posix mingw-w64 binutils-mingw-w64-x86-64 googletest wine wine64 unzip
  # The Windows installer, and pictrim.exe driven under Wine in a virtual display.
  nsis openbox xdotool x11-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
