#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's private prefix (see
# tools/wine-prefix.sh), quietly. CMake uses it to run the Windows tests.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
# Never offer to download Wine Mono or Gecko: nothing here needs them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# Now and then, on a loaded machine, Wine fails to start the program at all
# ("ShellExecuteEx failed: Internal error."). Nothing has run then, so the
# start is tried again; any other failure is the program's own and stands.
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
for attempt in 1 2 3; do
    status=0
    wine "$@" 2> >(tee "$errors" >&2) || status=$?
    wait  # for tee to finish writing
    if [ "$status" -eq 0 ] || ! grep -q "ShellExecuteEx failed" "$errors"; then
        exit "$status"
    fi
    echo "wine-run: Wine could not start $1 (attempt $attempt), trying again" >&2
done
exit "$status"
