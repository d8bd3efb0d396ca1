#!/usr/bin/env bash
# Measures the Linux program under Xvfb: the time from its start until its
# window is mapped on the screen, and its resident memory once it is shown.
#   tools/measure-linux.sh [PROGRAM]     (default build/linux/bin/velmora)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "${1:-$root/build/linux/bin/velmora}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$root/build/linux/bin/velmora-demo-header" "$work/header.mpeg"

export XDG_CONFIG_HOME="$work/config" PROGRAM="$program" WORK="$work"
xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24 -noreset" bash -c '
    set -euo pipefail
    cd "$WORK"
    runs=5
    for run in $(seq $runs); do
        start=$(date +%s%N)
        QT_QPA_PLATFORM=xcb "$PROGRAM" &
        pid=$!
        shown=no
        for _ in $(seq 2000); do
            xwininfo -name Velmora 2>/dev/null | grep -q "IsViewable" && { shown=yes; break; }
            kill -0 "$pid" 2>/dev/null || { echo "run $run: the program ended" >&2; exit 1; }
            sleep 0.005
        done
        end=$(date +%s%N)
        if [ "$shown" != yes ]; then
            echo "run $run: FAILED: no window after $(( (end - start) / 1000000 )) ms" >&2
            kill "$pid" 2>/dev/null || true
            exit 1
        fi
        rss=$(awk "/^VmRSS/ {print \$2}" /proc/$pid/status)
        echo "run $run: window shown after $(( (end - start) / 1000000 )) ms, resident memory ${rss} kB"
        kill "$pid"
        wait "$pid" 2>/dev/null || true
    done'
