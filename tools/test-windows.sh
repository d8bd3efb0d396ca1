#!/usr/bin/env bash
# Builds the Windows program (i686, the shipped one, and x86_64) with
# mingw-w64 and runs every Windows test under Wine on a virtual X server:
# the engine's tests, the file layer's, the import check and the end-to-end
# cases.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs="${JOBS:-$(nproc)}"
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
done

tools/wine-prefix.sh
source tools/wine-env.sh
trap 'wineserver -k 2>/dev/null || true' EXIT
wineserver -k 2>/dev/null || true

# Root ignores permission bits, and so does Wine's server running as root:
# drop that override (uid stays 0, so the prefix remains ours) so that a
# read-only file really is read-only to the program.
drop_override=()
if [ "$(id -u)" -eq 0 ]; then
    drop_override=(setpriv --inh-caps=-dac_override --bounding-set=-dac_override)
fi
# Where the kernel runs no 32-bit x86 programs (see tools/wine-env.sh), Wine
# cannot run the i686 build: its checks that need no Wine still run (its
# imports, its zip), then every test of the x86_64 build.
win32_tests=()
if [ "$VELMORA_WINE_RUNS_32BIT" = no ]; then
    echo "test-windows: this machine's kernel runs no 32-bit x86 programs, so Wine" \
         "cannot run the i686 build; of it only the checks that need no Wine run." >&2
    win32_tests=(-R '^win32\.(imports|cli_imports|zip)$')
fi
# One persistent Wine server for the whole run: a test started while the
# previous test's server is shutting down can fail to start at all.
"${drop_override[@]}" xvfb-run -a -s "-screen 0 1024x768x24" \
    bash -c 'wineserver -p && ctest --preset win32 -j "$0" "${@}" && ctest --preset win64 -j "$0"' \
    "$jobs" "${win32_tests[@]}"
