#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and runs every test: the host suite, the Windows exe under
# Wine, the host suite again under AddressSanitizer and UndefinedBehaviorSanitizer, and a short
# run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

step() { printf '\n==== %s\n' "$*"; }

step "host build and tests"
cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host

step "Windows exe (MinGW) and its tests under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows

step "host tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize

step "fuzz targets, ${VT_FUZZ_SECONDS:=20} s each"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
VT_FUZZ_SECONDS=$VT_FUZZ_SECONDS ctest --preset fuzz
