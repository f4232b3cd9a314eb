#!/usr/bin/env bash
# The printer exe under Wine, as Windows' IPP class driver meets it: the wizard's
# Get-Printer-Attributes in IPP/1.1 and 2.0 with each attribute checked, printer-uuid the same
# across restarts and ports (Wine's computer name is the host's); ipptool jobs with COMPRESSION
# gzip and deflate reach the real exe beside it, whose PDF (Wine has no e-reader, so it waits)
# has their pages in order; compressed refusals, after which it serves on; the request log.
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
wine_init
: "${VT_PRINTER_EXE:?}"
for tool in curl gs gzip ipptool pdfinfo pdftoppm; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2 && exit 2; }
done
PORT=0 PID=""
# shellcheck source=tests/printer_lib.sh
source "$VT_SOURCE/tests/printer_lib.sh"
new_machine wine-printer-windows

# start_printer PORT [ARG...]: the exe, until it answers Get-Printer-Attributes.
start_printer() {
    PORT=$1
    "$WINE" "$VT_PRINTER_EXE" --port "$@" >"$MACHINE.printer" 2>&1 &
    PID=$!
    await_printer 600 "$MACHINE.printer"
}
stop_printer() {
    [ -z "$PID" ] || { kill "$PID" && wait "$PID"; } 2>/dev/null
    PID=""
    # Until the process has gone from Wine too: one printer per machine.
    for _ in {1..100}; do ! answers && break; sleep 0.1; done
}
trap stop_printer EXIT
# jobs_done: until no job is left unfinished.
jobs_done() {
    printf '{ OPERATION Get-Jobs GROUP operation-attributes-tag %s %s %s %s %s }\n' \
        'ATTR charset attributes-charset utf-8' 'ATTR naturalLanguage attributes-natural-language en' \
        'ATTR uri printer-uri $uri' 'ATTR keyword which-jobs not-completed' \
        'ATTR keyword requested-attributes job-id' >"$SCRATCH/open.test"
    for _ in {1..600}; do
        [ "$(ipptool -tv "$(URI)" "$SCRATCH/open.test" | grep -c 'job-id (')" = 0 ] && return
        sleep 0.1
    done
}

start_printer 28660 --log 'C:\printer.log'
for version in 1.1 2.0; do
    check_eq "IPP/$version: the status" 0000 "$(wizard $version)"
    check "IPP/$version: printer-uuid is a version 5 UUID" \
        grep -Eq '^"urn:uuid:[0-9a-f]{8}-[0-9a-f]{4}-5[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}"$' \
        <<<"$(wizard_uuid $version)"
    check_wizard $version "$(wizard_uuid $version)"
done
first=$(wizard_uuid 2.0)
check_eq "printer-uuid in IPP/1.1 and 2.0" "$first" "$(wizard_uuid 1.1)"

# Each job's PDF waits in the spool; it is judged and taken away before the next.
pdf=$EXE_SPOOL/VellumTransit.pdf
for entry in "gzip three 5 13 20" "deflate eerht 20 13 5"; do
    read -r compression document levels <<<"$entry"
    check "ipptool: Print-Job with COMPRESSION $compression" print_compressed $compression $document
    jobs_done
    check_eq "the $compression job: its pages in order, by their grey" "$levels " "$(greys "$pdf")"
    rm -f "$pdf"
done
for entry in "jpeg.gz image/jpeg gzip 0408 70 MiB of JPEG" "cut.gz image/pwg-raster gzip 0410 cut" \
    "method.gz image/pwg-raster gzip 0410 a method other than deflate" \
    "three.gz image/pwg-raster compress 040f an unsupported compression"; do
    read -r file format compression status what <<<"$entry"
    check_eq "$what" "$status" "$(refuse "$file" "$format" "$compression")"
    check "the printer serves after $what" answers
done
check "nothing of the jobs is left" test -z "$(spool_left "$EXE_SPOOL")"
check_log_block "$WINEPREFIX/drive_c/printer.log"
stop_printer

start_printer 28661
wizard 2.0 >/dev/null
check_eq "printer-uuid after a restart on another port" "$first" "$(wizard_uuid 2.0)"
stop_printer
finish
