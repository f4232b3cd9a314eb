#!/usr/bin/env bash
# The printer (host build) delivers a waiting document when the e-reader is plugged in: a job
# printed with no e-reader waits (the job completes with a warning, the printer says how many
# documents wait), and a [drive] or [media] section added to machine.ini while the printer runs,
# which simwin sends as the device's arrival, brings one run that delivers it, once, with no
# second job. Several notifications at once make one run; an e-reader plugged in while a run
# works brings one more run after it, not one beside it; registration refused falls back to the hidden window; a
# printer started with a PDF waiting and the e-reader present delivers it at once. Environment
# as tests/lib.sh, and VT_PRINTER (the printer binary).
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
# shellcheck source=tools/cups/ready.sh
source "${VT_SOURCE:?}/tools/cups/ready.sh"
init curl perl pdfinfo
: "${VT_PRINTER:?}"
IPP="perl $VT_SOURCE/tests/ipp.pl"
PORT=0 PRINTER_PID=""
URI() { echo "ipp://127.0.0.1:$PORT/ipp/print"; }
page=$(page_set job 1)/VellumTransit1.jpg
many=$(page_set job 200)

trap stop_printer EXIT

# ask NAME OPERATION [ARG...]: one request; its answer, decoded, in $SCRATCH/NAME.
ask() {
    $IPP request 2.0 "${@:2}" >"$SCRATCH/$1.ipp"
    curl -s --max-time 30 --data-binary @"$SCRATCH/$1.ipp" -H 'Content-Type: application/ipp' \
        "http://127.0.0.1:$PORT/ipp/print" | $IPP decode >"$SCRATCH/$1"
}
# print_page: a Print-Job of one JPEG page; fails unless the printer takes it.
print_page() {
    { $IPP request 2.0 02 "$(URI)" op:49:document-format=image/jpeg && cat "$page"; } >"$SCRATCH/job.ipp"
    curl -s --max-time 30 --data-binary @"$SCRATCH/job.ipp" -H 'Content-Type: application/ipp' \
        "http://127.0.0.1:$PORT/ipp/print" | $IPP decode >"$SCRATCH/job"
    check "the printer takes the job" grep -q '^version 2.0 status 0000' "$SCRATCH/job"
}
# printer_says: the printer's state message and reasons, one line.
printer_says() {
    ask state 0b "$(URI)" printer-state-message printer-state-reasons
    sed -n 's/^printer printer-state-\(message\|reasons\) [a-zA-Z]* //p' "$SCRATCH/state" | paste -sd'|'
}
# jobs_say: each completed job's state, reasons and message, one line each.
jobs_say() {
    ask jobs 0a "$(URI)" op:44:which-jobs=completed job-state job-state-reasons job-state-message
    awk '$1 == "job" { sub(/^job [a-z-]* [a-zA-Z]* /, ""); line = line (line == "" ? "" : "|") $0 }
         /^version/ { next } END { print line }' "$SCRATCH/jobs"
}
runs() { grep -c '^CreateProcessA vellumtransit.exe ok' "$MACHINE/events.log"; }
# plug SECTION...: the lines added to machine.ini at once, the file replaced whole so that no
# run ever reads half of it.
plug() {
    { cat "$MACHINE/machine.ini" 2>/dev/null; printf '%s\n' "$@"; } >"$MACHINE/machine.ini.new"
    mv "$MACHINE/machine.ini.new" "$MACHINE/machine.ini"
}
drive_ereader=('[drive E]' 'type = removable' 'vendor = Kindle' 'bus_type = 7' 'removable_media = 1')
media_ereader=('[media Scribe]'
    'pnp_id = \\?\usb#vid_1949&pid_9981#g0001#{6ac27878-a6fa-4155-ba85-f98f491d4f33}'
    'friendly_name = Kindle Scribe' 'description = Kindle Scribe' 'storages = Internal Storage')
media_documents="media/Scribe/Internal Storage/documents"
# delivered DOCUMENTS: the PDF is there and nothing of the program's waits in the spool.
delivered() { [ -s "$MACHINE/$1/VellumTransit.pdf" ] && ! compgen -G "$SPOOL/VellumTransit*" >/dev/null; }
says() { [ "$(printer_says)" = "$1" ]; }
waiting='"1 document waits for the e-reader to be plugged in."|"other-warning"'

# waits_after_job: a job printed with no e-reader completes with a warning, and its document waits.
waits_after_job() {
    print_page
    wait_until 20 "the job's run" eval '[ -n "$(jobs_say)" ] && says "$waiting"' ||
        fail "the printer says $(printer_says)"
    check_eq "the job completed with a warning" \
        '9|"job-completed-with-warnings"|"Kindle must be plugged in!"' "$(jobs_say)"
}

# A drive e-reader and a media e-reader, each plugged in after its job waits.
port=28760
for route in drive media; do
    new_machine "plug-$route"
    start_printer $((++port))
    waits_after_job
    start=$(date +%s%N)
    if [ $route = drive ]; then
        mkdir -p "$MACHINE/E/documents" && plug "${drive_ereader[@]}" && documents=E/documents
        last='"Media in Drive E has been ejected safely."'
    else
        mkdir -p "$MACHINE/$media_documents" && plug "${media_ereader[@]}" && documents=$media_documents
        last='"Kindle Scribe can be unplugged."'
    fi
    wait_until 10 "the document on the e-reader" delivered "$documents" || fail "not delivered"
    echo "$route: delivered $((($(date +%s%N) - start) / 1000000)) ms after the e-reader came"
    check "the arrival came as a notification" grep -q "^arrival .*CM_Register_Notification" "$MACHINE/events.log"
    check "then the printer says what the run printed" wait_until 10 "the state" says "$last|\"none\""
    check_eq "one run for the job, one for the arrival" 2 "$(runs)"
    check "the watch ends when nothing waits" wait_until 10 "the watch's end" \
        eval '[ "$(grep -c "^CM_Unregister_Notification ok" "$MACHINE/events.log")" = 2 ]'
    check_eq "no second job" 1 "$(jobs_say | grep -o 'job-completed' | wc -l)"
    stop_printer
done

# Several notifications at once (two drives and a portable device) make one run.
new_machine several
start_printer 28763
waits_after_job
mkdir -p "$MACHINE/E/documents" "$MACHINE/media/Phone/Storage"
plug "${drive_ereader[@]}" '[drive F]' 'type = removable' 'vendor = Generic' \
    '[media Phone]' 'description = Phone X1' 'storages = Storage'
wait_until 10 "the document on the e-reader" delivered E/documents || fail "not delivered"
check "then the printer says what the run printed" wait_until 10 "the state" \
    says '"Media in Drive E has been ejected safely."|"none"'
check_eq "three arrivals" 3 "$(grep -c '^arrival ' "$MACHINE/events.log")"
check_eq "one run for them" 2 "$(runs)"
stop_printer

# The waiting PDF taken away by hand, then a device plugged in: nothing waits, so no run, and the
# printer no longer says that something does.
new_machine gone
start_printer 28767
waits_after_job
rm "$SPOOL/VellumTransit.pdf"
plug '[drive F]' 'type = removable' 'vendor = Generic'
check "the printer says nothing waits" wait_until 10 "the state" says '""|"none"'
check_eq "no run for it" 1 "$(runs)"
stop_printer

# An e-reader plugged in while a run works: that run loaded the machine before, so it cannot
# deliver, and one more run after it does. The run is the one a printer starts with when pages
# wait (200 of them, of another front end, so that the arrival comes while it converts).
new_machine during
cp "$many"/* "$SPOOL"/
start_printer 28764
wait_until 20 "the run's turn" grep -q "^WaitForSingleObject Global.VellumTransit.Spool ok" \
    "$MACHINE/events.log"
mkdir -p "$MACHINE/E/documents" && plug "${drive_ereader[@]}"
wait_until 20 "the document on the e-reader" delivered E/documents || fail "not delivered"
check "then the printer says what the run printed" wait_until 10 "the state" \
    says '"Media in Drive E has been ejected safely."|"none"'
check_eq "the first run and one more" 2 "$(runs)"
grep -E '^(CreateProcessA|WaitForSingleObject) vellumtransit.exe|^arrival ' "$MACHINE/events.log" |
    sed 's/^arrival .*/arrival/' | paste -sd' ' >"$MACHINE.order"
check_eq "the arrival came while the first run worked, the next run after it" \
    'CreateProcessA vellumtransit.exe ok arrival WaitForSingleObject vellumtransit.exe ok CreateProcessA vellumtransit.exe ok WaitForSingleObject vellumtransit.exe ok' \
    "$(cat "$MACHINE.order")"
check_eq "every page once on the e-reader" 200 \
    "$(pdfinfo "$MACHINE/E/documents/VellumTransit.pdf" 2>/dev/null | awk '/^Pages:/ { print $2 }')"
stop_printer

# Registration refused: the hidden window's broadcast brings the run.
new_machine refused
plug '[faults]' 'CM_Register_Notification = 1'
start_printer 28765
waits_after_job
check "the registration was refused" grep -q '^CM_Register_Notification refused' "$MACHINE/events.log"
check "the window was made" grep -q '^CreateWindowExA VellumTransitArrivalWatch ok' "$MACHINE/events.log"
mkdir -p "$MACHINE/E/documents" && plug "${drive_ereader[@]}"
wait_until 10 "the document on the e-reader" delivered E/documents || fail "not delivered"
check_eq "the arrival came as a broadcast" "arrival drive E: WM_DEVICECHANGE" \
    "$(grep '^arrival ' "$MACHINE/events.log")"
check_eq "one run for the job, one for the arrival" 2 "$(runs)"
check_eq "the printer said how it watches" \
    "Watching for the e-reader through a hidden window's device broadcasts." \
    "$(grep '^Watching' "$MACHINE.printer" | sort -u)"
stop_printer

# A printer started with a PDF waiting and the e-reader present delivers it at once; one started
# with nothing waiting neither runs nor watches.
new_machine at-start
spool "$page"
VELLUMTRANSIT_MACHINE=$MACHINE "$VT_BIN" >"$MACHINE.first" 2>&1
check_eq "the PDF waits" "Kindle must be plugged in!" "$(tail -1 "$MACHINE.first")"
mkdir -p "$MACHINE/E/documents" && plug "${drive_ereader[@]}"
start_printer 28766
wait_until 10 "the document on the e-reader" delivered E/documents || fail "not delivered"
check_eq "one run" 1 "$(runs)"
check "then the printer says what the run printed" wait_until 10 "the state" \
    says '"Media in Drive E has been ejected safely."|"none"'
stop_printer
: >"$MACHINE/events.log"
start_printer 28766
check_eq "nothing waits: the printer says nothing" '""|"none"' "$(printer_says)"
check_eq "nothing waits: no run and no watch" "" \
    "$(grep -E '^(CreateProcessA|CM_Register_Notification|CreateWindowExA)' "$MACHINE/events.log")"
# Nor does it look again and again: over two idle seconds it spends well under half a second.
cpu() { awk '{ print $14 + $15 }' "/proc/$PRINTER_PID/stat"; }
before=$(cpu) && sleep 2
check "nothing waits: the printer is idle ($(($(cpu) - before)) ticks in 2 s)" \
    test $(($(cpu) - before)) -lt $(($(getconf CLK_TCK) / 2))
stop_printer
finish
