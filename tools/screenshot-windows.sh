#!/usr/bin/env bash
# Writes docs/windows.png: the Windows program under Wine and Xvfb, after a
# base file was chosen and two follow-up files were repaired.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$(nproc)" --target velmora velmora_e2e
tools/wine-prefix.sh

source tools/wine-env.sh
trap 'wineserver -k 2>/dev/null || true' EXIT
mkdir -p docs
rm -f build/windows.bmp
xvfb-run -a -s "-screen 0 1024x768x24" tools/wine-run.sh \
    build/win32/bin/velmora_e2e.exe "$PWD/build/win32/bin/velmora.exe" \
    screenshot "$PWD/build/windows.bmp"
convert build/windows.bmp -strip docs/windows.png
echo "Wrote docs/windows.png"
