#!/usr/bin/env bash
# The real exe under Wine converts as the host build does: for the same spooled pages the same
# console transcript (each LF arriving as CR LF: the C runtime's stdout is in text mode) and the
# same PDF bytes; a waiting PDF holds back conversion; the empty listing's exact lines.
source "$(dirname "$0")/lib.sh"
wine_init

# head_lines N FILE: the first N lines of a file.
head_lines() { head -n "$1" "$2"; }

# ---- The mixed set: good colour, greyscale and EXIF pages among three unusable files -------
mixed=$(make_page_set mixed)
new_case mixed
spool_pages "$mixed"
run_both
expect_same_transcript
size=$(stat -c %s "$SPOOL/VellumTransit.pdf" 2>/dev/null || echo 0)
# Equal to the host build is not enough: the exe's own lines, as its console shows them.
printf '%s\r\n' \
    "Adding VellumTransit1.jpg (1275x1650) into PDF" \
    "Adding VellumTransit2.jpg (1275x1650) into PDF" \
    "Adding VellumTransit3.jpg (850x1100) into PDF" \
    "Warning: Can't obtain image dimension from VellumTransit4.jpg. Skipped." \
    "Warning: Can't obtain image dimension from VellumTransit5.jpg. Skipped." \
    "Warning: Can't obtain image dimension from VellumTransit6.jpg. Skipped." \
    "Adding VellumTransit10.jpg (1275x1650) into PDF" \
    "Adding VellumTransit11.jpg (612x792) into PDF" \
    "=> Generating PDF File...Done" \
    "Written PDF $size/$size." >"$MACHINE.expected-head"
head_lines 10 "$MACHINE.exe.out" >"$MACHINE.exe-head"
check_same_bytes "the exe's conversion lines" "$MACHINE.expected-head" "$MACHINE.exe-head"
check_same_bytes "the exe's PDF is the host build's, byte for byte" \
    "$HOST_SPOOL/VellumTransit.pdf" "$SPOOL/VellumTransit.pdf"
check "qpdf --check on the exe's PDF" qpdf --check "$SPOOL/VellumTransit.pdf" >/dev/null
spool_holds_exactly "$SPOOL" VellumTransit.pdf

# ---- A job of four pages, then a run with the PDF waiting -----------------------------------
job=$(make_page_set job 4)
new_case job4
spool_pages "$job"
run_both
expect_same_transcript
check_same_bytes "the exe's PDF is the host build's, byte for byte" \
    "$HOST_SPOOL/VellumTransit.pdf" "$SPOOL/VellumTransit.pdf"
spool_holds_exactly "$SPOOL" VellumTransit.pdf

# Pages spooled while a PDF waits stay for a later run; the waiting PDF is not touched.
cp "$SPOOL/VellumTransit.pdf" "$MACHINE.waiting.pdf"
cp "$mixed/VellumTransit1.jpg" "$mixed/VellumTransit6.jpg" "$SPOOL"/
cp "$mixed/VellumTransit1.jpg" "$mixed/VellumTransit6.jpg" "$HOST_SPOOL"/
CASE=waiting
run_both
expect_same_transcript
check "no conversion line while a PDF waits" \
    bash -c "! grep -qE 'Adding|Warning|Generating|Written' '$MACHINE.exe.out'"
check_same_bytes "the waiting PDF is left as it was" "$MACHINE.waiting.pdf" \
    "$SPOOL/VellumTransit.pdf"
spool_holds_exactly "$SPOOL" VellumTransit.pdf VellumTransit1.jpg VellumTransit6.jpg

# ---- The empty listing -----------------------------------------------------------------------
new_case empty
run_both
expect_exe_transcript 'VellumTransit*.jpg\r\nNo *.jpg files in temp directory!\r\n'
expect_same_transcript
spool_holds_exactly "$SPOOL"

wine_finish
