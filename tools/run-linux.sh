#!/usr/bin/env bash
# Starts the Linux program (built by `make run`).
#   tools/run-linux.sh           in a fresh demo folder, build/demo, with a
#                                simulated recorder that loses its headers
#   tools/run-linux.sh FOLDER    in FOLDER, which must hold header.mpeg
# VELMORA_BIN names another folder with the programs (default build/linux/bin).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="${VELMORA_BIN:-$root/build/linux/bin}"
# Each follow-up file is recorded for this long: long enough to watch
# Velmora wait on it.
seconds=10
files=5

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "velmora is a desktop program: start it from a graphical session." >&2
    exit 1
fi

if [ -n "${1:-}" ]; then
    cd "$1"
    exec "$bin/velmora"
fi

demo="$root/build/demo"
source="$root/build/demo-recording.mpg"
rm -rf "$demo"
mkdir -p "$demo"

# A real MPEG-2 recording with a running clock in its pictures, as long as
# the recorder takes to write it, cut by the recorder into Film.mpg and its
# follow-up files.
echo "Making a $(((files + 1) * seconds))-second recording with ffmpeg ..."
ffmpeg -nostdin -v error -y -f lavfi -i "testsrc=size=640x360:rate=25" \
    -t $(((files + 1) * seconds)) -c:v mpeg2video -b:v 2M -g 12 -f vob "$source"
# The header: the recording's first pack, with its system header.
"$bin/velmora-cli" make-header "$source" -o "$demo/header.mpeg" >/dev/null

# The recorder reads Enter from this terminal while the window runs.
"$bin/velmora-demo-recorder" "$demo" "$source" "$files" "$seconds" <&0 &
recorder=$!
trap 'kill "$recorder" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    [ -f "$demo/Film.mpg" ] && break
    sleep 0.1
done

cat <<TEXT

Demo folder: $demo
  header.mpeg  the header, made from the recording by velmora-cli make-header
  Film.mpg     the first part of the recording, whole

  1. In the window, click "Basis Datei", choose Film.mpg, click "Start".
     Velmora now waits for Film#1.mpg ("Aktuelle Datei").
  2. Then press Enter here. The recorder writes Film#1.mpg ... Film#$files.mpg,
     each for $seconds seconds and each with its header lost. Velmora leaves
     a file alone while the recorder writes it and restores its header the
     moment the recorder closes it ("Header ... restauriert!").

  While a file is recorded, its start is no MPEG header; once repaired it is:
     $bin/velmora-cli check $demo/Film#1.mpg
  Play a part (the recording's clock runs on from the part before):
     ffplay $demo/Film#1.mpg
  A player holding a file open makes Velmora wait for it too.

  End the demo: close the window, or press Ctrl+C here.

TEXT
cd "$demo"
"$bin/velmora"
