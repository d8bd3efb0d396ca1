#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and nothing when
# all of them are present already.
set -euo pipefail

packages=(
    # engine, file layer, tests and benchmarks
    cmake make g++ googletest libgtest-dev libgmock-dev libbenchmark-dev clang-format
    # Linux desktop program (Qt 6 Widgets), its tests, `make run`, `make package`
    # and `make screenshot-linux` (Xvfb, a window manager for the title bar)
    qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core
    xvfb xauth x11-utils openbox dpkg-dev
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
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
