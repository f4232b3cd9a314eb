#!/usr/bin/env bash
# The real exe under Wine with no e-reader attached: the drive scan goes over Wine's own drives
# (C: and Z:) and finds none, the run says so, the PDF waits in the spool, and the next run
# converts nothing and only tries to deliver again. The host build agrees line for line.
source "$(dirname "$0")/lib.sh"
wine_init

job=$(make_page_set job 2)
new_case no-ereader
spool_pages "$job"
run_both
size=$(stat -c %s "$SPOOL/VellumTransit.pdf" 2>/dev/null || echo 0)
expect_exe_transcript '%s\r\n' \
    "Adding VellumTransit1.jpg (1275x1650) into PDF" \
    "Adding VellumTransit2.jpg (1275x1650) into PDF" \
    "=> Generating PDF File...Done" \
    "Written PDF $size/$size." \
    "Kindle must be plugged in!"
expect_same_transcript
spool_holds_exactly "$SPOOL" VellumTransit.pdf
cp "$SPOOL/VellumTransit.pdf" "$MACHINE.waiting.pdf"

# The next run, with a new page spooled meanwhile: no conversion, the same message.
CASE=next-run
cp "$job/VellumTransit1.jpg" "$SPOOL/VellumTransit3.jpg"
cp "$job/VellumTransit1.jpg" "$HOST_SPOOL/VellumTransit3.jpg"
run_both
expect_exe_transcript 'Kindle must be plugged in!\r\n'
expect_same_transcript
check_same_bytes "the waiting PDF is left as it was" "$MACHINE.waiting.pdf" \
    "$SPOOL/VellumTransit.pdf"
spool_holds_exactly "$SPOOL" VellumTransit.pdf VellumTransit3.jpg

wine_finish
