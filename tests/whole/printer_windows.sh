#!/usr/bin/env bash
# The printer (host build) as Windows' IPP class driver meets it: the Get-Printer-Attributes
# request of the "Add printer" wizard replayed in IPP/1.1 and 2.0 and each attribute checked,
# printer-uuid the same across restarts and ports on one machine; ipptool print jobs with
# COMPRESSION gzip and deflate arrive on the simulated e-reader with their pages in order;
# compressed documents that are bombs, cut, badly headed or of an unsupported compression are
# refused and the printer goes on serving; the request log's lines for a job. Environment as
# tests/lib.sh, and VT_PRINTER (the printer binary).
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
init curl gs gzip ipptool perl pdfinfo pdftoppm
: "${VT_PRINTER:?}"
IPP="perl $VT_SOURCE/tests/ipp.pl"
VERSION=$(sed -n 's/^#define VT_VERSION_TEXT "\(.*\)"$/\1/p' "$VT_BUILD/generated/vellumtransit_version.h")
PORT=0 PRINTER_PID=""
URI() { echo "ipp://127.0.0.1:$PORT/ipp/print"; }

# post FILE: sends FILE as one IPP request; the response in FILE.response, its status printed.
post() {
    curl -s --max-time 120 --data-binary @"$1" -H 'Content-Type: application/ipp' \
        "http://127.0.0.1:$PORT/ipp/print" -o "$1.response"
    od -An -tx1 -j2 -N2 "$1.response" | tr -d ' \n'
}
# answers: the printer answers a Get-Printer-Attributes request.
answers() {
    $IPP request 2.0 0b "$(URI)" printer-state >"$SCRATCH/state.ipp" &&
        [ "$(post "$SCRATCH/state.ipp" 2>/dev/null)" = 0000 ]
}
# start_printer PORT [ARG...]: the printer on MACHINE, until it answers Get-Printer-Attributes.
start_printer() {
    PORT=$1
    VELLUMTRANSIT_MACHINE=$MACHINE "$VT_PRINTER" --port "$@" >"$MACHINE.printer" 2>&1 &
    PRINTER_PID=$!
    for _ in {1..200}; do answers && return; sleep 0.05; done
    fail "the printer does not answer: $(cat "$MACHINE.printer")"
}
stop_printer() {
    [ -z "$PRINTER_PID" ] || { kill "$PRINTER_PID" && wait "$PRINTER_PID"; } 2>/dev/null
    PRINTER_PID=""
}
trap stop_printer EXIT
# ereader [INI_LINE...]: MACHINE gets an e-reader at E: and these [machine] lines.
ereader() {
    mkdir -p "$MACHINE/E/documents"
    { printf '[machine]\n' && printf '%s\n' "$@" &&
        printf '[drive E]\ntype = removable\nvendor = Kindle\nbus_type = 7\nremovable_media = 1\n'; } \
        >"$MACHINE/machine.ini"
}
# greys PDF: each page's grey level in tenths, in order.
greys() {
    local k levels=""
    for ((k = 1; k <= $(pdfinfo "$1" | awk '/^Pages:/ { print $2 }'); ++k)); do
        pdftoppm -r 10 -f $k -l $k -gray -singlefile "$1" "$MACHINE.grey"
        levels+="$(tail -c 1 "$MACHINE.grey.pgm" | od -An -tu1 | awk '{ print int(($1 + 5) / 10) }') "
    done
    echo "$levels"
}

# Three pages of grey 0.2, 0.5 and 0.8 as PWG raster (sgray_8, 150 dpi), made by Ghostscript,
# and the same pages last first (a job of the same pages would be the same PDF, which the
# program finds already on the e-reader).
for order in "0.2 0.5 0.8 three" "0.8 0.5 0.2 eerht"; do
    read -r a b c name <<<"$order"
    printf '%%!PS\n<< /PageSize [612 792] >> setpagedevice\n' >"$SCRATCH/$name.ps"
    for grey in $a $b $c; do echo "$grey setgray 0 0 612 792 rectfill showpage"; done >>"$SCRATCH/$name.ps"
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r150 -dcupsColorSpace=18 \
        -dcupsBitsPerColor=8 -sOutputFile="$SCRATCH/$name.pwg" "$SCRATCH/$name.ps" 2>/dev/null
done
# A small page of 4 x 3 from its header: three lines of one run of grey.
dd if="$SCRATCH/three.pwg" of="$SCRATCH/small.hdr" bs=1 skip=4 count=1796 status=none
put32() { perl -e 'print pack("N", $ARGV[0])' "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
put32 "$SCRATCH/small.hdr" 372 4 && put32 "$SCRATCH/small.hdr" 376 3 && put32 "$SCRATCH/small.hdr" 392 4
page() { cat "$SCRATCH/small.hdr" && printf '\x02\x03\x80'; }

# ---- The wizard's Get-Printer-Attributes --------------------------------------------------
# The attributes a Windows 11 "Add printer" wizard is reported to ask for, with printer-uuid
# (which must stay the same) and media-source-supported (keywords only).
WIZARD=(uri-authentication-supported document-format-default document-format-preferred
    document-format-supported ipp-versions-supported media-supported media-type-supported
    mopria-certified mopria_certified printer-dns-sd-name printer-firmware-name
    printer-firmware-string-version printer-device-id printer-uuid media-source-supported)
new_machine wizard
ereader 'computer_name = READER-DESK' # whose version 5 UUID (Python's uuid.uuid5) is below
start_printer 28640
# uuid: printer-uuid from the wizard's request.
uuid() { $IPP decode <"$SCRATCH/wizard-2.0.ipp.response" | awk '$2 == "printer-uuid" { print $4 }'; }
for version in 1.1 2.0; do
    $IPP request $version 0b "$(URI)" "${WIZARD[@]}" >"$SCRATCH/wizard-$version.ipp"
    check_eq "IPP/$version: the status" 0000 "$(post "$SCRATCH/wizard-$version.ipp")"
    $IPP decode <"$SCRATCH/wizard-$version.ipp.response" >"$MACHINE.$version"
    check_eq "IPP/$version: the answer's version and id" "version $version status 0000 request-id 1" \
        "$(head -1 "$MACHINE.$version")"
    check_eq "IPP/$version: each attribute" "$(LC_ALL=C sort <<ATTRIBUTES
printer document-format-default mimeMediaType "application/octet-stream"
printer document-format-preferred mimeMediaType "image/pwg-raster"
printer document-format-supported mimeMediaType "application/octet-stream","image/jpeg","image/pwg-raster"
printer ipp-versions-supported keyword "1.1","2.0"
printer media-source-supported keyword "auto"
printer media-supported keyword "na_letter_8.5x11in","iso_a4_210x297mm"
printer media-type-supported keyword "stationery"
printer mopria-certified textWithoutLanguage "1.3"
printer mopria_certified textWithoutLanguage "1.3"
printer printer-device-id textWithoutLanguage "MFG:VellumTransit;MDL:E-reader Printer;CMD:PWGRaster,JPEG;CLS:PRINTER;"
printer printer-dns-sd-name nameWithoutLanguage "VellumTransit"
printer printer-firmware-name nameWithoutLanguage "vellumtransit-printer"
printer printer-firmware-string-version textWithoutLanguage "$VERSION"
printer printer-uuid uri "urn:uuid:0c7f4892-1625-5dc3-996f-58b2b847a5c2"
printer uri-authentication-supported keyword "none"
ATTRIBUTES
)" "$(grep '^printer ' "$MACHINE.$version" | LC_ALL=C sort)"
done
first=$(uuid)
stop_printer
start_printer 28641
$IPP request 2.0 0b "$(URI)" "${WIZARD[@]}" >"$SCRATCH/wizard-2.0.ipp" && post "$SCRATCH/wizard-2.0.ipp" >/dev/null
check_eq "printer-uuid after a restart on another port" "$first" "$(uuid)"
stop_printer
ereader 'computer_name = READER-LAPTOP'
start_printer 28641
$IPP request 2.0 0b "$(URI)" "${WIZARD[@]}" >"$SCRATCH/wizard-2.0.ipp" && post "$SCRATCH/wizard-2.0.ipp" >/dev/null
check "another machine's printer-uuid differs" test "$(uuid)" != "$first"
stop_printer

# ---- ipptool prints compressed; the request log ---------------------------------------------
new_machine compressed
ereader
start_printer 28642 --log 'C:\printer.log'
for entry in "gzip three" "deflate eerht"; do
    read -r compression document <<<"$entry"
    cat >"$SCRATCH/$compression.test" <<TEST
{ OPERATION Print-Job GROUP operation-attributes-tag ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en ATTR uri printer-uri \$uri
  ATTR name job-name "$compression job" ATTR mimeMediaType document-format image/pwg-raster
  ATTR keyword compression $compression COMPRESSION $compression FILE \$filename
  STATUS successful-ok }
TEST
    check "ipptool: Print-Job with COMPRESSION $compression" \
        ipptool -t -f "$SCRATCH/$document.pwg" "$(URI)" "$SCRATCH/$compression.test" \
        >"$MACHINE.$compression"
done
documents=$MACHINE/E/documents
for _ in {1..600}; do
    [ -s "$documents/VellumTransit (2).pdf" ] && [ -z "$(ls -A "$SPOOL")" ] && break
    sleep 0.1
done
check_eq "the gzip job: its pages in order, by their grey" "5 13 20 " "$(greys "$documents/VellumTransit.pdf")"
check_eq "the deflate job: its pages in order, by their grey" "20 13 5 " \
    "$(greys "$documents/VellumTransit (2).pdf")"

# The log's block for the first job: every attribute as it came, the document, each page's
# header and the status; never page data.
log=$MACHINE/C/printer.log
awk '/Print-Job/ { ++n } n == 1' "$log" |
    sed '1s/^[-0-9]*T[0-9:]*Z /TIME /; 1s/request-id [0-9]*$/request-id N/' >"$MACHINE.log1"
size=$(stat -c %s "$SCRATCH/three.pwg")
expect "$MACHINE.log1" '%s\n' 'TIME Print-Job (0x0002) IPP/1.1 request-id N' \
    '  operation attributes-charset charset "utf-8"' \
    '  operation attributes-natural-language naturalLanguage "en"' \
    "  operation printer-uri uri \"$(URI)\"" '  operation job-name nameWithoutLanguage "gzip job"' \
    '  operation document-format mimeMediaType "image/pwg-raster"' \
    '  operation compression keyword "gzip"' \
    '  document-format "image/pwg-raster" compression "gzip"' \
    '  page 1: PWG raster 150x150dpi sgray_8 1275x1650' \
    '  page 2: PWG raster 150x150dpi sgray_8 1275x1650' \
    '  page 3: PWG raster 150x150dpi sgray_8 1275x1650' \
    "  document: $(sed -n 's/.*document: \([0-9]*\) bytes received.*/\1/p' "$MACHINE.log1") bytes received, $size bytes inflated, 3 pages" \
    '  status successful-ok (0x0000)'
check "the log holds no page data" test "$(stat -c %s "$log")" -lt 20000
# A job name that is not UTF-8 is shown as it came: its Latin-1 byte escaped, UTF-8 kept.
{ $IPP request 2.0 02 "$(URI)" op:42:job-name=$'caf\xe9 \xe2\x82\xac' \
    op:49:document-format=image/pwg-raster job:44:print-color-mode=monochrome &&
    printf 'RaS2' && page; } >"$SCRATCH/named.ipp"
check_eq "a job named in Latin-1" 0000 "$(post "$SCRATCH/named.ipp")"
check_eq "its name in the log" "$(printf '%s\n' \
    '  operation job-name nameWithoutLanguage "caf\xe9 €"' \
    '  operation document-format mimeMediaType "image/pwg-raster"' \
    '  job print-color-mode keyword "monochrome"' \
    '  document-format "image/pwg-raster" compression -' \
    '  page 1: PWG raster 150x150dpi sgray_8 4x3' '  document: 1803 bytes received, 1 page')" \
    "$(awk '/Print-Job/ { ++n } n == 3' "$log" | grep -E 'job-name|print-color|document|page')"
stop_printer

# ---- Compressed refusals ----------------------------------------------------------------
# Each is refused with its status; the printer goes on serving and no page of the job stays.
new_machine refusals
ereader
start_printer 28643
perl -e 'local $/; my $page = <STDIN>; print "RaS2", $page x 10001' < <(page) | gzip -9 \
    >"$SCRATCH/pages.gz"
{ printf '\xFF\xD8' && head -c $((70 << 20)) /dev/zero; } | gzip -9 >"$SCRATCH/jpeg.gz"
gzip -9 -c "$SCRATCH/three.pwg" >"$SCRATCH/three.gz"
head -c $(($(stat -c %s "$SCRATCH/three.gz") - 100)) "$SCRATCH/three.gz" >"$SCRATCH/cut.gz"
{ printf '\x1f\x8b\x09' && tail -c +4 "$SCRATCH/three.gz"; } >"$SCRATCH/method.gz"
check "the bombs are small" test "$(stat -c %s "$SCRATCH/pages.gz")" -lt 100000 -a \
    "$(stat -c %s "$SCRATCH/jpeg.gz")" -lt 100000
for entry in "pages.gz image/pwg-raster gzip 0408 10000 pages" \
    "jpeg.gz image/jpeg gzip 0408 70 MiB of JPEG" "cut.gz image/pwg-raster gzip 0410 cut" \
    "method.gz image/pwg-raster gzip 0410 a method other than deflate" \
    "three.gz image/pwg-raster deflate 0410 gzip as deflate" \
    "three.gz image/pwg-raster compress 040f an unsupported compression"; do
    read -r file format compression status what <<<"$entry"
    { $IPP request 2.0 02 "$(URI)" op:49:document-format=$format op:44:compression=$compression &&
        cat "$SCRATCH/$file"; } >"$SCRATCH/refused.ipp"
    check_eq "$what" "$status" "$(post "$SCRATCH/refused.ipp")"
    check "the printer serves after $what" answers
    holds "$SPOOL"
done
check_eq "the bomb's page files, written and deleted" "10000 10000" \
    "$(grep -c '^CreateFileA C:.*PrinterJob.*CREATE_NEW ok' "$MACHINE/events.log") $(
        grep -c '^DeleteFileA C:.*PrinterJob.* ok' "$MACHINE/events.log")"
finish
