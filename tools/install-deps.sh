#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and nothing when
# all of them are present already.
set -euo pipefail

packages=(
    # engine, file layer, tests and benchmarks
    cmake make g++ googletest libgtest-dev libgmock-dev libbenchmark-dev clang-format
)

# The Linux desktop program: Qt 6 Widgets and a font for it and its tests;
# dpkg-dev for `make package`; a virtual X server and a window manager (for
# the title bar) for `make screenshot-linux`; a private session bus with the
# accessibility bus for the test of what screen readers hear.
packages+=(
    qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core
    dpkg-dev
    xvfb xauth x11-utils openbox
    at-spi2-core dbus-daemon
)

# The Windows program: mingw-w64 cross compilers, Wine (64- and 32-bit) with
# its own fonts and the X libraries it draws with, a virtual X server, and
# ImageMagick for the screenshot.
packages+=(
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64 binutils-mingw-w64
    wine wine64 wine32:i386 fonts-wine
    libxrender1 libxrandr2 libxi6 libxcursor1 libxinerama1 libxcomposite1 libxfixes3
    xvfb xauth x11-utils imagemagick
)

# Fuzzing (clang with its libFuzzer and sanitizer runtimes), the tests on
# real MPEG streams (ffmpeg and ffprobe) and on a FUSE mount (bindfs), needed
# by the tests only.
packages+=(
    clang libclang-rt-14-dev ffmpeg bindfs
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
else
    sudo=
fi
# wine32 comes from the i386 architecture.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
