#!/usr/bin/env bash
# Creates the build's private Wine prefix (build/wine) once, after every Wine
# package is installed: a prefix made before wine32 was added stays broken.
# Windows managed by Wine itself (no window manager runs under Xvfb), or every
# window close stalls for about two seconds.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

ready="$WINEPREFIX/.velmora-ready"
[ -f "$ready" ] && exit 0

rm -rf "$WINEPREFIX"
mkdir -p "$(dirname "$WINEPREFIX")"
echo "Creating the Wine prefix $WINEPREFIX"
wineboot --init
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
# Debian's Wine does not find its own fonts (fonts-wine) by itself: without
# them "MS Sans Serif" falls back to another face and the caption buttons,
# drawn with Marlett, show letters.
cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
wineserver --wait
touch "$ready"
