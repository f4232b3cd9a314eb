#!/usr/bin/env bash
# Whole runs of the host binary on what an adversary or an odd encoder leaves in the spool: a
# link planted under the partial name, CMYK pages, fill bytes before the frame header; and
# machine files that simwin must refuse rather than quietly test something else.
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
init qpdf pdfinfo pdfimages pdftoppm gs
job=$(page_set job 2)

# A symbolic or a hard link under the partial name, to a file outside the machine: the link
# goes, its target keeps its bytes, and the PDF is written.
for kind in symbolic hard; do
    new_machine "planted-$kind"
    spool "$job"/*
    printf 'not yours\n' >"$MACHINE.target"
    if [ $kind = symbolic ]; then
        ln -s "$MACHINE.target" "$SPOOL/VellumTransit.pdf.partial"
    else
        ln "$MACHINE.target" "$SPOOL/VellumTransit.pdf.partial"
    fi
    run_vt
    check_eq "the link's target" "not yours" "$(cat "$MACHINE.target")"
    holds "$SPOOL" VellumTransit.pdf
    judge_pdf "$SPOOL/VellumTransit.pdf" "$job" VellumTransit1.jpg VellumTransit2.jpg
done

# CMYK pages as Ghostscript writes them (samples inverted, an Adobe APP14 segment) behind a JFIF
# header: yellow over magenta must render so, not inverted and not as stripes. Fill bytes
# before a frame header are part of a valid JPEG.
new_machine colours
jfif='\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00'
gs -q -sDEVICE=jpegcmyk -r20 -g170x220 -o "$MACHINE.cmyk" \
    -c '0 0 1 0 setcmykcolor 0 396 612 396 rectfill 0 1 0 0 setcmykcolor 0 0 612 396 rectfill' \
    -c showpage
{ printf "$jfif" && tail -c +3 "$MACHINE.cmyk"; } >"$SPOOL/VellumTransit1.jpg"
frame=$(LC_ALL=C grep -obUaP '\xff\xc0' "$job/VellumTransit2.jpg" | head -1 | cut -d: -f1)
{ head -c "$frame" "$job/VellumTransit2.jpg" && printf '\xff\xff\xff' &&
    tail -c +$((frame + 1)) "$job/VellumTransit2.jpg"; } >"$SPOOL/VellumTransit2.jpg"
check "djpeg decodes the page with fill bytes" djpeg -outfile /dev/null "$SPOOL/VellumTransit2.jpg"
cp -r "$SPOOL" "$MACHINE.pages"
run_vt
check_eq "both become pages" 2 "$(grep -c '^Adding' "$MACHINE.out")"
pdf=$SPOOL/VellumTransit.pdf
check "qpdf --check" qpdf --check "$pdf" >/dev/null
check_eq "pdfimages -list: colour spaces" "cmyk rgb" \
    "$(pdfimages -list "$pdf" | awk 'NR > 2 { printf "%s%s", s, $6; s = " " }')"
check "the Adobe CMYK page is declared inverted" grep -qa '/DeviceCMYK/Decode\[1 0 1 0 1 0 1 0\]/Width 170' "$pdf"
pdfimages -j "$pdf" "$MACHINE.img"
check "the page with fill bytes is embedded unchanged" cmp -s "$MACHINE.pages/VellumTransit2.jpg" \
    "$MACHINE.img-001.jpg"
pdftoppm -r 10 -f 1 -l 1 -singlefile "$pdf" "$MACHINE.page"
# Rows a quarter from the top and from the bottom, their middle pixel: yellow, then magenta.
read -r w h < <(sed -n 2p "$MACHINE.page.ppm")
colours=$(tail -c $((w * h * 3)) "$MACHINE.page.ppm" | od -An -tu1 -v -w3 | awk -v w="$w" -v h="$h" '
    function name(r, g, b) {
        if (r > 200 && g > 200 && b < 100) return "yellow"
        if (r > 200 && g < 100 && b > 100) return "magenta"
        return r "," g "," b
    }
    NR == int(h / 4) * w + int(w / 2) + 1 { top = name($1, $2, $3) }
    NR == int(3 * h / 4) * w + int(w / 2) + 1 { bottom = name($1, $2, $3) }
    END { print top, bottom }')
check_eq "the CMYK page renders" "yellow magenta" "$colours"

# Machine files that would run something other than what they describe stop the host build.
for ini in 'DeleteFile = 1' 'frobnicate = 1' 'CopyFileA = 1:0x1FFFFFFFF' folder dangling; do
    new_machine "bad-ini"
    case $ini in
    folder) mkdir "$MACHINE/machine.ini" ;;
    dangling) ln -s "$MACHINE/nowhere" "$MACHINE/machine.ini" ;;
    *) printf '[faults]\n%s\n' "$ini" >"$MACHINE/machine.ini" ;;
    esac
    rc=0
    VELLUMTRANSIT_MACHINE=$MACHINE "$VT_BIN" >"$MACHINE.out" 2>"$MACHINE.err" || rc=$?
    check_eq "$ini: exit code" 2 "$rc"
    check "$ini: the reason" grep -q '^simwin: machine.ini' "$MACHINE.err"
    check_eq "$ini: nothing printed" "" "$(cat "$MACHINE.out")"
done
finish
