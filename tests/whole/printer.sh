#!/usr/bin/env bash
# The printer (host build) on machine folders, with real clients: ipptool's conformance tests,
# CUPS printing a three-page PDF through an IPP Everywhere queue to the simulated e-reader, and
# raw requests for every refusal. After each refusal the printer still serves and no page of
# the refused job is left. Environment as tests/lib.sh, and VT_PRINTER (the printer binary).
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
init curl gs ipptool cupsd lpadmin lp pdfimages pdftoppm perl cjpeg
: "${VT_PRINTER:?}"
PORT=0 PRINTER_PID=""
IPPTOOL_DIR=/usr/share/cups/ipptool
URI() { echo "ipp://127.0.0.1:$PORT/ipp/print"; }

# start_printer PORT [ARG...]: the printer on MACHINE in the background, until it serves.
start_printer() {
    PORT=$1
    VELLUMTRANSIT_MACHINE=$MACHINE "$VT_PRINTER" --port "$@" >"$MACHINE.printer" 2>&1 &
    PRINTER_PID=$!
    for _ in {1..200}; do
        grep -q '^Printing to' "$MACHINE.printer" 2>/dev/null && return
        sleep 0.05
    done
    fail "the printer did not start: $(cat "$MACHINE.printer")"
}
stop_printer() {
    [ -z "$PRINTER_PID" ] || kill "$PRINTER_PID" 2>/dev/null
    [ -z "$PRINTER_PID" ] || wait "$PRINTER_PID" 2>/dev/null
    PRINTER_PID=""
}
CUPSD_PID=""
cleanup() {
    stop_printer
    [ -z "$CUPSD_PID" ] || kill "$CUPSD_PID" 2>/dev/null
}
trap cleanup EXIT

# ereader: MACHINE gets an e-reader at E: with its documents folder.
ereader() {
    mkdir -p "$MACHINE/E/documents"
    printf '[drive E]\ntype = removable\nvendor = Kindle\nbus_type = 7\nremovable_media = 1\n%s\n' \
        "${1:-}" >"$MACHINE/machine.ini"
}

# A three-page PDF whose pages are grey levels 0.2, 0.5 and 0.8 (pixels of 51, 128 and 204), and
# the same as PWG raster (sgray_8, 150 dpi) made by Ghostscript.
printf '%%!PS\n<< /PageSize [612 792] >> setpagedevice\n%s' \
    '0.2 setgray 0 0 612 792 rectfill showpage 0.5 setgray 0 0 612 792 rectfill showpage
     0.8 setgray 0 0 612 792 rectfill showpage' >"$SCRATCH/three.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$SCRATCH/three.pdf" \
    "$SCRATCH/three.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r150 -dcupsColorSpace=18 \
    -dcupsBitsPerColor=8 -sOutputFile="$SCRATCH/three.pwg" "$SCRATCH/three.pdf" 2>/dev/null

# ---- ipptool's conformance tests -----------------------------------------------------------
new_machine conformance
ereader
start_printer 28631
check "get-printer-attributes.test" ipptool -t "$(URI)" "$IPPTOOL_DIR/get-printer-attributes.test" \
    >"$MACHINE.gpa"
check "ipp-2.0.test" ipptool -t -f "$SCRATCH/three.pwg" -d filetype=image/pwg-raster "$(URI)" \
    "$IPPTOOL_DIR/ipp-2.0.test" >"$MACHINE.ipp20" 2>&1
grep -E 'FAIL|EXPECTED|GOT' "$MACHINE.gpa" "$MACHINE.ipp20" >&2

# One printer per machine; a taken port or a missing spool folder end it too, with exit code 1.
CASE=one-instance
rc=0 && VELLUMTRANSIT_MACHINE=$MACHINE timeout 10 "$VT_PRINTER" --port 28632 \
    >/dev/null 2>"$MACHINE.second" || rc=$?
check_eq "a second printer's exit code" 1 "$rc"
check_eq "and what it says" "Another VellumTransit printer is already running on this machine." \
    "$(cat "$MACHINE.second")"
stop_printer
new_machine port-taken
start_printer 28633
other=$SCRATCH/other && rm -rf "$other" && mkdir -p "$other/C/Windows/VellumTransit"
rc=0 && VELLUMTRANSIT_MACHINE=$other timeout 10 "$VT_PRINTER" --port 28633 \
    >/dev/null 2>"$MACHINE.second" || rc=$?
check_eq "exit code on a taken port" "1 Port 28633 on 127.0.0.1 is in use." \
    "$rc $(cat "$MACHINE.second")"
stop_printer
rm -rf "$SPOOL"
rc=0 && VELLUMTRANSIT_MACHINE=$MACHINE timeout 10 "$VT_PRINTER" --port 28633 \
    >/dev/null 2>"$MACHINE.second" || rc=$?
check_eq "exit code without a spool folder" \
    "1 The spool folder C:\\Windows\\VellumTransit is missing." "$rc $(cat "$MACHINE.second")"

# ---- CUPS prints a PDF through an IPP Everywhere queue -------------------------------------
new_machine cups
ereader
start_printer 28634
cups=$SCRATCH/cups && mkdir -p "$cups"/{spool,cache,state,log,tmp}
cat >"$cups/cupsd.conf" <<CONF
Listen 127.0.0.1:28700
LogLevel info
Browsing No
DefaultAuthType None
WebInterface No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
cat >"$cups/cups-files.conf" <<CONF
ServerRoot $cups
RequestRoot $cups/spool
CacheDir $cups/cache
StateDir $cups/state
TempDir $cups/tmp
AccessLog $cups/log/access_log
ErrorLog $cups/log/error_log
PageLog $cups/log/page_log
ServerBin /usr/lib/cups
DataDir /usr/share/cups
Sandboxing Relaxed
CONF
chmod -R a+rwX "$cups"
cupsd -f -c "$cups/cupsd.conf" -s "$cups/cups-files.conf" &
CUPSD_PID=$!
for _ in {1..100}; do lpstat -h 127.0.0.1:28700 -r >/dev/null 2>&1 && break; sleep 0.1; done
check "lpadmin -m everywhere" lpadmin -h 127.0.0.1:28700 -p vt -E -v "$(URI)" -m everywhere
check "lp" lp -h 127.0.0.1:28700 -d vt "$SCRATCH/three.pdf" >/dev/null
pdf=$MACHINE/E/documents/VellumTransit.pdf
for _ in {1..600}; do [ -s "$pdf" ] && [ -z "$(ls -A "$SPOOL")" ] && break; sleep 0.1; done
check "the document is on the e-reader" test -s "$pdf"
events_in_order \
    'MoveFileExA C:\Windows\VellumTransit\PrinterJob1-1.tmp C:\Windows\VellumTransit\VellumTransit1-1.jpg ok' \
    'MoveFileExA C:\Windows\VellumTransit\PrinterJob1-2.tmp C:\Windows\VellumTransit\VellumTransit1-2.jpg ok' \
    'MoveFileExA C:\Windows\VellumTransit\PrinterJob1-3.tmp C:\Windows\VellumTransit\VellumTransit1-3.jpg ok' \
    'ReleaseMutex Global\VellumTransit.Spool ok' 'CreateProcessA vellumtransit.exe ok' \
    'CopyFileA VellumTransit.pdf E:\documents\VellumTransit.pdf ok' \
    'WaitForSingleObject vellumtransit.exe ok'
check_eq "pages" 3 "$(pdfinfo "$pdf" | awk '/^Pages:/ { print $2 }')"
rm -rf "$MACHINE.img" && mkdir "$MACHINE.img" && pdfimages -j "$pdf" "$MACHINE.img/p"
for k in 0 1 2; do
    jpeg=$MACHINE.img/p-00$k.jpg
    check "page $((k + 1)) is a baseline JFIF JPEG" \
        test "$(head -c 11 "$jpeg" | od -An -c | tr -d ' ')" = "377330377340\0020JFIF\0"
    check "page $((k + 1)) has no progressive frame" \
        test -z "$(od -An -tx1 -v "$jpeg" | tr -d '\n' | grep -o ' ff c2')"
done
levels=""
for k in 1 2 3; do
    pdftoppm -r 10 -f $k -l $k -gray -singlefile "$pdf" "$MACHINE.grey"
    levels+="$(tail -c 1 "$MACHINE.grey.pgm" | od -An -tu1 | awk '{ print int(($1 + 5) / 10) }') "
done
check_eq "the pages in order, by their grey" "5 13 20 " "$levels"
holds "$SPOOL"
kill "$CUPSD_PID" && wait "$CUPSD_PID" 2>/dev/null
CUPSD_PID=""
stop_printer
finish
