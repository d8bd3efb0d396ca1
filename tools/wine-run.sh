#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's private prefix (see
# tools/wine-prefix.sh), quietly. CMake uses it to run the Windows tests.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

# Now and then, on a loaded machine, Wine fails to start the program at all
# ("ShellExecuteEx failed: Internal error."). Nothing has run then, so the
# start is tried again; any other failure is the program's own and stands.
# Wine prints that on either stream, so both are kept and looked at. (They
# go to files, not pipes: Wine's own background processes inherit the
# descriptors and would hold a pipe open after the program has ended.)
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2 3; do
    status=0
    wine "$@" >"$out" 2>"$err" || status=$?
    cat "$out"
    cat "$err" >&2
    if [ "$status" -eq 0 ] || ! grep -qh "ShellExecuteEx failed" "$out" "$err"; then
        exit "$status"
    fi
    echo "wine-run: Wine could not start $1 (attempt $attempt), trying again" >&2
done
exit "$status"
