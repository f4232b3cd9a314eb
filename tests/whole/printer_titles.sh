#!/usr/bin/env bash
# Documents as printed, through CUPS: two titled jobs printed while no e-reader is attached, then
# a third with the first's title; once the e-reader is attached, one run delivers three PDFs,
# each named after its job's title ("Title.pdf", the third "Title (2).pdf"), each holding only
# its own job's pages in order (told apart by their grey), and pdfinfo's Title the job's title
# byte for byte in UTF-8. Once on a drive e-reader and once on a media e-reader. Environment as
# tests/lib.sh, and VT_PRINTER (the printer binary).
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
# shellcheck source=tools/cups/ready.sh
source "${VT_SOURCE:?}/tools/cups/ready.sh"
init gs ipptool cupsd lpadmin lpoptions lpstat lp pdfinfo pdftoppm qpdf
: "${VT_PRINTER:?}"
PRINTER_PID="" CUPSD_PID=""
cleanup() {
    [ -z "$PRINTER_PID" ] || kill "$PRINTER_PID" 2>/dev/null
    [ -z "$CUPSD_PID" ] || kill "$CUPSD_PID" 2>/dev/null
}
trap cleanup EXIT

first='会議資料 2026: Q3/Q4 "final"' second='GNU Libtasn1 Manual'
first_name='会議資料 2026_ Q3_Q4 _final_'
# Each job's pages by their grey (tenths of 255, rounded as the check reads them back).
pages_pdf() { # pages_pdf FILE GREY...: a Letter PDF of one page per grey level
    local file=$1 grey ps=""
    shift
    for grey in "$@"; do ps+="$grey setgray 0 0 612 792 rectfill showpage "; done
    printf '%%!PS\n<< /PageSize [612 792] >> setpagedevice\n%s\n' "$ps" >"$file.ps"
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$file" "$file.ps"
}
pages_pdf "$SCRATCH/one.pdf" 0.2 0.5
pages_pdf "$SCRATCH/two.pdf" 0.8
pages_pdf "$SCRATCH/three.pdf" 0.3 0.6 0.9

# greys PDF: the grey of each page, in order.
greys() {
    local k levels="" pages
    pages=$(pdfinfo "$1" | awk '/^Pages:/ { print $2 }')
    for ((k = 1; k <= pages; k++)); do
        pdftoppm -r 10 -f $k -l $k -gray -singlefile "$1" "$MACHINE.grey"
        levels+="$(tail -c 1 "$MACHINE.grey.pgm" | od -An -tu1 | awk '{ print int(($1 + 5) / 10) }') "
    done
    echo "$levels"
}

# titles_case ROUTE PRINTER_PORT CUPS_PORT: the three jobs, then the e-reader, then one run.
titles_case() {
    local route=$1 uri=ipp://127.0.0.1:$2/ipp/print cups=127.0.0.1:$3 documents n file
    new_machine "titles-$route"
    : >"$MACHINE/machine.ini"
    VELLUMTRANSIT_MACHINE=$MACHINE "$VT_PRINTER" --port "$2" >"$MACHINE.printer" 2>&1 &
    PRINTER_PID=$!
    wait_for_printer "$uri" "$PRINTER_PID" || { fail "the printer did not start" && return; }
    CUPSD_PID=$(bash "$VT_SOURCE/tools/cups/start-cupsd.sh" "$SCRATCH/cupsd-$route" "$3") ||
        { fail "no private CUPS scheduler" && return; }
    check "lpadmin -m everywhere" lpadmin -h "$cups" -p vt -E -v "$uri" -m everywhere
    check "the queue has its PPD before the first job" wait_for_queue "$cups" vt
    n=0
    for job in "one.pdf:$first" "two.pdf:$second" "three.pdf:$first"; do
        n=$((n + 1))
        check "lp -t job $n" eval 'lp -h "$cups" -d vt -t "${job#*:}" "$SCRATCH/${job%%:*}" >/dev/null'
        # The printer has run the program for the job once its run is waited for.
        check "job $n handed over and its run ended" wait_until 60 "the run of job $n" \
            eval '[ "$(grep -c "^WaitForSingleObject vellumtransit.exe" "$MACHINE/events.log")" = $n ]'
    done
    check "CUPS done" wait_until 30 "CUPS done" eval '[ -z "$(lpstat -h "$cups" -o vt 2>/dev/null)" ]'
    kill "$CUPSD_PID" && wait "$CUPSD_PID" 2>/dev/null
    kill "$PRINTER_PID" && wait "$PRINTER_PID" 2>/dev/null
    CUPSD_PID="" PRINTER_PID=""
    check_eq "one PDF waits, the other jobs' pages beside it" \
        "VellumTransit.pdf VellumTransit2-1.jpg VellumTransit3-1.jpg VellumTransit3-2.jpg VellumTransit3-3.jpg" \
        "$(cd "$SPOOL" && ls VellumTransit.pdf VellumTransit*.jpg | sort -V | tr '\n' ' ' | sed 's/ $//')"
    if [ "$route" = drive ]; then
        documents=$MACHINE/E/documents
        mkdir -p "$documents"
        printf '[drive E]\ntype = removable\nvendor = Kindle\nbus_type = 7\nremovable_media = 1\n' \
            >"$MACHINE/machine.ini"
    else
        documents=$MACHINE/media/Scribe/Internal\ Storage/documents
        mkdir -p "$documents"
        printf '%s\n' '[media Scribe]' 'friendly_name = Kindle Scribe' \
            'description = Kindle Scribe' 'storages = Internal Storage' >"$MACHINE/machine.ini"
    fi
    run_vt
    check_eq "three documents, named after their titles" \
        "$second.pdf|$first_name (2).pdf|$first_name.pdf|" \
        "$(cd "$documents" && ls | LC_ALL=C sort | tr '\n' '|')"
    for file in "$first_name.pdf:5 13 :$first" "$second.pdf:20 :$second" \
        "$first_name (2).pdf:8 15 23 :$first"; do
        IFS=: read -r name levels title <<<"$file"
        check "qpdf --check $name" qpdf --check "$documents/$name" >/dev/null
        check_eq "$name: its own pages in order, by their grey" "$levels" "$(greys "$documents/$name")"
        check_eq "$name: pdfinfo's Title" "$title" \
            "$(pdfinfo "$documents/$name" | sed -n 's/^Title: *//p')"
    done
    check_eq "the spool is empty" "" "$(spool_left "$SPOOL")"
}
titles_case drive 28740 28810
titles_case media 28741 28811
finish
