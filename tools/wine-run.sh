#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's private prefix (see
# tools/wine-prefix.sh), quietly. CMake uses it to run the Windows tests.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
# Never offer to download Wine Mono or Gecko: nothing here needs them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
