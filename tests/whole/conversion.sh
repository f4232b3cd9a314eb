#!/usr/bin/env bash
# Whole runs that convert: a print job of mixed pages, a plain job, page order past nine
# pages, and the page limit. Each checks the console to the byte, the spool left behind,
# events.log, and the PDF as qpdf and Poppler read it.
# shellcheck source=tests/whole/lib.sh
source "$(dirname "$0")/lib.sh"
whole_init

# ---- A mixed job: good colour, greyscale and EXIF pages among three unusable files ----------
mixed=$(make_page_set mixed)
new_machine mixed
spool_pages "$mixed"
run_vt
size=$(stat -c %s "$SPOOL/VellumTransit.pdf" 2>/dev/null || echo 0)
expect_transcript "\
Adding VellumTransit1.jpg (1275x1650) into PDF\n\
Adding VellumTransit2.jpg (1275x1650) into PDF\n\
Adding VellumTransit3.jpg (850x1100) into PDF\n\
Warning: Can't obtain image dimension from VellumTransit4.jpg. Skipped.\n\
Warning: Can't obtain image dimension from VellumTransit5.jpg. Skipped.\n\
Warning: Can't obtain image dimension from VellumTransit6.jpg. Skipped.\n\
Adding VellumTransit10.jpg (1275x1650) into PDF\n\
Adding VellumTransit11.jpg (612x792) into PDF\n\
=> Generating PDF File...Done\n\
Written PDF %d/%d.\n$NO_EREADER" "$size" "$size"
spool_holds_exactly VellumTransit.pdf
# The unusable files go at once; the pages only after the PDF is in place.
events_in_order \
    'SetCurrentDirectoryA C:\Windows\VellumTransit ok' \
    'DeleteFileA VellumTransit4.jpg ok' \
    'DeleteFileA VellumTransit5.jpg ok' \
    'DeleteFileA VellumTransit6.jpg ok' \
    'fopen VellumTransit.pdf.partial wb ok' \
    "fwrite VellumTransit.pdf.partial $size of $size" \
    'fclose VellumTransit.pdf.partial ok' \
    'MoveFileExA VellumTransit.pdf.partial VellumTransit.pdf ok' \
    'DeleteFileA VellumTransit1.jpg ok' \
    'DeleteFileA VellumTransit2.jpg ok' \
    'DeleteFileA VellumTransit3.jpg ok' \
    'DeleteFileA VellumTransit10.jpg ok' \
    'DeleteFileA VellumTransit11.jpg ok'
check_eq "page deletes before the PDF is in place" "" \
    "$(awk '/^MoveFileExA/ { exit } /^DeleteFileA VellumTransit(1|2|3|10|11)\.jpg/' "$MACHINE/events.log")"
judge_pdf "$SPOOL/VellumTransit.pdf" "$mixed" \
    VellumTransit1.jpg VellumTransit2.jpg VellumTransit3.jpg VellumTransit10.jpg VellumTransit11.jpg

# Rendered: the greyscale page is grey and fills the page down to its dark bottom frame; the
# colour page is not grey.
read -r nongrey top bottom <<<"$(render_page "$SPOOL/VellumTransit.pdf" 2)"
check_eq "greyscale page renders grey" 0 "${nongrey:-none}"
check "greyscale page drawn to its bottom edge (frame dark: $bottom)" test "${bottom:-255}" -lt 100
check "greyscale page drawn from its top edge (frame dark: $top)" test "${top:-255}" -lt 100
read -r nongrey top bottom <<<"$(render_page "$SPOOL/VellumTransit.pdf" 1)"
check "colour page renders in colour ($nongrey pixels not grey)" test "${nongrey:-0}" -gt 100
check "colour page drawn to its bottom edge (frame dark: $bottom)" test "${bottom:-255}" -lt 100

# ---- A plain job of three pages --------------------------------------------------------------
job3=$(make_page_set job 3)
new_machine job3
spool_pages "$job3"
run_vt
size=$(stat -c %s "$SPOOL/VellumTransit.pdf" 2>/dev/null || echo 0)
expect_transcript "\
Adding VellumTransit1.jpg (1275x1650) into PDF\n\
Adding VellumTransit2.jpg (1275x1650) into PDF\n\
Adding VellumTransit3.jpg (1275x1650) into PDF\n\
=> Generating PDF File...Done\n\
Written PDF %d/%d.\n$NO_EREADER" "$size" "$size"
spool_holds_exactly VellumTransit.pdf
judge_pdf "$SPOOL/VellumTransit.pdf" "$job3" VellumTransit1.jpg VellumTransit2.jpg VellumTransit3.jpg

# ---- Twelve pages: VellumTransit10.jpg comes after VellumTransit9.jpg, not after 1 ----------
job12=$(make_page_set job 12)
new_machine natural-order
spool_pages "$job12"
run_vt
size=$(stat -c %s "$SPOOL/VellumTransit.pdf" 2>/dev/null || echo 0)
adding=""
order=()
for k in $(seq 1 12); do
    adding+="Adding VellumTransit$k.jpg (1275x1650) into PDF\n"
    order+=("VellumTransit$k.jpg")
done
expect_transcript "$adding=> Generating PDF File...Done\nWritten PDF %d/%d.\n$NO_EREADER" \
    "$size" "$size"
spool_holds_exactly VellumTransit.pdf
judge_pdf "$SPOOL/VellumTransit.pdf" "$job12" "${order[@]}"

# ---- 257 small pages: the 257th is refused and waits in the spool for the next PDF ----------
small=$WHOLE_TMP/pages-small
mkdir -p "$small"
for k in $(seq 1 257); do
    "$VT_BUILD/vt_testpage" 64 80 "$k" | cjpeg -quality 75 >"$small/VellumTransit$k.jpg"
done
new_machine page-limit
spool_pages "$small"
run_vt
size=$(stat -c %s "$SPOOL/VellumTransit.pdf" 2>/dev/null || echo 0)
adding=""
order=()
for k in $(seq 1 256); do
    adding+="Adding VellumTransit$k.jpg (64x80) into PDF\n"
    order+=("VellumTransit$k.jpg")
done
expect_transcript "${adding}Adding VellumTransit257.jpg (64x80) into PDF\n\
Add JPEG into PDF Skipped. Reason: Reached Max Page Number (256) in single PDF.\n\
=> Generating PDF File...Done\nWritten PDF %d/%d.\n$NO_EREADER" "$size" "$size"
spool_holds_exactly VellumTransit.pdf VellumTransit257.jpg
spool_unchanged "$small" VellumTransit257.jpg
judge_pdf "$SPOOL/VellumTransit.pdf" "$small" "${order[@]}"
# Once that PDF has gone (delivered), the next run makes the kept page into a PDF of its own.
rm -f "$SPOOL/VellumTransit.pdf" "$MACHINE/events.log"
run_vt
size=$(stat -c %s "$SPOOL/VellumTransit.pdf" 2>/dev/null || echo 0)
expect_transcript "Adding VellumTransit257.jpg (64x80) into PDF\n\
=> Generating PDF File...Done\nWritten PDF %d/%d.\n$NO_EREADER" "$size" "$size"
spool_holds_exactly VellumTransit.pdf
judge_pdf "$SPOOL/VellumTransit.pdf" "$small" VellumTransit257.jpg

whole_finish
