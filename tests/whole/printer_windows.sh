#!/usr/bin/env bash
# The printer (host build) as Windows' IPP class driver meets it: the Get-Printer-Attributes
# request of the "Add printer" wizard replayed in IPP/1.1 and 2.0 and each attribute checked,
# printer-uuid the same across restarts and ports on one machine; ipptool print jobs with
# COMPRESSION gzip and deflate arrive on the simulated e-reader with their pages in order;
# compressed documents that are bombs, cut, badly headed or of an unsupported compression are
# refused and the printer goes on serving; the request log's lines for a job. Environment as
# tests/lib.sh, and VT_PRINTER (the printer binary).
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
init curl gs gzip ipptool perl pdfinfo pdftoppm
: "${VT_PRINTER:?}"
PORT=0 PRINTER_PID=""
# shellcheck source=tests/printer_lib.sh
source "$VT_SOURCE/tests/printer_lib.sh"

# start_printer PORT [ARG...]: the printer on MACHINE, until it answers Get-Printer-Attributes.
start_printer() {
    PORT=$1
    VELLUMTRANSIT_MACHINE=$MACHINE "$VT_PRINTER" --port "$@" >"$MACHINE.printer" 2>&1 &
    PRINTER_PID=$!
    await_printer 100 "$MACHINE.printer"
}
stop_printer() {
    [ -z "$PRINTER_PID" ] || { kill "$PRINTER_PID" && wait "$PRINTER_PID"; } 2>/dev/null
    PRINTER_PID=""
}
trap stop_printer EXIT
# ereader [INI_LINE...]: MACHINE gets an e-reader at E: and these [machine] lines.
ereader() {
    mkdir -p "$MACHINE/E/documents"
    { printf '[machine]\n' && printf '%s\n' "$@" &&
        printf '[drive E]\ntype = removable\nvendor = Kindle\nbus_type = 7\nremovable_media = 1\n'; } \
        >"$MACHINE/machine.ini"
}

# ---- The wizard's Get-Printer-Attributes --------------------------------------------------
new_machine wizard
ereader 'computer_name = READER-DESK' # the version 5 UUIDs below are by Python's uuid.uuid5
start_printer 28640
for version in 1.1 2.0; do
    check_eq "IPP/$version: the status" 0000 "$(wizard $version)"
    check_wizard $version '"urn:uuid:0c7f4892-1625-5dc3-996f-58b2b847a5c2"'
done
stop_printer
start_printer 28641
wizard 2.0 >/dev/null
check_eq "printer-uuid after a restart on another port" \
    '"urn:uuid:0c7f4892-1625-5dc3-996f-58b2b847a5c2"' "$(wizard_uuid 2.0)"
stop_printer
ereader 'computer_name = READER-LAPTOP'
start_printer 28641
wizard 2.0 >/dev/null
check_eq "another machine's printer-uuid" '"urn:uuid:87ed183b-658a-590c-a25c-dc6d4f85d8b4"' \
    "$(wizard_uuid 2.0)"
stop_printer

# ---- ipptool prints compressed; the request log ---------------------------------------------
new_machine compressed
ereader
start_printer 28642 --log 'C:\printer.log'
check "ipptool: Print-Job with COMPRESSION gzip" print_compressed gzip three
check "ipptool: Print-Job with COMPRESSION deflate" print_compressed deflate eerht
documents=$MACHINE/E/documents
# Each job is a document named after its job-name.
for _ in {1..600}; do
    [ -s "$documents/deflate job.pdf" ] && [ -z "$(spool_left "$SPOOL")" ] && break
    sleep 0.1
done
check_eq "the gzip job: its pages in order, by their grey" "5 13 20 " "$(greys "$documents/gzip job.pdf")"
check_eq "the deflate job: its pages in order, by their grey" "20 13 5 " \
    "$(greys "$documents/deflate job.pdf")"
check_eq "the deflate job's title" "deflate job" \
    "$(pdfinfo "$documents/deflate job.pdf" | sed -n 's/^Title: *//p')"
check_log_block "$MACHINE/C/printer.log"
# A job name that is not UTF-8 is shown as it came: its Latin-1 byte escaped, UTF-8 kept.
{ $IPP request 2.0 02 "$(URI)" op:42:job-name=$'caf\xe9 \xe2\x82\xac' \
    op:49:document-format=image/pwg-raster job:44:print-color-mode=monochrome &&
    printf 'RaS2' && page; } >"$SCRATCH/named.ipp"
check_eq "a job named in Latin-1" 0000 "$(post "$SCRATCH/named.ipp")"
check_eq "its name in the log" "$(printf '%s\n' \
    '  operation job-name nameWithoutLanguage "caf\xe9 €"' \
    '  operation document-format mimeMediaType "image/pwg-raster"' \
    '  job print-color-mode keyword "monochrome"' \
    '  document-format "image/pwg-raster" compression -' \
    '  page 1: PWG raster 150x150dpi sgray_8 4x3' '  document: 1803 bytes received, 1 page')" \
    "$(log_block "$MACHINE/C/printer.log" 3 | grep -E 'job-name|print-color|document|page')"
stop_printer

# ---- Compressed refusals ----------------------------------------------------------------
# Each is refused with its status; the printer goes on serving and no page of the job stays.
new_machine refusals
ereader
start_printer 28643
perl -e 'local $/; my $page = <STDIN>; print "RaS2", $page x 10001' < <(page) | gzip -9 \
    >"$SCRATCH/pages.gz"
check "the bombs are small" test "$(stat -c %s "$SCRATCH/pages.gz")" -lt 100000 -a \
    "$(stat -c %s "$SCRATCH/jpeg.gz")" -lt 100000
for entry in "pages.gz image/pwg-raster gzip 0408 10000 pages" \
    "jpeg.gz image/jpeg gzip 0408 70 MiB of JPEG" "cut.gz image/pwg-raster gzip 0410 cut" \
    "method.gz image/pwg-raster gzip 0410 a method other than deflate" \
    "three.gz image/pwg-raster deflate 0410 gzip as deflate" \
    "three.gz image/pwg-raster compress 040f an unsupported compression"; do
    read -r file format compression status what <<<"$entry"
    check_eq "$what" "$status" "$(refuse "$file" "$format" "$compression")"
    check "the printer serves after $what" answers
    holds "$SPOOL"
done
# The raster bomb's 10,000 pages, and the JPEG bomb's one page file (a JPEG past 1 MiB goes to
# its file as it comes).
check_eq "the bombs' page files, written and deleted" "10001 10001" \
    "$(grep -c '^CreateFileA C:.*PrinterJob.*CREATE_NEW ok' "$MACHINE/events.log") $(
        grep -c '^DeleteFileA C:.*PrinterJob.* ok' "$MACHINE/events.log")"
finish
