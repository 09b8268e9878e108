#!/usr/bin/env bash
# Builds Pictrim and starts the desktop program.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)" --target pictrim
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting under xvfb-run (nothing to see); use build/cli/pictrim-cli for headless work." >&2
  exec xvfb-run -a build/ui/pictrim "$@"
fi
exec build/ui/pictrim "$@"
