#!/usr/bin/env bash
# Installs the Debian packages that are missing, and nothing when all of them
# are present already.
#   tools/install-deps.sh run    what building and starting the Linux program
#                                needs (`make run`)
#   tools/install-deps.sh        everything: the Windows program, every test
#                                and measurement (`make test`)
set -euo pipefail
profile="${1:-all}"

# Building the Linux programs: the compiler and CMake, the headers the build
# configures against (GoogleTest, Google Benchmark), Qt 6 Widgets, a font;
# ffmpeg makes the demo's recording (and ffplay plays it).
packages=(
    cmake make g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core
    ffmpeg
)

if [ "$profile" = all ]; then
# The format check; dpkg-dev for `make package`, and the tools that check the
# package (desktop-file-validate, appstreamcli, lintian; gio and xdg-user-dir
# to start the menu entry; python3 for the icons); a virtual X server and a
# window manager (for the title bar) for the screenshots and the window's
# tests; a private session bus with the accessibility bus for the test of
# what screen readers hear.
packages+=(
    clang-format
    dpkg-dev
    desktop-file-utils appstream lintian libglib2.0-bin xdg-user-dirs python3
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

# The self-contained velmora-cli for NAS boxes: the cross compilers for
# 64-bit and 32-bit ARM (with their static C and C++ libraries), user-mode
# emulation to run their programs here, and `file` to check them.
packages+=(
    g++-aarch64-linux-gnu g++-arm-linux-gnueabihf qemu-user-static file
)

# The Windows tests on a Japanese system's code page (932) run Wine under
# the ja_JP.UTF-8 locale, generated from the locales package (below).
packages+=(locales)

# Fuzzing (clang with its libFuzzer and sanitizer runtimes) and the test on a
# FUSE mount (bindfs), needed by the tests only. (The tests on real MPEG
# streams use the demo's ffmpeg and ffprobe.)
packages+=(
    clang libclang-rt-14-dev bindfs
)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
else
    sudo=
fi

# Debian ships no generated locale but C.UTF-8; Wine takes its ANSI code
# page from the locale, and names on the disk are UTF-8 only in one that
# exists.
japanese_locale() {
    if [ "$profile" = all ] && ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8'; then
        $sudo localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
    fi
}

if [ ${#missing[@]} -eq 0 ]; then
    japanese_locale
    exit 0
fi

echo "Installing: ${missing[*]}"
# wine32 comes from the i386 architecture.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
japanese_locale
