#!/usr/bin/env bash
# Runs ipptool's ipp-everywhere.test once against the host build's printer, with the PWG raster
# samples it prints made here by Ghostscript (sgray_8 and srgb_8, 150 and 300 dpi: the types
# the printer advertises; the test skips the others). Takes minutes; not part of CI. The
# result is recorded in the README.
#
#   bash tools/cups/ipp-everywhere.sh [SCRATCH_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/../.."
scratch=${1:-$PWD/build/ipp-everywhere}
rm -rf "$scratch" && mkdir -p "$scratch/machine/C/Windows/VellumTransit" "$scratch/machine/E/documents"
printf '[drive E]\ntype = removable\nvendor = Kindle\nbus_type = 7\nremovable_media = 1\n' \
    >"$scratch/machine/machine.ini"
cp /usr/share/cups/ipptool/ipp-everywhere.test /usr/share/cups/ipptool/ipp-2.0.test \
    /usr/share/cups/ipptool/ipp-1.1.test "$scratch/"

# The sample documents: photos of 4 x 6 inches (colour and grey), a document and its first page.
cat >"$scratch/photo.ps" <<'PS'
%!PS
<< /PageSize [288 432] >> setpagedevice
0 1 287 { /x exch def x 288 div 0.3 1 x 288 div sub setrgbcolor x 0 1 432 rectfill } for
0.9 0.8 0.1 setrgbcolor 144 216 90 0 360 arc fill showpage
PS
sed 's/setrgbcolor/add add 3 div setgray/' "$scratch/photo.ps" >"$scratch/grey.ps"
render() { # render OUTPUT DOCUMENT DPI SPACE [GS_ARG...]
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r"$3" -dcupsColorSpace="$4" \
        -dcupsBitsPerColor=8 -sOutputFile="$1" "${@:5}" "$2" 2>/dev/null
}
for dpi in 150 300; do
    for type in sgray-8 srgb-8; do
        space=$([ $type = sgray-8 ] && echo 18 || echo 19)
        folder=$scratch/pwg-raster-samples-${dpi}dpi/$type
        mkdir -p "$folder"
        render "$folder/color.jpg-4x6-$type-${dpi}dpi.pwg" "$scratch/photo.ps" $dpi $space
        [ $type = srgb-8 ] ||
            render "$folder/gray.jpg-4x6-$type-${dpi}dpi.pwg" "$scratch/grey.ps" $dpi $space
        for paper in letter a4; do
            render "$folder/document-$paper-$type-${dpi}dpi.pwg" tools/frontend/sample-document.ps \
                $dpi $space -sPAPERSIZE=$paper -dFIXEDMEDIA
            render "$folder/onepage-$paper-$type-${dpi}dpi.pwg" tools/frontend/sample-document.ps \
                $dpi $space -sPAPERSIZE=$paper -dFIXEDMEDIA -dLastPage=1
        done
    done
done

# The samples of types the printer does not advertise are skipped by the test, but ipptool
# still wants to open each file it names: empty ones stand in for them.
grep -oE 'FILE pwg-raster-samples-[^ ]+' "$scratch/ipp-everywhere.test" | cut -d' ' -f2 | sort -u |
    while read -r name; do
        [ -e "$scratch/$name" ] || { mkdir -p "$scratch/${name%/*}" && : >"$scratch/$name"; }
    done

VELLUMTRANSIT_MACHINE=$scratch/machine build/host/vellumtransit-printer --port 18690 \
    >"$scratch/printer.txt" 2>&1 &
printer=$!
trap 'kill $printer 2>/dev/null' EXIT
for _ in {1..100}; do # until the printer answers
    ipptool -q ipp://127.0.0.1:18690/ipp/print get-printer-attributes.test 2>/dev/null && break
    sleep 0.1
done
cd "$scratch"
rc=0
ipptool -t -I -f pwg-raster-samples-150dpi/sgray-8/onepage-letter-sgray-8-150dpi.pwg \
    -d filetype=image/pwg-raster ipp://127.0.0.1:18690/ipp/print ipp-everywhere.test >"$scratch/result.txt" 2>&1 || rc=$?
grep -cE '\[PASS\]' result.txt | sed 's/$/ passed/'
grep -cE '\[SKIP\]' result.txt | sed 's/$/ skipped/'
grep -cE '\[FAIL\]' result.txt | sed 's/$/ failed/'
grep -E -A4 '\[FAIL\]' result.txt || true
echo "ipptool exit code $rc; the whole output is in $scratch/result.txt"
