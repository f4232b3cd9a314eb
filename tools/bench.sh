#!/usr/bin/env bash
# Speed and memory of the conversion, measured in one run on the same files against two
# references: cat of the pages into one file (the floor: every byte read and written once)
# and img2pdf --pagesize Letter (which also embeds the JPEGs unchanged). Then the printer's
# pages: its CPU time per page for a 300 dpi grey Letter page of text (decoding the PWG raster
# and encoding the JPEG) against cjpeg -grayscale with the same choices on the same page, and
# the bytes of a 36-page manual (Debian's libtasn1-doc) delivered at 150 and at 300 dpi.
#
#   tools/bench.sh [PAGES] [REPETITIONS]      (defaults: 256 pages, 5 repetitions)
#
# Needs the host build (cmake --preset host && cmake --build --preset host), cjpeg, img2pdf,
# pdfinfo, gs, ipptool, GNU time (/usr/bin/time) and libtasn1-doc. Pages are 1275x1650 baseline JPEGs of about 300 KB,
# made once into build/bench/pages. Each repetition converts a fresh copy of the spool; the
# copy is not timed, and all three read files that the copy left in the page cache. Wall time
# is the best repetition, peak resident memory the largest.
set -euo pipefail

pages=${1:-256}
repetitions=${2:-5}
quality=92 # gives pages of about 300 KB from vt_testpage at this size
source=$(cd "$(dirname "$0")/.." && pwd)
build=${VT_BUILD:-$source/build/host}
binary=$build/vellumtransit
work=$source/build/bench
gnu_time=/usr/bin/time

for tool in "$binary" "$build/vt_testpage" "$gnu_time"; do
    [ -x "$tool" ] || { echo "bench: $tool is missing; build the host preset first" >&2; exit 2; }
done
for tool in cjpeg img2pdf pdfinfo gs ipptool; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is not installed" >&2; exit 2; }
done

# The pages, VellumTransit1.jpg ... in page order; made again when the set differs.
stamp="$pages pages 1275x1650 quality $quality"
names=()
for ((k = 1; k <= pages; k++)); do names+=("VellumTransit$k.jpg"); done
if [ "$(cat "$work/pages/stamp" 2>/dev/null)" != "$stamp" ]; then
    rm -rf "$work/pages"
    mkdir -p "$work/pages"
    for name in "${names[@]}"; do
        k=${name//[!0-9]/}
        "$build/vt_testpage" 1275 1650 "$k" | cjpeg -quality "$quality" >"$work/pages/$name"
    done
    echo "$stamp" >"$work/pages/stamp"
fi
files=("${names[@]/#/$work/pages/}")
total_bytes=$(stat -c %s "${files[@]}" | awk '{ s += $1 } END { print s }')

# measure NAME COMMAND...: runs the command under GNU time; appends "seconds kilobytes" to
# $work/NAME.times. Wall time from the shell's clock (microseconds), memory from time.
measure() {
    local name=$1
    shift
    local start end
    start=$EPOCHREALTIME
    "$gnu_time" -f '%M' -o "$work/$name.rss" "$@"
    end=$EPOCHREALTIME
    echo "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }') $(cat "$work/$name.rss")" \
        >>"$work/$name.times"
}

rm -f "$work"/*.times
machine=$work/machine
spool=$machine/C/Windows/VellumTransit
for ((r = 1; r <= repetitions; r++)); do
    rm -rf "$machine"
    mkdir -p "$spool"
    cp "${files[@]}" "$spool"/
    sync
    measure convert env VELLUMTRANSIT_MACHINE="$machine" "$binary" >"$work/convert.out"
    if [ "$r" -eq 1 ]; then
        # A benchmark of a failing run would prove nothing: the PDF holds every page.
        count=$(pdfinfo "$spool/VellumTransit.pdf" 2>/dev/null | awk '/^Pages:/ { print $2 }')
        if [ "${count:-0}" != "$pages" ] || ls "$spool"/*.jpg >/dev/null 2>&1; then
            echo "bench: the conversion did not make a PDF of all $pages pages:" >&2
            cat "$work/convert.out" >&2
            exit 1
        fi
    fi
    # shellcheck disable=SC2016 # expanded by the inner shell
    measure cat sh -c 'exec cat "$@" >"$0"' "$work/cat.out" "${files[@]}"
    measure img2pdf img2pdf --pagesize Letter -o "$work/img2pdf.pdf" "${files[@]}"
done

# best NAME: "best_seconds peak_kilobytes" over the repetitions.
best() {
    awk 'NR == 1 || $1 < t { t = $1 } $2 > m { m = $2 } END { printf "%.4f %d\n", t, m }' \
        "$work/$1.times"
}
read -r convert_s convert_kb <<<"$(best convert)"
read -r cat_s cat_kb <<<"$(best cat)"
read -r img2pdf_s img2pdf_kb <<<"$(best img2pdf)"

awk -v n="$pages" -v bytes="$total_bytes" -v reps="$repetitions" \
    -v cs="$convert_s" -v ck="$convert_kb" -v ts="$cat_s" -v tk="$cat_kb" \
    -v is="$img2pdf_s" -v ik="$img2pdf_kb" \
    -v machine="$(nproc) CPUs, $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo), Linux $(uname -r)" -v pdf="$(stat -c %s "$spool/VellumTransit.pdf")" '
    function verdict(ok) { return ok ? "met" : "MISSED" }
    BEGIN {
        printf "%d pages of 1275x1650, %.1f MB of JPEG (%.0f kB a page on average); PDF %.1f MB\n",
            n, bytes / 1e6, bytes / n / 1e3, pdf / 1e6
        printf "best of %d repetitions, peak resident memory the largest seen; %s\n\n", reps, machine
        printf "%-26s %10s %14s\n", "", "wall (s)", "peak RSS (MiB)"
        printf "%-26s %10.3f %14.1f\n", "vellumtransit (host)", cs, ck / 1024
        printf "%-26s %10.3f %14.1f\n", "cat into one file", ts, tk / 1024
        printf "%-26s %10.3f %14.1f\n", "img2pdf --pagesize Letter", is, ik / 1024
        printf "\n"
        printf "conversion / cat          %6.2fx  (goal <= 2x)    %s\n", cs / ts, verdict(cs <= 2 * ts)
        printf "img2pdf / conversion      %6.2fx  (goal >= 5x)    %s\n", is / cs, verdict(is >= 5 * cs)
        printf "peak RSS / JPEG bytes     %6.2fx  (goal <= 2.2x)  %s\n", ck * 1024 / bytes,
            verdict(ck * 1024 <= 2.2 * bytes)
    }'

# The outputs take as much room as the pages; only the pages are kept for the next run.
rm -rf "$machine" "$work/cat.out" "$work/img2pdf.pdf"

# ---- The printer's pages ---------------------------------------------------------------------
manual=/usr/share/doc/libtasn1-doc/libtasn1.pdf
[ -f "$manual" ] || { echo "bench: $manual is missing (apt-get install libtasn1-doc)" >&2; exit 2; }
quality=$(sed -n 's/^const int kJpegQuality = \([0-9]*\);$/\1/p' "$source/printer/jpeg_writer.h")
# shellcheck source=tools/cups/ready.sh
source "$source/tools/cups/ready.sh"
port=28690
uri=ipp://127.0.0.1:$port/ipp/print
printer_pid=""
trap '[ -z "$printer_pid" ] || kill "$printer_pid" 2>/dev/null' EXIT
# printer_on MACHINE: the host build's printer on a fresh machine with an e-reader.
printer_on() {
    rm -rf "$1" && mkdir -p "$1/C/Windows/VellumTransit" "$1/E/documents"
    printf '[drive E]\ntype = removable\nvendor = Kindle\nbus_type = 7\nremovable_media = 1\n' \
        >"$1/machine.ini"
    VELLUMTRANSIT_MACHINE=$1 "$build/vellumtransit-printer" --port $port >"$1.printer" 2>&1 &
    printer_pid=$!
    wait_for_printer "$uri" "$printer_pid" || { cat "$1.printer" >&2; exit 1; }
}
printer_off() { kill "$printer_pid" && { wait "$printer_pid" 2>/dev/null || true; }; printer_pid=""; }
# print FILE: a Print-Job of the PWG raster FILE, answered once every page is encoded.
print() {
    ipptool -q -T 600 -f "$1" -d filetype=image/pwg-raster "$uri" \
        /usr/share/cups/ipptool/print-job.test || { echo "bench: the printer refused $1" >&2; exit 1; }
}
ticks() { awk '{ print $14 + $15 }' "/proc/$printer_pid/stat"; }

# One page of the manual's text at 300 dpi, as the printer gets it and as cjpeg does.
copies=20
render() { gs -q -dSAFER -dBATCH -dNOPAUSE -r"$1" "${@:2}" "$manual" 2>/dev/null; }
render 300 -sDEVICE=pwgraster -dcupsColorSpace=18 -dcupsBitsPerColor=8 -dFirstPage=12 \
    -dLastPage=12 -sOutputFile="$work/text.pwg"
render 300 -sDEVICE=pgmraw -dFirstPage=12 -dLastPage=12 -sOutputFile="$work/text.pgm"
# The same page copies times in one document: "RaS2", then its header and lines again and again.
{ printf 'RaS2' && for ((k = 0; k < copies; k++)); do tail -c +5 "$work/text.pwg"; done; } \
    >"$work/copies.pwg"
printer_on "$work/printer-machine"
before=$(ticks)
print "$work/copies.pwg"
printer_ms=$((($(ticks) - before) * 1000 / $(getconf CLK_TCK) / copies))
printer_off
"$gnu_time" -f '%U %S' -o "$work/cjpeg.cpu" sh -c 'for k in $(seq "$1"); do
    cjpeg -grayscale -quality "$2" "$3" >"$4"; done' sh "$copies" "$quality" "$work/text.pgm" \
    "$work/text.jpg"
cjpeg_ms=$(awk -v n="$copies" '{ printf "%d", ($1 + $2) * 1000 / n }' "$work/cjpeg.cpu")

# The whole manual at each resolution, delivered.
for dpi in 150 300; do
    render "$dpi" -sDEVICE=pwgraster -dcupsColorSpace=18 -dcupsBitsPerColor=8 \
        -sOutputFile="$work/manual.pwg"
    printer_on "$work/manual-machine"
    print "$work/manual.pwg"
    pdf=$work/manual-machine/E/documents/VellumTransit.pdf
    wait_until 120 "the manual at $dpi dpi on the e-reader" test -s "$pdf" || exit 1
    printer_off
    eval "manual_$dpi=\$(stat -c %s \"\$pdf\")"
    pages=$(pdfinfo "$pdf" | awk '/^Pages:/ { print $2 }')
    [ "$pages" = 36 ] || { echo "bench: the manual arrived with $pages pages" >&2; exit 1; }
done
rm -rf "$work/manual-machine" "$work/printer-machine" "$work/manual.pwg" "$work/copies.pwg"

# shellcheck disable=SC2154 # manual_150 and manual_300 are set by eval above
awk -v p="$printer_ms" -v c="$cjpeg_ms" -v q="$quality" -v n="$copies" \
    -v m150="$manual_150" -v m300="$manual_300" 'BEGIN {
    printf "\nthe printer, a 300 dpi grey Letter page of text (page 12 of libtasn1.pdf), %d copies:\n", n
    printf "%-42s %6d ms of CPU a page\n", "printer (PWG raster in, JPEG out)", p
    printf "%-42s %6d ms of CPU a page\n", "cjpeg -grayscale -quality " q " (PGM in)", c
    printf "printer / cjpeg            %6.2fx  (goal <= 1.3x)  %s\n", p / c, p <= 1.3 * c ? "met" : "MISSED"
    printf "libtasn1.pdf, 36 pages, delivered: %.1f MB at 150 dpi, %.1f MB at 300 dpi\n",
        m150 / 1e6, m300 / 1e6
}'
