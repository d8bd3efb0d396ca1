#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's private prefix (see
# tools/wine-prefix.sh), quietly. CMake uses it to run the Windows tests.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
exec wine "$@"
