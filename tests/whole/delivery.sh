#!/usr/bin/env bash
# The road of one print job, as a whole run of the host binary: two pages in, the PDF on the
# e-reader at E:, the e-reader ejected, nothing left in the spool.
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
init qpdf pdfinfo pdfimages
job=$(page_set job 2)
new_machine road
spool "$job"/*
mkdir -p "$MACHINE/E/documents"
# An e-reader at E:, as the storage stack reports it; the drive scan needs no more.
printf '%s\n' '[drive E]' 'type = removable' 'vendor = Kindle' 'product = Internal Storage' \
    'bus_type = 7' 'removable_media = 1' >"$MACHINE/machine.ini"
run_vt
pdf=$MACHINE/E/documents/VellumTransit.pdf
size=$(stat -c %s "$pdf" 2>/dev/null)
expect "$MACHINE.out" '%s\n%s\n%s\n%s\n%s\n%s\n%s\r\n%s\n' \
    'Adding VellumTransit1.jpg (1275x1650) into PDF' \
    'Adding VellumTransit2.jpg (1275x1650) into PDF' '=> Generating PDF File...Done' \
    "Written PDF $size/$size." 'E:\Output copied to Kindle!' 'Get drive type...' \
    'E:\ - Removable' 'Media in Drive E has been ejected safely.'
judge_pdf "$pdf" "$job" VellumTransit1.jpg VellumTransit2.jpg
holds "$SPOOL"
events_in_order 'MoveFileExA VellumTransit.pdf.partial VellumTransit.pdf ok' \
    'DeleteFileA VellumTransit1.jpg ok' 'DeleteFileA VellumTransit2.jpg ok' \
    'CopyFileA VellumTransit.pdf E:\documents\VellumTransit.pdf.partial ok' \
    'FlushFileBuffers E:\documents\VellumTransit.pdf.partial ok' \
    'MoveFileExA E:\documents\VellumTransit.pdf.partial E:\documents\VellumTransit.pdf ok' \
    'DeleteFileA VellumTransit.pdf ok' \
    'CreateFileA \\.\E: GENERIC_READ|GENERIC_WRITE ok' \
    'DeviceIoControl FSCTL_LOCK_VOLUME \\.\E: ok' \
    'DeviceIoControl FSCTL_DISMOUNT_VOLUME \\.\E: ok' \
    'DeviceIoControl IOCTL_STORAGE_MEDIA_REMOVAL allow \\.\E: ok' \
    'DeviceIoControl IOCTL_STORAGE_EJECT_MEDIA \\.\E: ok' \
    'CloseHandle \\.\E: ok'
finish
