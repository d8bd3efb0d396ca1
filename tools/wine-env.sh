# The Wine environment of every Windows tool here: the build's private prefix
# (build/wine, made by tools/wine-prefix.sh), no debug output, and no offers
# to download Wine Mono or Gecko, which nothing here needs. Sourced by the
# scripts that run Wine; settings already made by the caller are kept.
wine_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$wine_root/build/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset wine_root

# Wine's 32-bit loader runs only where the kernel runs 32-bit x86 programs,
# and some machines' kernels are built without that. Debian's `wine` picks
# that loader whenever it is installed, so there `wine` below is the 64-bit
# loader, which runs the x86_64 programs; the i686 ones cannot run at all
# (VELMORA_WINE_RUNS_32BIT says which). The answer is kept for child scripts.
if [ -z "${VELMORA_WINE_RUNS_32BIT:-}" ]; then
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
        export VELMORA_WINE_RUNS_32BIT=yes
    else
        export VELMORA_WINE_RUNS_32BIT=no
    fi
fi
if [ "$VELMORA_WINE_RUNS_32BIT" = no ]; then
    export WINELOADER=/usr/lib/wine/wine64
    wine() { /usr/lib/wine/wine64 "$@"; }
    export -f wine
fi
