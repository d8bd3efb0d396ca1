# The Wine environment of every Windows tool here: the build's private prefix
# (build/wine, made by tools/wine-prefix.sh), no debug output, and no offers
# to download Wine Mono or Gecko, which nothing here needs. Sourced by the
# scripts that run Wine; settings already made by the caller are kept.
wine_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$wine_root/build/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset wine_root
