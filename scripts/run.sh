#!/usr/bin/env bash
# Installs the dependencies, builds the system and starts it on its built-in
# defaults: the stand-in site (velmoor-site, a synthetic camera) listening on
# the default port and the operator's program (instance 2) calling it over
# loopback, which shows the site's live video. With arguments, starts one
# recorder program with them instead.
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
mkdir -p "$home"
log() { find "$home" -name Velmoor.log 2>/dev/null | head -n 1; }
# Connection entries (event 10) stamped at or after this start; the log is a
# ring of entries, so they are told by their time, not their place.
since=$(date +%Y%m%d%H%M%S)
connected() { awk -F, -v since="$since" '$2 == 10 && ($3 $4) >= since { sub(/[[:space:]]+$/, ""); print }' "$1"; }

# The stand-in site listens on the default port; its lines go to a file that
# this script reads, and to the terminal.
site_out=$(mktemp "${TMPDIR:-/tmp}/velmoor-site.XXXXXX")
"$bin/velmoor-site" --port 4599 >"$site_out" 2>&1 &
site=$!
operator=
stop() {
  [ -n "$operator" ] && kill "$operator" 2>/dev/null || true
  kill "$site" 2>/dev/null || true
  wait $operator "$site" 2>/dev/null || true
  rm -f "$site_out"
}
trap stop EXIT
for _ in $(seq 1 100); do
  grep -q "listening on port" "$site_out" && break
  if ! kill -0 "$site" 2>/dev/null; then
    cat "$site_out" >&2
    echo "Velmoor: the stand-in site did not start (is port 4599 taken?)" >&2
    exit 1
  fi
  sleep 0.1
done

# The operator's program (instance 2) calls the site over loopback and shows
# its live video. Without a display it saves a picture of the video window
# once the video has run for a while, says what it saw, and closes.
shot=
if [ "$headless" = 1 ]; then
  mkdir -p build/screenshots
  shot=$PWD/build/screenshots/video_window.png
  rm -f "$shot"
fi
# Instance 2 is a demonstration station that is already set up (its card
# named, the default-password warning answered, its video window beside the
# main window), so its first start shows the video at once; other instances
# keep their first-start steps.
"$bin/velmoor-demo-station" /U2
VELMOOR_VIDEO_SHOT=$shot "$bin/trennick" /U2 /I /P=4600 /D=127.0.0.1:4599 /C &
operator=$!

for _ in $(seq 1 60); do
  f=$(log)
  if [ -n "$f" ] && [ "$(connected "$f" | wc -l)" -ge 1 ] && grep -q "operator logged in" "$site_out"; then
    echo "Velmoor: the operator's program (instance 2) called the stand-in site on 127.0.0.1:4599:"
    connected "$f"
    sed 's/^/  /' "$site_out"
    if [ "$headless" = 1 ]; then
      # The program closes itself once it has the picture (or gave up).
      wait "$operator" || true
      operator=
      sed -n 's/^/  /;/video/p' "$site_out"
      [ -s "$shot" ] && exit 0
      echo "Velmoor: no picture of the video window was saved" >&2
      exit 1
    fi
    echo "Close the operator's window to end."
    wait "$operator" || true
    operator=
    exit 0
  fi
  if ! kill -0 "$operator" 2>/dev/null; then
    echo "Velmoor: the operator's program ended before it reached the site (is another instance 2 running?)" >&2
    exit 1
  fi
  sleep 1
done
echo "Velmoor: the operator's program did not reach the site within 60 seconds" >&2
sed 's/^/  /' "$site_out" >&2
exit 1
