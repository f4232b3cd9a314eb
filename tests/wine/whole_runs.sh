#!/usr/bin/env bash
# The real exe under Wine beside the host build, on the same pages: the same transcript (each LF
# as CR LF) and the same PDF bytes. Wine has no e-reader, so the PDF waits and the next run
# converts nothing. A titled job's PDF, the same bytes. Then the empty listing.
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
wine_init
mixed=$(page_set mixed)
new_machine mixed
spool "$mixed"/*
run_both
check "the same PDF bytes" cmp -s "$SPOOL/VellumTransit.pdf" "$EXE_SPOOL/VellumTransit.pdf"
check "qpdf --check" qpdf --check "$EXE_SPOOL/VellumTransit.pdf" >/dev/null
size=$(stat -c %s "$EXE_SPOOL/VellumTransit.pdf" 2>/dev/null)
check_eq "the exe's last lines" "Written PDF $size/$size.^MKindle must be plugged in!^M" \
    "$(tail -n 2 "$MACHINE.exe" | cat -A | tr -d '\n$')"
holds "$EXE_SPOOL" VellumTransit.pdf

CASE=next-run
cp "$EXE_SPOOL/VellumTransit.pdf" "$MACHINE.waiting"
spool "$mixed/VellumTransit1.jpg"
run_both
expect "$MACHINE.exe" 'Kindle must be plugged in!\r\n'
check "the waiting PDF is left as it was" cmp -s "$MACHINE.waiting" "$EXE_SPOOL/VellumTransit.pdf"
holds "$EXE_SPOOL" VellumTransit.pdf VellumTransit1.jpg

# A titled job: the same PDF bytes, its title inside.
new_machine titled
titled_page "$mixed/VellumTransit1.jpg" '会議資料 2026' "$SCRATCH/VellumTransit1-1.jpg"
titled_page "$mixed/VellumTransit2.jpg" '会議資料 2026' "$SCRATCH/VellumTransit1-2.jpg"
spool "$SCRATCH/VellumTransit1-1.jpg" "$SCRATCH/VellumTransit1-2.jpg"
run_both
check "the same PDF bytes of a titled job" cmp -s "$SPOOL/VellumTransit.pdf" "$EXE_SPOOL/VellumTransit.pdf"
check_eq "its title" '会議資料 2026' "$(pdfinfo "$EXE_SPOOL/VellumTransit.pdf" | sed -n 's/^Title: *//p')"

new_machine empty
run_both
expect "$MACHINE.exe" 'VellumTransit*.jpg\r\nNo *.jpg files in temp directory!\r\n'
holds "$EXE_SPOOL"
finish
