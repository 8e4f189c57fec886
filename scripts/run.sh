#!/usr/bin/env bash
# Installs the dependencies, builds the system and starts it on its built-in
# defaults: a pair of recorder programs on this machine, instance 1 listening
# on the default port and instance 2 calling it over loopback. With arguments,
# starts one recorder program with them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

bin=build/bin
headless=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
  headless=1
fi

if [ ! -x "$bin/trennick" ]; then
  # Until the recorder program exists: the trace viewer, and a program that traces to it.
  exec "$bin/velmoor-demo" "$@"
fi
if [ $# -gt 0 ]; then
  exec "$bin/trennick" "$@"
fi

home=${VELMOOR_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/velmoor}
log() { find "$home" -name Velmoor.log 2>/dev/null | head -n 1; }
# Connection entries (event 10) stamped at or after this start; the log is a
# ring of entries, so they are told by their time, not their place.
since=$(date +%Y%m%d%H%M%S)
connected() { awk -F, -v since="$since" '$2 == 10 && ($3 $4) >= since { sub(/[[:space:]]+$/, ""); print }' "$1"; }

"$bin/trennick" /U1 /I &
listener=$!
sleep 2
"$bin/trennick" /U2 /I /P=4600 /D=127.0.0.1:4599 /C &
caller=$!
stop() {
  kill "$listener" "$caller" 2>/dev/null || true
  wait "$listener" "$caller" 2>/dev/null || true
}

# The activity log tells when both sides see the connection.
for _ in $(seq 1 60); do
  f=$(log)
  if [ -n "$f" ] && [ "$(connected "$f" | wc -l)" -ge 2 ]; then
    echo "Velmoor: instance 1 (listening on port 4599) and instance 2 (calling 127.0.0.1:4599) are connected:"
    connected "$f"
    if [ "$headless" = 1 ]; then
      stop
      exit 0
    fi
    echo "Close both windows to end."
    wait "$listener" "$caller" || true
    exit 0
  fi
  if ! kill -0 "$listener" 2>/dev/null || ! kill -0 "$caller" 2>/dev/null; then
    echo "Velmoor: a recorder program ended before the pair connected (is another pair still running?)" >&2
    stop
    exit 1
  fi
  sleep 1
done
echo "Velmoor: the pair did not connect within 60 seconds" >&2
stop
exit 1
