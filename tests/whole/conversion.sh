#!/usr/bin/env bash
# Whole runs of the host binary without an e-reader: a mixed job judged by qpdf and Poppler; a
# PDF that cannot be renamed into place, then the retry, pages in natural order; no pages.
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
init qpdf pdfinfo pdfimages pdftoppm

# Good colour, greyscale, EXIF, progressive, headerless and Adobe CMYK pages among a cut-short,
# a non-JPEG and an arithmetic-coded page. An outside decoder reads every page the PDF holds.
mixed=$(page_set mixed)
new_machine mixed
spool "$mixed"/*
run_vt
size=$(stat -c %s "$SPOOL/VellumTransit.pdf" 2>/dev/null)
expect "$MACHINE.out" "\
Adding VellumTransit1.jpg (1275x1650) into PDF\n\
Adding VellumTransit2.jpg (1275x1650) into PDF\n\
Adding VellumTransit3.jpg (850x1100) into PDF\n\
Adding VellumTransit4.jpg (1275x1650) into PDF\n\
Warning: Can't obtain image dimension from VellumTransit5.jpg. Skipped.\n\
Warning: Can't obtain image dimension from VellumTransit6.jpg. Skipped.\n\
Adding VellumTransit7.jpg (612x792) into PDF\n\
Adding VellumTransit8.jpg (640x800) into PDF\n\
Adding VellumTransit9.jpg (170x220) into PDF\n\
Adding VellumTransit10.jpg (1275x1650) into PDF\n\
Adding VellumTransit11.jpg (612x792) into PDF\n\
Warning: Can't obtain image dimension from VellumTransit12.jpg. Skipped.\n\
=> Generating PDF File...Done\n\
Written PDF %d/%d.\nKindle must be plugged in!\n" "$size" "$size"
holds "$SPOOL" VellumTransit.pdf
judge_pdf "$SPOOL/VellumTransit.pdf" "$mixed" VellumTransit{1,2,3,4,7,8,9,10,11}.jpg
for img in "$MACHINE".img/*.jpg; do
    check "djpeg decodes ${img##*/}" djpeg -outfile /dev/null "$img"
done
read -r nongrey bottom < <(grey_render "$SPOOL/VellumTransit.pdf" 2)
check_eq "the greyscale page renders grey" 0 "${nongrey:-none}"
check "the greyscale page reaches its dark bottom edge ($bottom)" test "${bottom:-255}" -lt 100

# The rename fails: no PDF, every page kept; the next run makes it, VellumTransit10.jpg after 9.
new_machine rename-fails
for k in {1..12}; do
    "${VT_BIN%/*}/vt_testpage" 64 80 "$k" | cjpeg >"$SPOOL/VellumTransit$k.jpg"
done
cp -r "$SPOOL" "$MACHINE.pages"
printf '[faults]\nMoveFileExA = 1\n' >"$MACHINE/machine.ini"
adding=$(printf 'Adding VellumTransit%d.jpg (64x80) into PDF\\n' {1..12})
adding+='=> Generating PDF File...Done\n'
run_vt
expect "$MACHINE.out" "${adding}Could not write PDF.\n" # no PDF: nothing to deliver
events_in_order 'MoveFileExA VellumTransit.pdf.partial VellumTransit.pdf fail 5'
check "the spool holds the pages alone, unchanged" diff -r "$MACHINE.pages" "$SPOOL"
rm "$MACHINE/machine.ini" && run_vt
size=$(stat -c %s "$SPOOL/VellumTransit.pdf" 2>/dev/null)
expect "$MACHINE.out" "${adding}Written PDF %d/%d.\nKindle must be plugged in!\n" "$size" "$size"
holds "$SPOOL" VellumTransit.pdf
judge_pdf "$SPOOL/VellumTransit.pdf" "$MACHINE.pages" VellumTransit{1..12}.jpg

new_machine empty
run_vt
expect "$MACHINE.out" 'VellumTransit*.jpg\nNo *.jpg files in temp directory!\n'
holds "$SPOOL"
finish
