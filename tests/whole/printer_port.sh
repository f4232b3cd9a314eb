#!/usr/bin/env bash
# The printer's port under a crowd (host build, on machine folders): tests/port_cases.sh, with
# the machine's e-reader, so that every job ends, and its events, which show each page written
# whole. Environment as tests/lib.sh, and VT_PRINTER.
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
# shellcheck source=tools/cups/ready.sh
source "${VT_SOURCE:?}/tools/cups/ready.sh"
init curl ipptool perl
: "${VT_PRINTER:?}"
PORT=28670 PRINTER_PID="" EREADER=yes
URI=ipp://127.0.0.1:$PORT/ipp/print
CLIENTS=$VT_SOURCE/tests/port_clients.pl

start_printer() {
    mkdir -p "$MACHINE/E/documents"
    printf '[drive E]\ntype = removable\nvendor = Kindle\nbus_type = 7\nremovable_media = 1\n' \
        >"$MACHINE/machine.ini"
    VELLUMTRANSIT_MACHINE=$MACHINE "$VT_PRINTER" --port "$PORT" >"$MACHINE.printer" 2>&1 &
    PRINTER_PID=$!
    wait_for_printer "$URI" "$PRINTER_PID" || fail "the printer did not start: $(cat "$MACHINE.printer")"
}
stop_printer() {
    [ -z "$PRINTER_PID" ] || kill "$PRINTER_PID" 2>/dev/null
    [ -z "$PRINTER_PID" ] || wait "$PRINTER_PID" 2>/dev/null
    PRINTER_PID=""
}
trap stop_printer EXIT
# shellcheck source=tests/port_cases.sh
source "$VT_SOURCE/tests/port_cases.sh"
finish
