#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and runs every test: the host suite, the Windows exe under
# Wine and the package for Windows users, the host suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a short run of each fuzz target (VT_FUZZ_SECONDS, 20 by
# default).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
export VT_FUZZ_SECONDS=${VT_FUZZ_SECONDS:-20}

printf '\n==== format\n'
# third_party/ is kept as its authors wrote it.
git ls-files '*.cpp' '*.h' ':!third_party/' | xargs clang-format --dry-run --Werror && echo "formatted"

# The Wine tests compare with the host build, so host comes first.
for preset in host windows sanitize fuzz; do
    printf '\n==== %s: configure, build, test\n' "$preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
    if [ "$preset" = windows ]; then
        printf '\n==== windows: the package\n'
        bash tools/check-package.sh
    fi
done
