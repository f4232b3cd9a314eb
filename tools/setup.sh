#!/usr/bin/env bash
# Installs what building, testing, the demo and the benchmark need on a fresh Debian 12
# machine (run as root). Packages already present are not fetched again.
set -euo pipefail
packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev clang-format
    g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine wine64 zlib1g-dev libz-mingw-w64-dev
    unzip libjpeg62-turbo-dev nasm dpkg-dev
    libjpeg-turbo-progs qpdf poppler-utils img2pdf ghostscript time
    cups-daemon cups-client cups-ipp-utils cups-filters curl libtasn1-doc
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
# The Windows build cross-builds libjpeg-turbo from Debian's own source package: a deb-src entry
# beside each deb entry of the machine (same mirrors, suites and components), then the source
# once into a machine-wide folder that CMake finds.
jpeg_sources=/usr/local/src/vellumtransit
if ! compgen -G "$jpeg_sources/libjpeg-turbo-*/CMakeLists.txt" >/dev/null; then
    list=/etc/apt/sources.list.d/vellumtransit-src.sources
    if [ ! -f "$list" ]; then
        {
            # deb822 files: each stanza of Types: deb again as deb-src.
            for file in /etc/apt/sources.list.d/*.sources; do
                [ -f "$file" ] || continue
                awk -v RS= -v ORS='\n\n' '/(^|\n)Types:[^\n]*[ \t]deb([ \t\n]|$)/ && /Suites:[^\n]*bookworm/ {
                    sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' "$file"
            done
            # One-line lists: each "deb" line again as deb-src, in deb822 form.
            for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
                if [ -f "$file" ]; then cat "$file"; fi
            done | awk '$1 == "deb" && $3 ~ /^bookworm/ { if ($2 ~ /^\[/) next
                    printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents:", $2, $3
                    for (i = 4; i <= NF; ++i) printf " %s", $i; printf "\n\n" }'
        } >"$list"
    fi
    echo "setup: fetching the libjpeg-turbo source package"
    apt-get update -qq
    mkdir -p "$jpeg_sources"
    (cd "$jpeg_sources" && apt-get source -qq libjpeg-turbo >/dev/null)
fi
# The cross compiler in its posix threads flavour (std::thread and friends link statically).
if command -v update-alternatives >/dev/null; then
    update-alternatives --set x86_64-w64-mingw32-g++ /usr/bin/x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || true
    update-alternatives --set x86_64-w64-mingw32-gcc /usr/bin/x86_64-w64-mingw32-gcc-posix >/dev/null 2>&1 || true
fi
echo "setup: ready"
