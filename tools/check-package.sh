#!/usr/bin/env bash
# Builds the package for Windows users and checks it: the zip's name and file list, the
# version resource of both exes (the one version number of CMakeLists.txt), the read-me's
# version and line ends, and that the printer links no DLL of a library (zlib and libjpeg-turbo
# are inside it).
# Run after the windows preset is configured and built (tools/test-all.sh does).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/windows
cmake --build --preset windows --target package >/dev/null
version=$(sed -n 's/^#define VT_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/vellumtransit_version.h")
zip=$build/VellumTransit-$version-win64.zip
top=VellumTransit-$version-win64
failed=0
fail() { echo "check-package: $*" >&2 && failed=1; }
[ -f "$zip" ] || { echo "check-package: no $zip" >&2 && exit 1; }

expected=$(printf "$top/%s\n" CHECKLIST.md README-Windows.txt install.ps1 uninstall.ps1 \
    vellumtransit.exe vellumtransit-printer.exe licences/ licences/cpp-httplib.txt \
    licences/gcc-runtime.txt licences/libjpeg-turbo.txt licences/mingw-w64-runtime.txt \
    licences/stb_image_write.txt licences/zlib.txt | LC_ALL=C sort)
listed=$(unzip -Z1 "$zip" | LC_ALL=C sort)
[ "$expected" = "$listed" ] || fail "the zip's files differ: $(diff <(echo "$expected") <(echo "$listed"))"

scratch=$(mktemp -d) && trap 'rm -rf "$scratch"' EXIT
unzip -q "$zip" -d "$scratch"
IFS=. read -r major minor patch <<<"$version"
for exe in vellumtransit.exe vellumtransit-printer.exe; do
    # VS_FIXEDFILEINFO: its signature, then the file version as two double words, and the
    # version strings in UTF-16.
    perl -e '
        local $/; my $bytes = <STDIN>; my ($major, $minor, $patch, $text) = @ARGV;
        my $fixed = pack("VVVV", 0xFEEF04BD, 0x10000, $major << 16 | $minor, $patch << 16);
        my $utf16 = sub { join "", map { "$_\0" } split //, shift };
        my $ok = index($bytes, $fixed) >= 0;
        for my $key ("FileVersion", "ProductVersion") {
            $ok &&= $bytes =~ /\Q${\ $utf16->($key)}\E\0\0(?:\0\0)?\Q${\ $utf16->($text)}\E\0\0/;
        }
        exit !$ok' "$major" "$minor" "$patch" "$version" <"$scratch/$top/$exe" ||
        fail "$exe: no version resource of $version"
done
dlls=$(x86_64-w64-mingw32-objdump -p "$scratch/$top/vellumtransit-printer.exe" |
    awk '/DLL Name:/ { print tolower($3) }' | LC_ALL=C sort | tr '\n' ' ')
# System DLLs only: user32 and ole32 for the e-reader's arrival watch (its window, its count of
# portable devices).
[ "$dlls" = "advapi32.dll kernel32.dll msvcrt.dll ole32.dll user32.dll ws2_32.dll " ] ||
    fail "the printer links these DLLs: $dlls"
grep -q "^VellumTransit $version for Windows" "$scratch/$top/README-Windows.txt" ||
    fail "README-Windows.txt does not name $version"
[ "$(head -1 "$scratch/$top/README-Windows.txt" | od -An -c | tr -d ' \n' | tail -c 4)" = '\r\n' ] ||
    fail "README-Windows.txt does not end its lines in CR LF"
((failed == 0)) && echo "check-package: $zip: $(echo "$listed" | wc -l) entries, version $version"
exit $failed
