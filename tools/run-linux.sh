#!/usr/bin/env bash
# Starts the Linux program (built by `make run`).
#   tools/run-linux.sh           in a fresh demo folder, build/demo, with a
#                                simulated recorder that loses its headers
#   tools/run-linux.sh FOLDER    in FOLDER, which must hold header.mpeg
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/linux/bin"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "velmora is a desktop program: start it from a graphical session." >&2
    exit 1
fi

if [ -n "${1:-}" ]; then
    cd "$1"
    exec "$bin/velmora"
fi

demo="$root/build/demo"
rm -rf "$demo"
mkdir -p "$demo"
"$bin/velmora-demo-header" "$demo/header.mpeg"
# Five files, each held open for 5 s while it grows; the first after 8 s.
"$bin/velmora-demo-recorder" "$demo" 5 5 8 &
recorder=$!
trap 'kill "$recorder" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    [ -f "$demo/Film.mpg" ] && break
    sleep 0.1
done

cat <<TEXT
Demo folder: $demo
  1. Click "Basis Datei" and choose Film.mpg.
  2. Click "Start".
The recorder writes Film#1.mpg, Film#2.mpg, ... with their header lost;
each one is repaired as soon as the recorder closes it.
TEXT
cd "$demo"
"$bin/velmora"
