#!/usr/bin/env bash
# The demo: a print job on a simulated Windows machine, from the front end to the e-reader.
#
# 1. A machine with an e-reader at E:. The front-end stand-in prints a three-page document into
#    the spool folder; the program converts it and delivers the PDF to E:\documents.
# 2. A machine without an e-reader: the PDF waits in the spool folder. The e-reader is then
#    plugged in, and the next run only delivers.
# 3. A media e-reader: a current model that Windows lists only as a portable device (MTP), with
#    no drive letter, described as "MTP USB Device" like the phone and the maker's tablet before
#    it, and recognised by its USB vendor (1949) and the model it reports. The PDF goes into its
#    documents folder beside an older one, under the next free name.
# 4. The printer: vellumtransit-printer serves the machine as an IPP Everywhere printer, and a
#    PDF printed through CUPS (a private scheduler, as Windows' class driver would) arrives on
#    the e-reader.
#
# Everything lands in demo/ (machine folders, transcripts, events.log, trace.log).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/cups/ready.sh
source tools/cups/ready.sh
bash tools/setup.sh >/dev/null
cmake --preset host >/dev/null
cmake --build --preset host >/dev/null

binary=$PWD/build/host/vellumtransit
demo=$PWD/demo
rm -rf "$demo"
mkdir -p "$demo"

show() { printf '\n---- %s\n' "$*"; }

# The drive and device of an e-reader, as the storage stack and the device manager report them.
ereader_ini() {
    cat <<'INI'
[machine]
trace = on

[drive E]
type = removable
label = Reader
vendor = Kindle
product = Internal Storage
revision = 0100
bus_type = 7
removable_media = 1
device_number = 1
partition_number = 1
characteristics = 0x1

[interface reader]
class = disk
path = \\?\usbstor#disk&ven_demo&prod_reader#7&1a2b3c&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
device_number = 1
instance_id = USBSTOR\DISK&VEN_DEMO&PROD_READER\7&1A2B3C&0
removal_policy = 3
setup_class = DiskDrive
hardware_ids = USBSTOR\DiskDemo_Reader | GenDisk
friendly_name = Demo Reader USB Device
pdo_name = \Device\0000004f
description = Disk drive
parent_id = USB\VID_0AB1&PID_0C22&MI_00\7&1A2B3C&0&0000
INI
}

# A media e-reader after a phone and the maker's tablet, as the portable-device manager lists
# them and as they present themselves over MTP: names without extensions, a few identifiers
# per call, a nameless folder that cannot be read, objects that exist from the create call on.
media_ini() {
    cat <<'INI'
[machine]
trace = on

[media Phone]
pnp_id = \\?\usb#vid_0ab1&pid_4ee1#0a1b2c#{6ac27878-a6fa-4155-ba85-f98f491d4f33}
friendly_name = Phone X1
manufacturer = Any Phone Maker
description = MTP USB Device
model = Kindle Phone
storages = Internal shared storage

[media Tablet]
pnp_id = \\?\usb#vid_1949&pid_0800#f0001#{6ac27878-a6fa-4155-ba85-f98f491d4f33}
friendly_name = Fire
manufacturer = Any Maker
description = MTP USB Device
model = Fire
storages = Internal storage

[media Scribe]
pnp_id = \\?\usb#vid_1949&pid_9981#g0001#{6ac27878-a6fa-4155-ba85-f98f491d4f33}
friendly_name = Kindle Scribe
manufacturer = Any Maker
description = MTP USB Device
model = Kindle Scribe
storages = Internal Storage
free_bytes = 1000000000
optimal_buffer = 262144
enum_batch = 8
unreadable = Internal Storage/_nameless
transfer = on_create
INI
}

run() { # run MACHINE LABEL
    show "$2"
    echo "\$ VELLUMTRANSIT_MACHINE=$1 $binary"
    VELLUMTRANSIT_MACHINE=$1 "$binary" | tee "$1/transcript-$3.txt"
}

# ---- 1. A print job delivered ------------------------------------------------------------
one=$demo/with-ereader
mkdir -p "$one/C/Windows/VellumTransit" "$one/E/documents"
ereader_ini >"$one/machine.ini"
show "The front end prints tools/frontend/sample-document.ps into the spool folder"
bash tools/frontend/print-to-spool.sh tools/frontend/sample-document.ps "$one/C/Windows/VellumTransit"
ls -l "$one/C/Windows/VellumTransit"
run "$one" "The program runs" 1
show "On the e-reader: E:\\documents"
ls -l "$one/E/documents"
show "Left in the spool folder (nothing)"
ls -A "$one/C/Windows/VellumTransit"
show "events.log: what the program did to the machine"
cat "$one/events.log"
show "trace.log: the diagnostic report of the drive scan"
cat "$one/trace.log"

# ---- 2. No e-reader: the PDF waits, the next run delivers --------------------------------
two=$demo/ereader-later
mkdir -p "$two/C/Windows/VellumTransit"
bash tools/frontend/print-to-spool.sh tools/frontend/sample-document.ps "$two/C/Windows/VellumTransit"
run "$two" "No e-reader attached" 1
show "Waiting in the spool folder"
ls -l "$two/C/Windows/VellumTransit"
show "The e-reader is plugged in as E:"
ereader_ini >"$two/machine.ini"
mkdir -p "$two/E/documents"
run "$two" "The next run only delivers" 2
show "On the e-reader: E:\\documents"
ls -l "$two/E/documents"

# ---- 3. A media e-reader -------------------------------------------------------------------
three=$demo/media-ereader
mkdir -p "$three/C/Windows/VellumTransit" "$three/media/Scribe/Internal Storage/documents" \
    "$three/media/Scribe/Internal Storage/_nameless" "$three/media/Phone/Internal shared storage" \
    "$three/media/Tablet/Internal storage"
media_ini >"$three/machine.ini"
# An earlier document on the e-reader: the first page alone, converted on a scratch machine.
earlier=$demo/earlier-document
mkdir -p "$earlier/C/Windows/VellumTransit"
bash tools/frontend/print-to-spool.sh tools/frontend/sample-document.ps "$earlier/pages"
cp "$earlier/pages/VellumTransit1-1.jpg" "$earlier/C/Windows/VellumTransit/"
VELLUMTRANSIT_MACHINE=$earlier "$binary" >/dev/null
cp "$earlier/C/Windows/VellumTransit/VellumTransit.pdf" \
    "$three/media/Scribe/Internal Storage/documents/"
bash tools/frontend/print-to-spool.sh tools/frontend/sample-document.ps \
    "$three/C/Windows/VellumTransit"
run "$three" "A media e-reader (no drive letter) holding an earlier VellumTransit.pdf" 1
show "On the e-reader: Internal Storage\\documents (the earlier PDF kept)"
ls -l "$three/media/Scribe/Internal Storage/documents"
show "events.log: the portable-device calls"
grep -E '^(CoCreateInstance|IPortableDevice|IStream|DeleteFileA VellumTransit.pdf ok)' \
    "$three/events.log"
show "trace.log: the portable devices' report"
sed -n '/^Portable Device/,$p' "$three/trace.log"

# ---- 4. The printer: a PDF printed through CUPS -----------------------------------------------
four=$demo/printer
mkdir -p "$four/C/Windows/VellumTransit" "$four/E/documents"
ereader_ini >"$four/machine.ini"
show "The printer starts on the machine"
echo "\$ VELLUMTRANSIT_MACHINE=$four $PWD/build/host/vellumtransit-printer --port 18631 &"
VELLUMTRANSIT_MACHINE=$four build/host/vellumtransit-printer --port 18631 >"$four/printer.txt" 2>&1 &
printer=$!
trap 'kill $printer 2>/dev/null' EXIT
wait_for_printer ipp://127.0.0.1:18631/ipp/print "$printer" || { cat "$four/printer.txt" && exit 1; }
cupsd=$(bash tools/cups/start-cupsd.sh "$demo/cups" 18632)
trap 'kill $printer $cupsd 2>/dev/null' EXIT
cat "$four/printer.txt"
show "CUPS makes an IPP Everywhere queue on it and prints a PDF of the sample document"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$demo/sample-document.pdf" \
    tools/frontend/sample-document.ps
echo "\$ lpadmin -p vt -E -v ipp://127.0.0.1:18631/ipp/print -m everywhere"
lpadmin -h 127.0.0.1:18632 -p vt -E -v ipp://127.0.0.1:18631/ipp/print -m everywhere
# lpadmin may return before CUPS has made the queue's PPD; a job sent then would go unfiltered.
wait_for_queue 127.0.0.1:18632 vt || exit 1
echo "\$ lp -d vt sample-document.pdf"
lp -h 127.0.0.1:18632 -d vt "$demo/sample-document.pdf"
# CUPS names the job after its file: the document arrives named and titled so. The printer's
# last job number stays in the spool folder.
for _ in {1..300}; do
    [ -s "$four/E/documents/sample-document.pdf" ] &&
        [ -z "$(ls -A "$four/C/Windows/VellumTransit" | grep -v '^PrinterJobNumber\.txt$')" ] &&
        break
    sleep 0.1
done
show "On the e-reader: E:\\documents"
ls -l "$four/E/documents"
show "events.log: the printer's pages handed over under the run mutex, the program started"
grep -E '^(CreateFileA C:.*PrinterJob|MoveFileExA C:|(WaitForSingleObject|ReleaseMutex) Global.VellumTransit.Spool|CreateProcessA|WaitForSingleObject vellumtransit)' \
    "$four/events.log"
show "The job, as the printer reports it (the program's last line is its message)"
printf '{\nOPERATION Get-Jobs\nGROUP operation-attributes-tag\n%s\n%s\n%s\n%s\n%s\n}\n' \
    'ATTR charset attributes-charset utf-8' 'ATTR naturalLanguage attributes-natural-language en' \
    'ATTR uri printer-uri $uri' 'ATTR keyword which-jobs completed' \
    'ATTR keyword requested-attributes job-id,job-state,job-state-message' >"$demo/jobs.test"
ipptool -tv ipp://127.0.0.1:18631/ipp/print "$demo/jobs.test" | grep -E '^ +job-(id|state)'
kill $printer $cupsd 2>/dev/null

show "PDF check of the delivered file"
pdfinfo "$one/E/documents/VellumTransit.pdf" | grep -E '^(Pages|Page size|PDF version)'
pdfinfo "$four/E/documents/sample-document.pdf" | grep -E '^(Title|Pages|Page size|PDF version)'
echo
echo "Demo done: see demo/ for the machine folders, transcripts, events.log and trace.log."
