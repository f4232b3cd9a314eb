#!/usr/bin/env bash
# Whole runs whose PDF cannot be written: each fault of the write (open, write, short write,
# flush, close, rename) must leave no PDF and no partial file behind and keep every spooled
# page, so that the next run makes the whole PDF.
# shellcheck source=tests/whole/lib.sh
source "$(dirname "$0")/lib.sh"
whole_init
job3=$(make_page_set job 3)
pages=(VellumTransit1.jpg VellumTransit2.jpg VellumTransit3.jpg)
adding="\
Adding VellumTransit1.jpg (1275x1650) into PDF\n\
Adding VellumTransit2.jpg (1275x1650) into PDF\n\
Adding VellumTransit3.jpg (1275x1650) into PDF\n"

# The PDF's size, from a run without faults; the faulty runs must write the same bytes.
new_machine reference
spool_pages "$job3"
run_vt
pdf_size=$(stat -c %s "$SPOOL/VellumTransit.pdf" 2>/dev/null || echo 0)
cp "$SPOOL/VellumTransit.pdf" "$WHOLE_TMP/reference.pdf" 2>/dev/null
check "a PDF without faults" test "$pdf_size" -gt 0

# Case name | [faults] line | the event that shows the fault struck the PDF's write.
# fopen: the 1st call looks for a waiting PDF, the next three read the pages, the 5th is the
# write. fclose: three for the pages, the 4th for the PDF.
while IFS='|' read -r name fault event; do
    new_machine "$name"
    spool_pages "$job3"
    write_ini "[faults]\n$fault\n"
    run_vt
    expect_transcript "$adding=> Generating PDF File...Done\nCould not write PDF.\n$NO_EREADER"
    events_in_order "$event"
    spool_holds_exactly "${pages[@]}"
    spool_unchanged "$job3" "${pages[@]}"
    events_lack '^DeleteFileA VellumTransit[0-9]+\.jpg'

    # Nothing was lost: without the fault, the next run makes the whole PDF.
    rm -f "$MACHINE/machine.ini"
    run_vt
    expect_transcript "${adding}=> Generating PDF File...Done\nWritten PDF %d/%d.\n$NO_EREADER" \
        "$pdf_size" "$pdf_size"
    spool_holds_exactly VellumTransit.pdf
    check "PDF after the retry equals the one made without faults" \
        cmp -s "$WHOLE_TMP/reference.pdf" "$SPOOL/VellumTransit.pdf"
done <<EOF
open-fails|fopen = 5|fopen VellumTransit.pdf.partial wb fail
write-fails|fwrite = 1|fwrite VellumTransit.pdf.partial 0 of $pdf_size
write-short|fwrite = 1:short|fwrite VellumTransit.pdf.partial $((pdf_size / 2)) of $pdf_size
flush-fails|fflush = 1|DeleteFileA VellumTransit.pdf.partial ok
close-fails|fclose = 4|fclose VellumTransit.pdf.partial fail
rename-fails|MoveFileExA = 1|MoveFileExA VellumTransit.pdf.partial VellumTransit.pdf fail 5
EOF

# A partial file left by an earlier, interrupted run is replaced, not appended to.
new_machine stale-partial
spool_pages "$job3"
head -c 3000000 /dev/zero | tr '\0' 'x' >"$SPOOL/VellumTransit.pdf.partial"
run_vt
expect_transcript "${adding}=> Generating PDF File...Done\nWritten PDF %d/%d.\n$NO_EREADER" \
    "$pdf_size" "$pdf_size"
spool_holds_exactly VellumTransit.pdf
check "PDF over a stale partial file equals the one made without it" \
    cmp -s "$WHOLE_TMP/reference.pdf" "$SPOOL/VellumTransit.pdf"

whole_finish
