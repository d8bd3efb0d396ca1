#!/usr/bin/env bash
# Creates the build's private Wine prefix (build/wine) once, after every Wine
# package is installed: a prefix made before wine32 was added stays broken.
# Windows managed by Wine itself (no window manager runs under Xvfb), or every
# window close stalls for about two seconds.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

# The marker holds whether 32-bit programs ran when the prefix was made: a
# prefix made by the 64-bit loader alone lacks the 32-bit half.
ready="$WINEPREFIX/.velmora-ready"
[ "$(cat "$ready" 2>/dev/null)" = "32-bit: $VELMORA_WINE_RUNS_32BIT" ] && exit 0

rm -rf "$WINEPREFIX"
mkdir -p "$(dirname "$WINEPREFIX")"
echo "Creating the Wine prefix $WINEPREFIX"
wine wineboot --init
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
# Debian's Wine does not find its own fonts (fonts-wine) by itself: without
# them "MS Sans Serif" falls back to another face and the caption buttons,
# drawn with Marlett, show letters.
cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
wineserver --wait
echo "32-bit: $VELMORA_WINE_RUNS_32BIT" >"$ready"
