#!/usr/bin/env bash
# Installs the dependencies, builds the system and starts it on its built-in defaults.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

bin=build/bin
if [ -x "$bin/trennick" ]; then
  exec "$bin/trennick" "$@"
fi
# Until the recorder program exists: the trace viewer, and a program that traces to it.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
fi
exec "$bin/velmoor-demo" "$@"
