#!/usr/bin/env bash
# Installs what building, testing, the demo and the benchmark need on a fresh Debian 12
# machine (run as root). Packages already present are not fetched again.
set -euo pipefail
packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev clang-format
    g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine wine64 zlib1g-dev libz-mingw-w64-dev
    unzip
    libjpeg-turbo-progs qpdf poppler-utils img2pdf ghostscript time
    cups-daemon cups-client cups-ipp-utils cups-filters curl
)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# The cross compiler in its posix threads flavour (std::thread and friends link statically).
if command -v update-alternatives >/dev/null; then
    update-alternatives --set x86_64-w64-mingw32-g++ /usr/bin/x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || true
    update-alternatives --set x86_64-w64-mingw32-gcc /usr/bin/x86_64-w64-mingw32-gcc-posix >/dev/null 2>&1 || true
fi
echo "setup: ready"
