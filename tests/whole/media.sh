#!/usr/bin/env bash
# Whole runs of the host binary with a media e-reader, one that is only a portable device: a
# print job delivered to it; a drive e-reader beside it, which wins without a WPD call; a waiting
# PDF delivered by a run that converts nothing, byte for byte beside an older copy; an e-reader
# as real ones present themselves over MTP, whose failed write leaves nothing behind.
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
init qpdf pdfinfo pdfimages

# media_ereader: a Kindle Scribe with its documents folder, as the portable-device manager lists
# it, after a phone.
media_ereader() {
    mkdir -p "$MACHINE/media/Scribe/Internal Storage/documents" "$MACHINE/media/Phone/Storage"
    printf '%s\n' '[media Phone]' 'friendly_name = Kindle' 'description = Phone X1' \
        'storages = Storage' '[media Scribe]' \
        'pnp_id = \\?\usb#vid_1949&pid_9981#g0001#{6ac27878-a6fa-4155-ba85-f98f491d4f33}' \
        'friendly_name = Kindle Scribe' 'manufacturer = Any Maker' 'description = Kindle Scribe' \
        'storages = Internal Storage' 'optimal_buffer = 65536' >>"$MACHINE/machine.ini"
}
documents=media/Scribe/Internal\ Storage/documents
done_lines=$'Kindle Scribe: Output copied to Kindle!\nKindle Scribe can be unplugged.\n'

job=$(page_set job 2)
new_machine media
spool "$job"/*
media_ereader
run_vt
pdf=$MACHINE/$documents/VellumTransit.pdf new='Internal Storage\documents\VellumTransit.pdf'
size=$(stat -c %s "$pdf" 2>/dev/null)
expect "$MACHINE.out" '%s\n%s\n%s\n%s\n%s' 'Adding VellumTransit1.jpg (1275x1650) into PDF' \
    'Adding VellumTransit2.jpg (1275x1650) into PDF' '=> Generating PDF File...Done' \
    "Written PDF $size/$size." "$done_lines"
judge_pdf "$pdf" "$job" VellumTransit1.jpg VellumTransit2.jpg
holds "$SPOOL"
holds "$MACHINE/$documents" VellumTransit.pdf
holds "$MACHINE/media/Scribe" 'Internal Storage'
events_in_order 'MoveFileExA VellumTransit.pdf.partial VellumTransit.pdf ok' \
    'CoCreateInstance PortableDeviceManager ok' 'IPortableDevice::Open Kindle Scribe ok' \
    "IPortableDeviceContent::CreateObjectWithPropertiesAndData $new $size ok" \
    "IStream::Commit $new ok" 'DeleteFileA VellumTransit.pdf ok' 'IPortableDevice::Close Kindle Scribe ok'

new_machine drive-beside-media
spool "$job"/*
mkdir -p "$MACHINE/E/documents"
printf '%s\n' '[drive E]' 'type = removable' 'vendor = Kindle' 'bus_type = 7' \
    >"$MACHINE/machine.ini"
media_ereader
run_vt
check_eq "the drive's delivery" 'E:\Output copied to Kindle!' "$(sed -n 5p "$MACHINE.out")"
holds "$MACHINE/E/documents" VellumTransit.pdf
holds "$MACHINE/$documents"
check_eq "WPD calls" "" \
    "$(grep -E '^(CoCreateInstance|IPortableDevice|IStream)' "$MACHINE/events.log")"

new_machine waiting
media_ereader
cp "$pdf" "$SPOOL/VellumTransit.pdf" # the first case's PDF, now waiting
cp "$SPOOL/VellumTransit.pdf" "$MACHINE.waiting"
printf 'an older document' >"$MACHINE/$documents/VellumTransit.pdf"
run_vt
expect "$MACHINE.out" '%s' "$done_lines"
check_bytes "the waiting PDF on the device" "$MACHINE.waiting" \
    "$MACHINE/$documents/VellumTransit (2).pdf"
check_eq "the older copy" 'an older document' "$(cat "$MACHINE/$documents/VellumTransit.pdf")"
holds "$SPOOL"

# A Kindle Scribe as Windows lists it over MTP: the driver's own description, known by vendor
# and model, after the maker's tablet of the same vendor; two identifiers per call, a nameless
# folder at the root that cannot be read, "Documents" beside "documents", and objects that exist
# from the create call on. A failed write leaves nothing; the next run delivers once.
new_machine real-mtp
spool "$job"/*
scribe=$MACHINE/media/Scribe/Internal\ Storage
mkdir -p "$MACHINE/media/Fire/Internal storage/documents" "$scribe/Documents" "$scribe/_nameless" \
    "$scribe/documents"
guid='#{6ac27878-a6fa-4155-ba85-f98f491d4f33}'
printf '%s\n' '[media Fire]' "pnp_id = \\\\?\\usb#vid_1949&pid_0800#f0001$guid" \
    'description = MTP USB Device' 'model = Fire' 'storages = Internal storage' '[media Scribe]' \
    "pnp_id = \\\\?\\USB#VID_1949&PID_9981#G0001$guid" 'friendly_name = Kindle Scribe' \
    'description = MTP USB Device' 'model = Kindle Scribe' 'storages = Internal Storage' \
    'enum_batch = 2' 'unreadable = Internal Storage/_nameless' 'transfer = on_create' \
    >"$MACHINE/machine.ini"
cp "$MACHINE/machine.ini" "$MACHINE.ini"
printf '[faults]\nIStream::Write = 2\n' >>"$MACHINE/machine.ini"
run_vt
expect "$MACHINE.out" '%s\n%s\n%s\n%s\n%s\n%s\n' 'Adding VellumTransit1.jpg (1275x1650) into PDF' \
    'Adding VellumTransit2.jpg (1275x1650) into PDF' '=> Generating PDF File...Done' \
    "Written PDF $size/$size." 'Kindle Scribe: Could not copy the PDF (error 0x80004005).' \
    'Kindle must be plugged in!'
holds "$scribe/documents"
events_in_order 'IPortableDevice::Open MTP USB Device ok' \
    'IPortableDevice::Close MTP USB Device ok' 'IPortableDevice::Open Kindle Scribe ok' \
    'IPortableDeviceContent::Delete Internal Storage\documents\VellumTransit.pdf ok'
cp "$MACHINE.ini" "$MACHINE/machine.ini"
run_vt
expect "$MACHINE.out" '%s' "$done_lines"
check_bytes "the PDF on the device" "$pdf" "$scribe/documents/VellumTransit.pdf"
holds "$scribe/documents" VellumTransit.pdf
holds "$scribe/Documents"
holds "$MACHINE/media/Fire/Internal storage/documents"
holds "$SPOOL"
finish
