#!/usr/bin/env bash
# Whole runs that convert nothing: a PDF already waiting, a spool with nothing to list, and a
# spool of files that can never become pages.
# shellcheck source=tests/whole/lib.sh
source "$(dirname "$0")/lib.sh"
whole_init
job3=$(make_page_set job 3)
mixed=$(make_page_set mixed)

# ---- A waiting PDF holds back the conversion: nothing listed, read, written or deleted -------
new_machine waiting-pdf
spool_pages "$job3"
printf '%%PDF-1.3\r\n%% waiting for delivery\r\n' >"$SPOOL/VellumTransit.pdf"
cp "$SPOOL/VellumTransit.pdf" "$MACHINE.waiting"
run_vt
expect_transcript "$NO_EREADER"
spool_holds_exactly VellumTransit.pdf VellumTransit1.jpg VellumTransit2.jpg VellumTransit3.jpg
spool_unchanged "$job3" VellumTransit1.jpg VellumTransit2.jpg VellumTransit3.jpg
check "the waiting PDF is left as it was" cmp -s "$MACHINE.waiting" "$SPOOL/VellumTransit.pdf"
events_in_order 'SetCurrentDirectoryA C:\Windows\VellumTransit ok'
events_lack '^(DeleteFileA|fopen|fwrite|fclose|MoveFileExA|remove) '

# ---- The empty listing: its two lines, and the run ends before delivery ------------------------
new_machine empty-spool
run_vt
expect_transcript 'VellumTransit*.jpg\nNo *.jpg files in temp directory!\n'
spool_holds_exactly
events_exactly 'SetCurrentDirectoryA C:\Windows\VellumTransit ok'

# Files that do not match the pattern, and a folder that does, are no pages either; all stay.
new_machine nothing-matches
mkdir "$SPOOL/VellumTransitFolder.jpg"
printf 'x' >"$SPOOL/notes.jpg"
printf 'x' >"$SPOOL/VellumTransit.txt"
printf 'stale' >"$SPOOL/VellumTransit.pdf.partial"
run_vt
expect_transcript 'VellumTransit*.jpg\nNo *.jpg files in temp directory!\n'
spool_holds_exactly VellumTransit.pdf.partial VellumTransit.txt VellumTransitFolder.jpg notes.jpg
events_exactly 'SetCurrentDirectoryA C:\Windows\VellumTransit ok'

# ---- Only unusable files: each is reported and deleted, no PDF, and no delivery --------------
new_machine only-unusable
cp "$mixed"/VellumTransit{4,5,6}.jpg "$SPOOL"/
: >"$SPOOL/VellumTransit7.jpg"
run_vt
expect_transcript "\
Warning: Can't obtain image dimension from VellumTransit4.jpg. Skipped.\n\
Warning: Can't obtain image dimension from VellumTransit5.jpg. Skipped.\n\
Warning: Can't obtain image dimension from VellumTransit6.jpg. Skipped.\n\
Warning: Can't obtain image dimension from VellumTransit7.jpg. Skipped.\n\
No pages to write.\n"
spool_holds_exactly
events_exactly 'SetCurrentDirectoryA C:\Windows\VellumTransit ok' \
    'DeleteFileA VellumTransit4.jpg ok' \
    'DeleteFileA VellumTransit5.jpg ok' \
    'DeleteFileA VellumTransit6.jpg ok' \
    'DeleteFileA VellumTransit7.jpg ok'

whole_finish
