#!/usr/bin/env bash
# Checks a built Debian package of Velmora the way distributions do, and
# fails on the first finding:
# - the icons in assets/ are what tools/make_icon.py draws now;
# - the menu entry passes desktop-file-validate without a single hint;
# - started from the menu (through GIO, as desktops start it) the program runs
#   in the user's videos folder, and in the home folder when that folder or
#   xdg-user-dir is missing;
# - the icon is there in every usual size, each PNG as large as its folder says,
#   and as SVG;
# - the AppStream metainfo passes appstreamcli validate, alone and together
#   with the menu entry and icons it names (no network);
# - lintian finds no error and no warning in the package.
#
#   packaging/linux/check-package.sh PACKAGE.deb
set -euo pipefail

package="$(realpath "${1:?usage: $0 PACKAGE.deb}")"
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

step() { echo "== $*"; }
fail() { echo "check-package: $*" >&2; exit 1; }

step "icons in assets/ as tools/make_icon.py draws them"
# PNGs are compared by their pixels: another zlib may pack them differently.
python3 "$root/tools/make_icon.py" "$work/icons"
python3 - "$work/icons" "$root/assets" <<'PYTHON' || fail "run tools/make_icon.py and commit assets/"
import os, struct, sys, zlib

def content(path):
    data = open(path, "rb").read()
    if not path.endswith(".png"):
        return data
    chunks, at = [], 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        chunks.append((kind, data[at + 8:at + 8 + length]))
        at += 12 + length
    header = [body for kind, body in chunks if kind == b"IHDR"]
    pixels = zlib.decompress(b"".join(body for kind, body in chunks if kind == b"IDAT"))
    return header, pixels

drawn, assets = sys.argv[1], sys.argv[2]
stale = [name for name in sorted(os.listdir(drawn))
         if not os.path.exists(os.path.join(assets, name))
         or content(os.path.join(drawn, name)) != content(os.path.join(assets, name))]
for name in stale:
    print(f"assets/{name} is not what tools/make_icon.py draws", file=sys.stderr)
sys.exit(1 if stale else 0)
PYTHON

tree="$work/tree"
dpkg-deb -x "$package" "$tree"
desktop="$tree/usr/share/applications/velmora.desktop"
metainfo="$tree/usr/share/metainfo/io.github.velmora.metainfo.xml"

step "desktop-file-validate velmora.desktop"
findings="$(desktop-file-validate "$desktop" 2>&1)" || fail "desktop-file-validate: $findings"
[ -z "$findings" ] || fail "desktop-file-validate: $findings"

# The folder the menu entry starts `velmora` in: a stand-in program named
# velmora writes its working folder to a file.
menu_start_folder() {
    local path="$1" out="$work/pwd"
    rm -f "$out"
    env -i HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" PATH="$path" \
        VELMORA_PWD="$out" /usr/bin/gio launch "$desktop" ||
        fail "gio launch velmora.desktop failed"
    for _ in $(seq 100); do
        [ -s "$out" ] && break
        sleep 0.1
    done
    [ -s "$out" ] || fail "the menu entry did not start velmora"
    cat "$out"
}
expect_menu_start_in() {
    local want="$1" got
    shift
    got="$(menu_start_folder "$@")"
    [ "$got" = "$want" ] || fail "the menu entry started velmora in '$got', not in '$want' ($situation)"
}
mkdir -p "$work/bin" "$work/shell-only" "$work/home/.config"
printf '#!/bin/sh\npwd >"$VELMORA_PWD"\n' >"$work/bin/velmora"
chmod +x "$work/bin/velmora"
ln -s "$(command -v sh)" "$work/shell-only/sh"
videos="$work/home/Meine Videos"
printf 'XDG_VIDEOS_DIR="$HOME/Meine Videos"\n' >"$work/home/.config/user-dirs.dirs"
mkdir "$videos"

step "menu start in the videos folder"
situation="videos folder present"
expect_menu_start_in "$videos" "$work/bin:/usr/bin:/bin"
situation="videos folder present, xdg-user-dir missing"
expect_menu_start_in "$work/home" "$work/bin:$work/shell-only"
rmdir "$videos"
situation="videos folder missing"
expect_menu_start_in "$work/home" "$work/bin:/usr/bin:/bin"

step "icons: hicolor sizes and SVG"
for side in 16 22 24 32 48 64 128 256; do
    icon="$tree/usr/share/icons/hicolor/${side}x${side}/apps/velmora.png"
    [ -f "$icon" ] || fail "no ${side}x${side} icon"
    size="$(python3 -c 'import struct, sys
data = open(sys.argv[1], "rb").read(24)
assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
print("%dx%d" % struct.unpack(">II", data[16:24]))' "$icon")"
    [ "$size" = "${side}x${side}" ] || fail "the ${side}x${side} icon is $size"
done
grep -q '<svg ' "$tree/usr/share/icons/hicolor/scalable/apps/velmora.svg" || fail "no SVG icon"

step "appstreamcli validate --no-net"
appstreamcli validate --no-net --strict --explain "$metainfo"
appstreamcli validate-tree --no-net --strict --explain "$tree"

step "lintian $(basename "$package")"
# lintian says so when it runs as root; that is no finding.
lintian --fail-on error,warning "$package" 2> >(grep -v 'running with root privileges' >&2)
echo "package checks passed: $(basename "$package")"
