#!/usr/bin/env bash
# Builds the shipped Windows programs (i686, stripped) and prints their sizes
# and the DLLs they import.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$(nproc)" --target velmora velmora-cli >/dev/null
for program in velmora velmora-cli; do
    exe=build/win32/bin/$program.exe
    echo "$program.exe (i686, stripped): $(stat -c %s "$exe") bytes"
    echo "  imports: $(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}' | sort | paste -sd ' ')"
done
