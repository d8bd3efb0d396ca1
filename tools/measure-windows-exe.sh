#!/usr/bin/env bash
# Builds the shipped Windows program (i686, stripped) and prints its size and
# the DLLs it imports.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$(nproc)" --target velmora >/dev/null
exe=build/win32/bin/velmora.exe
echo "velmora.exe (i686, stripped): $(stat -c %s "$exe") bytes"
echo "imports: $(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}' | sort | paste -sd ' ')"
