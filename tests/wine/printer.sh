#!/usr/bin/env bash
# The printer exe under Wine: ipptool's get-printer-attributes.test and ipp-2.0.test pass
# against it, one instance per machine, and its jobs reach the real exe beside it, which makes
# the PDF (Wine has no e-reader, so it waits) and whose last line each job reports. It makes the
# same pages as the host build, byte for byte (a job's name written into them as their title),
# with libjpeg-turbo linked in (no DLL of it).
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
# shellcheck source=tools/cups/ready.sh
source "${VT_SOURCE:?}/tools/cups/ready.sh"
wine_init
: "${VT_PRINTER_EXE:?}"
for tool in gs ipptool x86_64-w64-mingw32-objdump; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2 && exit 2; }
done
PORT=28650 URI=ipp://127.0.0.1:28650/ipp/print
new_machine wine-printer
"$WINE" "$VT_PRINTER_EXE" --port $PORT >"$MACHINE.printer" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null' EXIT
# Wine takes its time to start a process: up to a minute, asked every 0.1 s.
check "the printer answers" wait_for_printer "$URI" "$pid" 60
check "the printer serves" grep -q "^Printing to the e-reader at $URI" "$MACHINE.printer"

printf '%%!PS\n<< /PageSize [612 792] >> setpagedevice\n%s\n' \
    '0.3 setgray 0 0 612 792 rectfill showpage 0.6 setgray 0 0 612 792 rectfill showpage' \
    >"$SCRATCH/two.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r150 -dcupsColorSpace=18 \
    -dcupsBitsPerColor=8 -sOutputFile="$SCRATCH/two.pwg" "$SCRATCH/two.ps" 2>/dev/null
check "get-printer-attributes.test" ipptool -t "$URI" \
    /usr/share/cups/ipptool/get-printer-attributes.test >"$MACHINE.gpa"
check "ipp-2.0.test" ipptool -t -f "$SCRATCH/two.pwg" -d filetype=image/pwg-raster "$URI" \
    /usr/share/cups/ipptool/ipp-2.0.test >"$MACHINE.ipp20" 2>&1
grep -E 'FAIL|EXPECTED|GOT' "$MACHINE.gpa" "$MACHINE.ipp20" >&2

rc=0 && timeout 60 "$WINE" "$VT_PRINTER_EXE" --port 28651 >/dev/null 2>"$MACHINE.second" || rc=$?
check_eq "a second printer" "1 Another VellumTransit printer is already running on this machine." \
    "$rc $(tr -d '\r' <"$MACHINE.second")"

# The jobs ran the exe: its PDF waits, and each job that was printed reports its last line.
printf '{\nOPERATION Get-Jobs\nGROUP operation-attributes-tag\n%s\n%s\n%s\n%s\n%s\n}\n' \
    'ATTR charset attributes-charset utf-8' 'ATTR naturalLanguage attributes-natural-language en' \
    'ATTR uri printer-uri $uri' 'ATTR keyword which-jobs completed' \
    'ATTR keyword requested-attributes job-state-message' >"$SCRATCH/jobs.test"
# Until no job is left unfinished.
sed 's/which-jobs completed/which-jobs not-completed/' "$SCRATCH/jobs.test" >"$SCRATCH/open.test"
for _ in {1..300}; do
    [ "$(ipptool -tv "$URI" "$SCRATCH/open.test" | grep -c 'job-state-message (')" = 0 ] && break
    sleep 0.1
done
# (ipp-2.0.test cancels one of its jobs.)
check_eq "the jobs' messages" "$(printf 'Cancelled.\nKindle must be plugged in!')" \
    "$(ipptool -tv "$URI" "$SCRATCH/jobs.test" | awk -F' = ' '/job-state-message \(/ { print $2 }' |
        sort -u)"
check "the exe's PDF" qpdf --check "$EXE_SPOOL/VellumTransit.pdf" >/dev/null
check_eq "its pages" 2 "$(pdfinfo "$EXE_SPOOL/VellumTransit.pdf" | awk '/^Pages:/ { print $2 }')"
check "nothing of the printer's own is left" test -z "$(spool_left "$EXE_SPOOL" | grep -v '^VellumTransit')"

# The PDF waits and Wine has no e-reader: the printer watches for one the way Wine allows. Its
# cfgmgr32 has no CM_Register_Notification, and with no display (as here) CreateWindowExA makes
# no window, so the check alone; the printer says how many documents wait (the PDF, and each
# job's pages behind it) and keeps serving.
check_eq "how the printer watches under Wine" \
    "Watching for the e-reader through a check every 30 seconds." \
    "$(tr -d '\r' <"$MACHINE.printer" | grep '^Watching' | sort -u)"
jobs_waiting=$(spool_left "$EXE_SPOOL" | sed -n 's/^VellumTransit\([0-9]*\)-[0-9]*\.jpg$/\1/p' | sort -u | wc -l)
printf '{\nOPERATION Get-Printer-Attributes\nGROUP operation-attributes-tag\n%s\n%s\n%s\n%s\n}\n' \
    'ATTR charset attributes-charset utf-8' 'ATTR naturalLanguage attributes-natural-language en' \
    'ATTR uri printer-uri $uri' \
    'ATTR keyword requested-attributes printer-state-message,printer-state-reasons' \
    >"$SCRATCH/state.test"
documents="$((jobs_waiting + 1)) documents wait" && [ "$jobs_waiting" != 0 ] || documents="1 document waits"
check_eq "the printer says that documents wait" \
    "$documents for the e-reader to be plugged in.|other-warning" \
    "$(ipptool -tv "$URI" "$SCRATCH/state.test" |
        awk -F' = ' '/printer-state-(message|reasons) \(/ { print $2 }' | paste -sd'|')"

# libjpeg-turbo is inside the exe: it imports no DLL of a JPEG library.
imports=$(x86_64-w64-mingw32-objdump -p "$VT_PRINTER_EXE" | awk '/DLL Name:/ { print tolower($3) }')
# user32 for the arrival watch's window, ole32 for its count of portable devices; cfgmgr32's
# notifications are looked up at run time, so no import of theirs keeps the exe from Wine.
check_eq "the printer's DLLs" "advapi32.dll kernel32.dll msvcrt.dll ole32.dll user32.dll ws2_32.dll" \
    "$(echo $imports)"
check "libjpeg-turbo is linked in" grep -q "libjpeg-turbo version" "$VT_PRINTER_EXE"

# The same pages as the host build's printer: an A4 page in grey and a Letter page in colour at
# 300 dpi. The exe's wait behind its waiting PDF; the host printer runs without the program
# beside it, so that its pages wait too.
printf '%%!PS\n<< /PageSize [595 842] >> setpagedevice\n%s\n' \
    '/Times-Roman findfont 7 scalefont setfont 72 760 moveto (Seven point text, crisp.) show
     297 421 200 0 360 arc 6 setlinewidth stroke showpage' >"$SCRATCH/a4.ps"
printf '%%!PS\n<< /PageSize [612 792] >> setpagedevice\n%s\n' \
    '0.8 0.3 0.1 setrgbcolor 306 396 200 0 360 arc fill showpage' >"$SCRATCH/colour.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r300 -dcupsColorSpace=18 \
    -dcupsBitsPerColor=8 -sOutputFile="$SCRATCH/a4.pwg" "$SCRATCH/a4.ps" 2>/dev/null
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r300 -dcupsColorSpace=19 \
    -dcupsBitsPerColor=8 -sOutputFile="$SCRATCH/colour.pwg" "$SCRATCH/colour.ps" 2>/dev/null
# A job with a name: its pages carry it as their title.
cat >"$SCRATCH/titled.test" <<'TEST'
{ OPERATION Print-Job GROUP operation-attributes-tag ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en ATTR uri printer-uri $uri
  ATTR name job-name "会議資料 2026" ATTR mimeMediaType document-format image/pwg-raster
  FILE $filename STATUS successful-ok }
TEST
# print_both URI: the two documents, one job each, and the grey one again with a job name; then
# until the jobs are done.
print_both() {
    local document
    for document in a4 colour; do
        check "$document to $1" ipptool -q -f "$SCRATCH/$document.pwg" \
            -d filetype=image/pwg-raster "$1" /usr/share/cups/ipptool/print-job.test
    done
    check "a titled job to $1" ipptool -q -f "$SCRATCH/a4.pwg" "$1" "$SCRATCH/titled.test"
    for _ in {1..300}; do
        [ "$(ipptool -tv "$1" "$SCRATCH/open.test" | grep -c 'job-state-message (')" = 0 ] && break
        sleep 0.1
    done
}
rm -f "$EXE_SPOOL"/VellumTransit*.jpg # the pages of earlier jobs that wait behind the PDF
print_both "$URI"
mapfile -t exe_pages < <(ls -v "$EXE_SPOOL"/VellumTransit*-1.jpg)
host=$SCRATCH/host-printer-alone && rm -rf "$host" && mkdir -p "$host"
cp "${VT_BIN%/*}/vellumtransit-printer" "$host/"
CASE=host-printer MACHINE=$SCRATCH/host-printer SPOOL=$SCRATCH/host-printer/C/Windows/VellumTransit
rm -rf "$MACHINE" && mkdir -p "$SPOOL"
VELLUMTRANSIT_MACHINE=$MACHINE "$host/vellumtransit-printer" --port 28652 >"$MACHINE.printer" 2>&1 &
host_pid=$!
trap 'kill $pid $host_pid 2>/dev/null' EXIT
check "the host build's printer answers" wait_for_printer ipp://127.0.0.1:28652/ipp/print "$host_pid"
print_both ipp://127.0.0.1:28652/ipp/print
kill $host_pid
mapfile -t host_pages < <(ls -v "$SPOOL"/VellumTransit*-1.jpg)
check_eq "pages of each" "3 3" "${#exe_pages[@]} ${#host_pages[@]}"
for k in 0 1 2; do
    check "page $((k + 1)): the exe's is the host build's, byte for byte" \
        cmp -s "${exe_pages[k]:-/}" "${host_pages[k]:-}"
done
check_eq "the grey page" "2479 3508 gray 8" "$(jpeg_frame "${exe_pages[0]:-/dev/null}")"
check_eq "the colour page" "2550 3300 rgb 8" "$(jpeg_frame "${exe_pages[1]:-/dev/null}")"
check_eq "the titled job's page: its title, then a baseline JFIF JPEG" \
    "VellumTransit title: 会議資料 2026|377330377340\0020JFIF\0" "$(titled_head "${exe_pages[2]:-/dev/null}")"
kill $pid
finish
