#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and nothing when
# all of them are present already.
set -euo pipefail

packages=(
    # engine, file layer, tests and benchmarks
    cmake make g++ googletest libgtest-dev libgmock-dev libbenchmark-dev clang-format
)

# Fuzzing (clang with its libFuzzer and sanitizer runtimes) and the tests on
# real MPEG streams (ffmpeg and ffprobe, needed by the tests only).
packages+=(
    clang libclang-rt-14-dev ffmpeg
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
