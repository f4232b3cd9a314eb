#!/usr/bin/env bash
# The printer exe's port under a crowd, under Wine: tests/port_cases.sh. Wine has no e-reader,
# so the jobs wait; the exe's program, still at work on them, goes with the Wine server after
# each printer. Its figures include Wine's own memory (about 75 MB on the development machine).
# Environment as tests/lib.sh, and VT_PRINTER_EXE.
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
# shellcheck source=tools/cups/ready.sh
source "${VT_SOURCE:?}/tools/cups/ready.sh"
wine_init
: "${VT_PRINTER_EXE:?}"
for tool in curl ipptool; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2 && exit 2; }
done
PORT=28672 PRINTER_PID="" EREADER=""
URI=ipp://127.0.0.1:$PORT/ipp/print
CLIENTS=$VT_SOURCE/tests/port_clients.pl

start_printer() {
    "$WINE" "$VT_PRINTER_EXE" --port "$PORT" >"$MACHINE.printer" 2>&1 &
    PRINTER_PID=$!
    wait_for_printer "$URI" "$PRINTER_PID" 60 || fail "the printer did not start: $(cat "$MACHINE.printer")"
}
stop_printer() {
    [ -z "$PRINTER_PID" ] || kill "$PRINTER_PID" 2>/dev/null
    [ -z "$PRINTER_PID" ] || wait "$PRINTER_PID" 2>/dev/null
    PRINTER_PID=""
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
}
trap stop_printer EXIT
# shellcheck source=tests/port_cases.sh
source "$VT_SOURCE/tests/port_cases.sh"
finish
