#!/usr/bin/env bash
# The printer exe under Wine: ipptool's get-printer-attributes.test and ipp-2.0.test pass
# against it, one instance per machine, and its jobs reach the real exe beside it, which makes
# the PDF (Wine has no e-reader, so it waits) and whose last line each job reports.
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
# shellcheck source=tools/cups/ready.sh
source "${VT_SOURCE:?}/tools/cups/ready.sh"
wine_init
: "${VT_PRINTER_EXE:?}"
for tool in gs ipptool; do
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
check "nothing of the printer's own is left" test -z "$(ls "$EXE_SPOOL" | grep -v '^VellumTransit')"
kill $pid
finish
