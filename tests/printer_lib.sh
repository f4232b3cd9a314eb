# shellcheck shell=bash
# Shared by tests/whole/printer_windows.sh (the host build) and tests/wine/printer_windows.sh
# (the exe under Wine), after tests/lib.sh: requests as Windows' class driver sends them
# (tests/ipp.pl), what the printer must answer, the documents printed and the request log's
# block for a job. The script sets PORT.
IPP="perl $VT_SOURCE/tests/ipp.pl"
VERSION=$(sed -n 's/^#define VT_VERSION_TEXT "\(.*\)"$/\1/p' "$VT_BUILD/generated/vellumtransit_version.h")
URI() { echo "ipp://127.0.0.1:$PORT/ipp/print"; }

# post FILE: sends FILE as one IPP request; the response in FILE.response, its status printed
# (nothing when no answer came: an earlier request's answer must never pass for this one's).
post() {
    rm -f "$1.response"
    curl -s --max-time 120 --data-binary @"$1" -H 'Content-Type: application/ipp' \
        "http://127.0.0.1:$PORT/ipp/print" -o "$1.response" || return 0
    od -An -tx1 -j2 -N2 "$1.response" | tr -d ' \n'
}
# answers: the printer answers a Get-Printer-Attributes request.
answers() {
    $IPP request 2.0 0b "$(URI)" printer-state >"$SCRATCH/state.ipp" &&
        [ "$(post "$SCRATCH/state.ipp" 2>/dev/null)" = 0000 ]
}
# await_printer TRIES LOG: polls until the printer answers (0.1 s apart); fails with LOG if not.
await_printer() {
    local try
    for ((try = 0; try < $1; ++try)); do answers && return; sleep 0.1; done
    fail "the printer does not answer: $(cat "$2")"
}

# The attributes a Windows 11 "Add printer" wizard is reported to ask for, with printer-uuid
# (which must stay the same) and media-source-supported (keywords only).
WIZARD=(uri-authentication-supported document-format-default document-format-preferred
    document-format-supported ipp-versions-supported media-supported media-type-supported
    mopria-certified mopria_certified printer-dns-sd-name printer-firmware-name
    printer-firmware-string-version printer-device-id printer-uuid media-source-supported)
# wizard VERSION: sends the wizard's request in IPP/VERSION; its answer, decoded, in
# $SCRATCH/wizard-VERSION; prints the status.
wizard() {
    $IPP request "$1" 0b "$(URI)" "${WIZARD[@]}" >"$SCRATCH/wizard-$1.ipp"
    post "$SCRATCH/wizard-$1.ipp"
    $IPP decode <"$SCRATCH/wizard-$1.ipp.response" >"$SCRATCH/wizard-$1"
}
# wizard_uuid VERSION: the printer-uuid of that answer.
wizard_uuid() { awk '$2 == "printer-uuid" { print $4 }' "$SCRATCH/wizard-$1"; }
# check_wizard VERSION UUID: the answer's header and each attribute, UUID being printer-uuid's.
check_wizard() {
    check_eq "IPP/$1: the answer's version and id" "version $1 status 0000 request-id 1" \
        "$(head -1 "$SCRATCH/wizard-$1")"
    check_eq "IPP/$1: each attribute" "$(LC_ALL=C sort <<ATTRIBUTES
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
printer printer-uuid uri $2
printer uri-authentication-supported keyword "none"
ATTRIBUTES
)" "$(grep '^printer ' "$SCRATCH/wizard-$1" | LC_ALL=C sort)"
}

# The documents: three pages of grey 0.2, 0.5 and 0.8 as PWG raster (sgray_8, 150 dpi), made
# by Ghostscript, and the same pages last first (a job of the same pages would make the same
# PDF, which the program finds already on the e-reader); a small page of 4 x 3 (page prints
# it: the header, then three lines of one run of grey); three.pwg compressed, cut, and with a
# method other than deflate in its gzip header.
for order in "0.2 0.5 0.8 three" "0.8 0.5 0.2 eerht"; do
    read -r a b c name <<<"$order"
    printf '%%!PS\n<< /PageSize [612 792] >> setpagedevice\n' >"$SCRATCH/$name.ps"
    for grey in $a $b $c; do echo "$grey setgray 0 0 612 792 rectfill showpage"; done >>"$SCRATCH/$name.ps"
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r150 -dcupsColorSpace=18 \
        -dcupsBitsPerColor=8 -sOutputFile="$SCRATCH/$name.pwg" "$SCRATCH/$name.ps" 2>/dev/null
done
dd if="$SCRATCH/three.pwg" of="$SCRATCH/small.hdr" bs=1 skip=4 count=1796 status=none
for field in "372 4" "376 3" "392 4"; do
    read -r offset value <<<"$field"
    perl -e 'print pack("N", $ARGV[0])' "$value" |
        dd of="$SCRATCH/small.hdr" bs=1 seek="$offset" conv=notrunc status=none
done
page() { cat "$SCRATCH/small.hdr" && printf '\x02\x03\x80'; }
gzip -9 -c "$SCRATCH/three.pwg" >"$SCRATCH/three.gz"
head -c $(($(stat -c %s "$SCRATCH/three.gz") - 100)) "$SCRATCH/three.gz" >"$SCRATCH/cut.gz"
{ printf '\x1f\x8b\x09' && tail -c +4 "$SCRATCH/three.gz"; } >"$SCRATCH/method.gz"
# A JPEG bomb: 70 MiB of a JPEG's start in 70 KB of gzip, past the 64 MiB a JPEG may have.
{ printf '\xFF\xD8' && head -c $((70 << 20)) /dev/zero; } | gzip -9 >"$SCRATCH/jpeg.gz"

# print_compressed COMPRESSION DOCUMENT: ipptool's Print-Job of DOCUMENT.pwg with that
# COMPRESSION, named "COMPRESSION job".
print_compressed() {
    cat >"$SCRATCH/$1.test" <<TEST
{ OPERATION Print-Job GROUP operation-attributes-tag ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en ATTR uri printer-uri \$uri
  ATTR name job-name "$1 job" ATTR mimeMediaType document-format image/pwg-raster
  ATTR keyword compression $1 COMPRESSION $1 FILE \$filename STATUS successful-ok }
TEST
    ipptool -t -f "$SCRATCH/$2.pwg" "$(URI)" "$SCRATCH/$1.test" >"$SCRATCH/$1.ipptool" 2>&1
}
# refuse FILE FORMAT COMPRESSION: a Print-Job of FILE; prints the status.
refuse() {
    { $IPP request 2.0 02 "$(URI)" op:49:document-format="$2" op:44:compression="$3" &&
        cat "$SCRATCH/$1"; } >"$SCRATCH/refused.ipp"
    post "$SCRATCH/refused.ipp"
}

# greys PDF: each page's grey level in tenths, in order.
greys() {
    local k levels=""
    for ((k = 1; k <= $(pdfinfo "$1" | awk '/^Pages:/ { print $2 }'); ++k)); do
        pdftoppm -r 10 -f $k -l $k -gray -singlefile "$1" "$SCRATCH/grey"
        levels+="$(tail -c 1 "$SCRATCH/grey.pgm" | od -An -tu1 | awk '{ print int(($1 + 5) / 10) }') "
    done
    echo "$levels"
}

# log_block LOG N: the log's block of the Nth Print-Job, up to the next request's.
log_block() { awk -v want="$2" '/^[0-9]/ { inside = / Print-Job / && ++n == want } inside' "$1"; }
# check_log_block LOG: the log's block for the first Print-Job (of three.pwg, gzip, by
# print_compressed) holds every attribute as it came, the document, each page's header and
# the status; and the log holds no page data, only lines of text.
check_log_block() {
    log_block "$1" 1 |
        sed '1s/^[-0-9]*T[0-9:]*Z /TIME /; 1s/request-id [0-9]*$/request-id N/' >"$SCRATCH/block"
    local received
    received=$(sed -n 's/.*document: \([0-9]*\) bytes received.*/\1/p' "$SCRATCH/block")
    expect "$SCRATCH/block" '%s\n' 'TIME Print-Job (0x0002) IPP/1.1 request-id N' \
        '  operation attributes-charset charset "utf-8"' \
        '  operation attributes-natural-language naturalLanguage "en"' \
        "  operation printer-uri uri \"$(URI)\"" '  operation job-name nameWithoutLanguage "gzip job"' \
        '  operation document-format mimeMediaType "image/pwg-raster"' \
        '  operation compression keyword "gzip"' \
        '  document-format "image/pwg-raster" compression "gzip"' \
        '  page 1: PWG raster 150x150dpi sgray_8 1275x1650' \
        '  page 2: PWG raster 150x150dpi sgray_8 1275x1650' \
        '  page 3: PWG raster 150x150dpi sgray_8 1275x1650' \
        "  document: $received bytes received, $(stat -c %s "$SCRATCH/three.pwg") bytes inflated, 3 pages" \
        '  status successful-ok (0x0000)'
    # Page data would bring control bytes (a raster header is mostly zeros) and "RaS2".
    check_eq "the log holds no page data" "0 0" \
        "$(tr -d '\n\040-\176\200-\377' <"$1" | wc -c) $(grep -c RaS2 "$1")"
}
