#!/usr/bin/env bash
# Two real processes of the host binary on one machine: a second print job's run starts while
# the first converts 200 pages. It waits its turn, then goes on as if it had started after:
# no "Written PDF" for a file that is not on the disk, no page both in the PDF and in the
# spool, none lost. A run killed while it holds its turn does not block the next. A job that
# arrives while a run delivers a long one waits for its own run.
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
init md5sum pdfimages
job=$(page_set job 200)
lock='WaitForSingleObject Global\VellumTransit.Spool'

# start_run NAME: the host binary in the background, its output in $MACHINE.NAME; waits until
# the run has its turn.
start_run() {
    VELLUMTRANSIT_MACHINE=$MACHINE "$VT_BIN" >"$MACHINE.$1" 2>&1 &
    for _ in {1..3000}; do
        grep -qF "$lock ok" "$MACHINE/events.log" 2>/dev/null && return
        sleep 0.01
    done
}

# pages_accounted_for ALL...: every page is once in the PDF or once in the spool, not both.
pages_accounted_for() {
    local img=$MACHINE.img
    rm -rf "$img" && mkdir "$img"
    [ ! -f "$SPOOL/VellumTransit.pdf" ] || pdfimages -j "$SPOOL/VellumTransit.pdf" "$img/i"
    check_eq "every page once, in the PDF or in the spool" \
        "$(md5sum "$@" | cut -d' ' -f1 | sort)" \
        "$(md5sum "$img"/* "$SPOOL"/*.jpg 2>/dev/null | cut -d' ' -f1 | sort)"
}

new_machine overlap
spool "$job"/*
start_run first
for k in 1 2 3; do cp "$job/VellumTransit$k.jpg" "$SPOOL/VellumTransit-second-$k.jpg"; done
cp "$SPOOL"/VellumTransit-second-*.jpg "$SCRATCH/"
VELLUMTRANSIT_MACHINE=$MACHINE "$VT_BIN" >"$MACHINE.second" 2>&1
rc=0 && wait %1 || rc=$?
check_eq "the first run's exit code" 0 "$rc"
size=$(stat -c %s "$SPOOL/VellumTransit.pdf" 2>/dev/null)
check_eq "the first run wrote the PDF on the disk" "Written PDF $size/$size." \
    "$(grep '^Written PDF' "$MACHINE.first")"
check_eq "the second run found it waiting" "Kindle must be plugged in!" "$(cat "$MACHINE.second")"
check "the second run waited its turn" grep -qF "$lock after waiting ok" "$MACHINE/events.log"
check_eq "the second run converted nothing" 1 "$(grep -c '^MoveFileExA VellumTransit.pdf.partial' "$MACHINE/events.log")"
pages_accounted_for "$job"/*.jpg "$SCRATCH"/VellumTransit-second-*.jpg

new_machine killed
spool "$job"/*
start_run first
kill -9 %1
wait %1 2>/dev/null
VELLUMTRANSIT_MACHINE=$MACHINE timeout 60 "$VT_BIN" >"$MACHINE.second" 2>&1
check "the next run had its turn" grep -qF "$lock abandoned" "$MACHINE/events.log"
size=$(stat -c %s "$SPOOL/VellumTransit.pdf" 2>/dev/null)
check_eq "and wrote the PDF" "Written PDF $size/$size." "$(grep '^Written PDF' "$MACHINE.second")"
check "no partial file is left" test ! -e "$SPOOL/VellumTransit.pdf.partial"
pages_accounted_for "$job"/*.jpg
new_machine arriving
spool "$job"/*
for k in {1..100}; do cp "$job/VellumTransit$k.jpg" "$SPOOL/VellumTransit$((200 + k)).jpg"; done
mkdir -p "$MACHINE/E/documents"
printf '[drive E]\ntype = removable\nvendor = Kindle\nbus_type = 7\n' >"$MACHINE/machine.ini"
start_run first
for _ in {1..3000}; do # the first PDF of the long job is written: its pages were listed long ago
    grep -qF 'MoveFileExA VellumTransit.pdf.partial VellumTransit.pdf ok' "$MACHINE/events.log" && break
    sleep 0.01
done
for k in 1 2 3; do cp "$job/VellumTransit$k.jpg" "$SPOOL/VellumTransit-next-$k.jpg"; done
rc=0 && wait %1 || rc=$?
check_eq "the run's exit code" 0 "$rc"
check_eq "the long job in two PDFs" 2 "$(grep -c '^E:.Output copied to Kindle!' "$MACHINE.first")"
check_eq "300 pages added, none of the next job" "300 0" \
    "$(grep -c '^Adding VellumTransit[0-9]*\.jpg' "$MACHINE.first") $(grep -c 'next' "$MACHINE.first")"
holds "$SPOOL" VellumTransit-next-{1,2,3}.jpg
finish
