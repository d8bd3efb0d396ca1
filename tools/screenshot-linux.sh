#!/usr/bin/env bash
# Writes docs/linux.png: the window under Xvfb after a base file was chosen
# and two follow-up files were repaired.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/linux/bin"
work="$root/build/screenshot-linux"

rm -rf "$work"
mkdir -p "$work/config" "$root/docs"
"$bin/velmora-demo-header" "$work/header.mpeg"
cp "$work/header.mpeg" "$work/Film.mpg"
for number in 1 2; do
    # A recording whose first 2048 bytes, the header, were lost.
    head -c 2048 /dev/zero >"$work/Film#$number.mpg"
    tail -c +2049 "$work/Film.mpg" >>"$work/Film#$number.mpg"
    head -c 65536 /dev/urandom >>"$work/Film#$number.mpg"
done

# A window manager draws the title bar when one is installed. A display
# number of our own, tried again on a clash with another X server.
export XDG_CONFIG_HOME="$work/config"
for attempt in 1 2 3 4 5; do
    display=$((200 + RANDOM % 600))
    if xvfb-run --server-num="$display" --server-args="-screen 0 1024x768x24 -dpi 96" \
        bash -c 'if command -v openbox >/dev/null; then
                     openbox >/dev/null 2>&1 &
                     for _ in $(seq 100); do
                         xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
                         sleep 0.1
                     done
                 fi
                 QT_QPA_PLATFORM=xcb "$0" "$1" "$2"' \
        "$bin/velmora-screenshot" "$work" "$root/docs/linux.png"; then
        echo "Wrote docs/linux.png"
        exit 0
    fi
    echo "Attempt $attempt failed; trying again." >&2
done
exit 1
