#!/usr/bin/env bash
# The printer (host build) on machine folders, with real clients: ipptool's conformance tests,
# CUPS printing a three-page PDF through an IPP Everywhere queue to the simulated e-reader, and
# raw requests for every refusal. After each refusal the printer still serves and no page of
# the refused job is left. Environment as tests/lib.sh, and VT_PRINTER (the printer binary).
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
# shellcheck source=tools/cups/ready.sh
source "${VT_SOURCE:?}/tools/cups/ready.sh"
init curl gs ipptool cupsd lpadmin lpoptions lpstat lp pdfimages pdftoppm perl cjpeg
: "${VT_PRINTER:?}"
PORT=0 PRINTER_PID=""
IPPTOOL_DIR=/usr/share/cups/ipptool
URI() { echo "ipp://127.0.0.1:$PORT/ipp/print"; }

CUPSD_PID=""
cleanup() {
    stop_printer
    [ -z "$CUPSD_PID" ] || kill "$CUPSD_PID" 2>/dev/null
}
trap cleanup EXIT

# ereader: MACHINE gets an e-reader at E: with its documents folder.
ereader() {
    mkdir -p "$MACHINE/E/documents"
    printf '[drive E]\ntype = removable\nvendor = Kindle\nbus_type = 7\nremovable_media = 1\n%s\n' \
        "${1:-}" >"$MACHINE/machine.ini"
}

# A three-page PDF whose pages are grey levels 0.2, 0.5 and 0.8 (pixels of 51, 128 and 204), and
# the same as PWG raster (sgray_8, 150 dpi) made by Ghostscript.
printf '%%!PS\n<< /PageSize [612 792] >> setpagedevice\n%s' \
    '0.2 setgray 0 0 612 792 rectfill showpage 0.5 setgray 0 0 612 792 rectfill showpage
     0.8 setgray 0 0 612 792 rectfill showpage' >"$SCRATCH/three.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$SCRATCH/three.pdf" \
    "$SCRATCH/three.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r150 -dcupsColorSpace=18 \
    -dcupsBitsPerColor=8 -sOutputFile="$SCRATCH/three.pwg" "$SCRATCH/three.pdf" 2>/dev/null

# ---- CUPS prints a PDF through an IPP Everywhere queue -------------------------------------
# cups_case PRINTER_PORT CUPS_PORT: a private scheduler makes a queue on the printer and prints
# the three-page PDF to the e-reader. The queue is used only once CUPS has made its PPD from the
# printer's answers: a job sent before that goes unfiltered, and the raster-only printer refuses
# it. When the document does not arrive, job_fate says where it stopped.
cups_case() {
    local printer_port=$1 cups=127.0.0.1:$2 job pdf levels k jpeg
    new_machine cups
    ereader
    start_printer "$printer_port"
    CUPSD_PID=$(bash "$VT_SOURCE/tools/cups/start-cupsd.sh" "$SCRATCH/cupsd" "$2") ||
        { fail "no private CUPS scheduler" && stop_printer && return; }
    check "lpadmin -m everywhere" lpadmin -h "$cups" -p vt -E -v "$(URI)" -m everywhere
    check "the queue has its PPD before the first job" wait_for_queue "$cups" vt
    job=$(lp -h "$cups" -d vt "$SCRATCH/three.pdf" | sed -n 's/^request id is vt-\([0-9]*\) .*/\1/p')
    # CUPS names the job after its file: the document is named and titled so.
    pdf=$MACHINE/E/documents/three.pdf
    if [ -z "$job" ]; then
        fail "lp did not queue the job"
    elif ! wait_until 60 "the document on the e-reader" \
        eval '[ -s "$pdf" ] && [ -z "$(spool_left "$SPOOL")" ]'; then
        fail "$(job_fate "$job")"
    fi
    [ -s "$pdf" ] || { stop_cups && stop_printer && return; }
    events_in_order \
        'MoveFileExA C:\Windows\VellumTransit\PrinterJob1-1.tmp C:\Windows\VellumTransit\VellumTransit1-1.jpg ok' \
        'MoveFileExA C:\Windows\VellumTransit\PrinterJob1-2.tmp C:\Windows\VellumTransit\VellumTransit1-2.jpg ok' \
        'MoveFileExA C:\Windows\VellumTransit\PrinterJob1-3.tmp C:\Windows\VellumTransit\VellumTransit1-3.jpg ok' \
        'ReleaseMutex Global\VellumTransit.Spool ok' 'CreateProcessA vellumtransit.exe ok' \
        'CopyFileA VellumTransit.pdf E:\documents\three.pdf.partial ok' \
        'WaitForSingleObject vellumtransit.exe ok'
    check_eq "pages" 3 "$(pdfinfo "$pdf" | awk '/^Pages:/ { print $2 }')"
    check_eq "title" three.pdf "$(pdfinfo "$pdf" | sed -n 's/^Title: *//p')"
    rm -rf "$MACHINE.img" && mkdir "$MACHINE.img" && pdfimages -j "$pdf" "$MACHINE.img/p"
    for k in 0 1 2; do
        jpeg=$MACHINE.img/p-00$k.jpg
        check_eq "page $((k + 1)): its title, then a baseline JFIF JPEG" \
            "VellumTransit title: three.pdf|377330377340\0020JFIF\0" "$(titled_head "$jpeg")"
        check "page $((k + 1)) has no progressive frame" \
            test -z "$(od -An -tx1 -v "$jpeg" | tr -d '\n' | grep -o ' ff c2')"
    done
    levels=""
    for k in 1 2 3; do
        pdftoppm -r 10 -f $k -l $k -gray -singlefile "$pdf" "$MACHINE.grey"
        levels+="$(tail -c 1 "$MACHINE.grey.pgm" | od -An -tu1 | awk '{ print int(($1 + 5) / 10) }') "
    done
    check_eq "the pages in order, by their grey" "5 13 20 " "$levels"
    holds "$SPOOL" PrinterJobNumber.txt
    stop_cups
    stop_printer
}
stop_cups() {
    [ -z "$CUPSD_PID" ] || { kill "$CUPSD_PID" && wait "$CUPSD_PID" 2>/dev/null; }
    CUPSD_PID=""
}

# job_fate JOB: why CUPS job JOB's document never reached the e-reader, from the scheduler's log
# and the machine's events: sent raw, refused, lost by the printer, or lost after the hand-over.
job_fate() {
    local log=$SCRATCH/cupsd/log/error_log
    if ! grep -q "\[Job $1\] Started backend" "$log"; then
        echo "CUPS never sent job $1 to the printer: $(grep "\[Job $1\]" "$log" | tail -1)"
    elif ! grep -q "\[Job $1\] Started filter" "$log"; then
        echo "CUPS sent job $1 raw, unfiltered (the queue had no PPD when the job came): the" \
            "printer refused a PDF it never advertised; no job was lost by the printer"
    elif grep -q "\[Job $1\] Unable to add document" "$log"; then
        echo "the printer refused the raster CUPS made of job $1: $(cat "$MACHINE.printer")"
    elif ! grep -q '^MoveFileExA .*VellumTransit1-1.jpg ok' "$MACHINE/events.log"; then
        echo "the printer took job $1 from CUPS but never handed its pages over: lost by the printer"
    else
        echo "the printer handed job $1's pages over, but no document reached the e-reader"
    fi
}

# Alone (VT_PRINTER_CASES=cups), on ports of its own so that it can run beside the whole test.
if [ "${VT_PRINTER_CASES:-all}" = cups ]; then
    cups_case 28734 28800
    finish
fi

# ---- ipptool's conformance tests -----------------------------------------------------------
new_machine conformance
ereader
start_printer 28631
check "get-printer-attributes.test" ipptool -t "$(URI)" "$IPPTOOL_DIR/get-printer-attributes.test" \
    >"$MACHINE.gpa"
check "ipp-2.0.test" ipptool -t -f "$SCRATCH/three.pwg" -d filetype=image/pwg-raster "$(URI)" \
    "$IPPTOOL_DIR/ipp-2.0.test" >"$MACHINE.ipp20" 2>&1
grep -E 'FAIL|EXPECTED|GOT' "$MACHINE.gpa" "$MACHINE.ipp20" >&2
curl -s "http://127.0.0.1:$PORT/icon.png" -o "$MACHINE.icon"
check_eq "the icon that printer-icons names" "$(printf '\x89PNG')" "$(head -c 4 "$MACHINE.icon")"

# One printer per machine; a taken port or a missing spool folder end it too, with exit code 1.
CASE=one-instance
rc=0 && VELLUMTRANSIT_MACHINE=$MACHINE timeout 10 "$VT_PRINTER" --port 28632 \
    >/dev/null 2>"$MACHINE.second" || rc=$?
check_eq "a second printer's exit code" 1 "$rc"
check_eq "and what it says" "Another VellumTransit printer is already running on this machine." \
    "$(cat "$MACHINE.second")"
stop_printer
new_machine port-taken
start_printer 28633
other=$SCRATCH/other && rm -rf "$other" && mkdir -p "$other/C/Windows/VellumTransit"
rc=0 && VELLUMTRANSIT_MACHINE=$other timeout 10 "$VT_PRINTER" --port 28633 \
    >/dev/null 2>"$MACHINE.second" || rc=$?
check_eq "exit code on a taken port" "1 Port 28633 on 127.0.0.1 is in use." \
    "$rc $(cat "$MACHINE.second")"
stop_printer
rm -rf "$SPOOL"
rc=0 && VELLUMTRANSIT_MACHINE=$MACHINE timeout 10 "$VT_PRINTER" --port 28633 \
    >/dev/null 2>"$MACHINE.second" || rc=$?
check_eq "exit code without a spool folder" \
    "1 The spool folder C:\\Windows\\VellumTransit is missing." "$rc $(cat "$MACHINE.second")"

# ---- CUPS prints a PDF through an IPP Everywhere queue -------------------------------------
cups_case 28634 28700

# ---- An A4 job and a Letter job through CUPS keep their shape ------------------------------
# Each page is a circle of 200 pt radius on its own paper. The printer runs without the program
# beside it, so that the pages wait in the spool to be compared; the program then makes a PDF
# of each job: an A4 page of its own size and the Letter page as ever, each image grey in one
# component at the same resolution across and down, the circle round, each JPEG unchanged.
# round PDF PAGE: "W H" of the dark pixels' bounding box on the page rendered at 40 dpi.
round_box() {
    pdftoppm -r 40 -gray -f "$2" -l "$2" -singlefile "$1" "$MACHINE.circle" || return
    local w h
    read -r w h < <(sed -n 2p "$MACHINE.circle.pgm")
    tail -c $((w * h)) "$MACHINE.circle.pgm" | od -An -tu1 -v -w"$w" | awk '
        { for (x = 1; x <= NF; ++x) if ($x < 128) {
            if (!n++ || x < l) l = x; if (x > r) r = x; if (!t) t = NR; b = NR } }
        END { print r - l + 1, b - t + 1 }'
}
shapes_case() {
    local cups=127.0.0.1:$2 alone=$SCRATCH/alone paper job pdf k list name w h
    new_machine shapes
    ereader
    rm -rf "$alone" && mkdir -p "$alone" && cp "$VT_PRINTER" "$alone/"
    VT_PRINTER=$alone/${VT_PRINTER##*/} start_printer "$1"
    CUPSD_PID=$(bash "$VT_SOURCE/tools/cups/start-cupsd.sh" "$SCRATCH/cupsd" "$2") ||
        { fail "no private CUPS scheduler" && stop_printer && return; }
    check "lpadmin -m everywhere" lpadmin -h "$cups" -p vt -E -v "$(URI)" -m everywhere
    check "the queue has its PPD" wait_for_queue "$cups" vt
    for paper in "1 A4 595 842" "2 Letter 612 792"; do
        read -r k name w h <<<"$paper"
        printf '%%!PS\n<< /PageSize [%s %s] >> setpagedevice\n%s %s 200 0 360 arc 6 setlinewidth stroke showpage\n' \
            "$w" "$h" $((w / 2)) $((h / 2)) >"$SCRATCH/$name.ps"
        gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$SCRATCH/$name.pdf" \
            "$SCRATCH/$name.ps"
        job=$(lp -h "$cups" -d vt -o media="$name" "$SCRATCH/$name.pdf" |
            sed -n 's/^request id is vt-\([0-9]*\) .*/\1/p')
        [ -n "$job" ] || fail "lp did not queue the $name job"
        wait_until 60 "the $name page in the spool" test -f "$SPOOL/VellumTransit$k-1.jpg" ||
            fail "the $name job: $(job_fate "$job")"
    done
    wait_until 30 "CUPS done" eval '[ -z "$(lpstat -h "$cups" -o vt 2>/dev/null)" ]' || fail "CUPS jobs left"
    stop_cups
    stop_printer
    rm -rf "$MACHINE.pages" && mkdir "$MACHINE.pages" && cp "$SPOOL"/VellumTransit*.jpg "$MACHINE.pages/"
    check_eq "the pages waiting" "VellumTransit1-1.jpg VellumTransit2-1.jpg" \
        "$(cd "$MACHINE.pages" && echo *)"
    run_vt
    # Each job is a document of its own, named after its file as CUPS names the job.
    for paper in "1 A4 595 84[12]" "2 Letter 612 792"; do
        read -r k name w h <<<"$paper"
        pdf=$MACHINE/E/documents/$name.pdf
        check "qpdf --check $name.pdf" qpdf --check "$pdf" >/dev/null
        check "pdfinfo: $name.pdf is one $name page" eval "pdfinfo '$pdf' | grep -Eq '^Pages: +1\$' &&
            pdfinfo -f 1 -l 1 '$pdf' | grep -Eq '^Page +1 size: +$w x $h pts'"
        rm -rf "$MACHINE.img" && mkdir "$MACHINE.img" && pdfimages -j "$pdf" "$MACHINE.img/p"
        mapfile -t list < <(pdfimages -list "$pdf" | awk 'NR > 2 { print $6, $7, $13 == $14, $13 }')
        check "$name.pdf's page is VellumTransit$k-1.jpg, byte for byte" \
            cmp -s "$MACHINE.pages/VellumTransit$k-1.jpg" "$MACHINE.img/p-000.jpg"
        check_eq "$name.pdf: grey, one component, x ppi = y ppi = 300" "gray 1 1 300" "${list[0]:-}"
        read -r w h < <(round_box "$pdf" 1)
        check "$name.pdf: the circle is round (${w} x ${h} pixels)" \
            awk -v w="$w" -v h="$h" 'BEGIN { exit !(w > 200 && (w - h) ^ 2 <= 4) }'
    done
    check_eq "the first page's frame" "2480 3508 gray 8" "$(jpeg_frame "$MACHINE.pages/VellumTransit1-1.jpg")"
}
shapes_case 28638 28702

# ---- Refusals ------------------------------------------------------------------------------
# byte N...: each N as one byte.
byte() { for n; do printf "\\x$(printf %02x "$n")"; done; }
# field TAG NAME VALUE: one attribute (TAG in hex; NAME and VALUE plain text).
field() {
    printf "\\x$1" && byte $((${#2} >> 8)) $((${#2} & 255)) && printf %s "$2"
    byte $((${#3} >> 8)) $((${#3} & 255)) && printf %s "$3"
}
# ipp_head OPERATION [FORMAT]: a request's header and operation group, up to its end tag.
ipp_head() {
    printf "\\x02\\x00\\x00\\x$1\\x00\\x00\\x00\\x01\\x01"
    field 47 attributes-charset utf-8
    field 48 attributes-natural-language en
    field 45 printer-uri "$(URI)"
    [ -z "${2:-}" ] || field 49 document-format "$2"
}
# post FILE [CURL_ARG...]: sends FILE as one request; prints the response's status code in hex.
post() {
    # A job of 10,000 pages is answered only once every page is written (then refused), which
    # takes a minute or more on a busy machine.
    rm -f "$1.response" # an earlier request's answer must never pass for this one's
    curl -s --max-time 300 --data-binary @"$1" -H 'Content-Type: application/ipp' "${@:2}" \
        "http://127.0.0.1:$PORT/ipp/print" -o "$1.response" || return 0
    od -An -tx1 -j2 -N2 "$1.response" | tr -d ' \n'
}
# print_document FILE FORMAT: Print-Job of FILE; prints the status code.
print_document() {
    { ipp_head 02 "$2" && printf '\x03' && cat "$1"; } >"$1.request"
    post "$1.request"
}
# jobs: "ID STATE MESSAGE" of every job, one a line.
printf '{\nOPERATION Get-Jobs\nGROUP operation-attributes-tag\n%s\n%s\n%s\n%s\n%s\n}\n' \
    'ATTR charset attributes-charset utf-8' 'ATTR naturalLanguage attributes-natural-language en' \
    'ATTR uri printer-uri $uri' 'ATTR keyword which-jobs all' \
    'ATTR keyword requested-attributes job-id,job-state,job-state-message' >"$SCRATCH/jobs.test"
jobs() {
    ipptool -tv "$(URI)" "$SCRATCH/jobs.test" | awk -F' = ' '
        /job-id \(integer\)/ { id = $2 } /job-state \(enum\)/ { state = $2 }
        /job-state-message \(/ { print id, state, $2 }'
}
# put32 FILE OFFSET VALUE: a big-endian 32-bit field of a raster page header.
put32() {
    byte $(($3 >> 24 & 255)) $(($3 >> 16 & 255)) $(($3 >> 8 & 255)) $(($3 & 255)) |
        dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
# Page headers from Ghostscript's: one of the program's pages, and a small page of 4 x 3 whose
# lines are one run of grey (a valid page: the header, three lines of four pixels).
dd if="$SCRATCH/three.pwg" of="$SCRATCH/letter.hdr" bs=1 skip=4 count=1796 status=none
cp "$SCRATCH/letter.hdr" "$SCRATCH/small.hdr"
put32 "$SCRATCH/small.hdr" 372 4 && put32 "$SCRATCH/small.hdr" 376 3
put32 "$SCRATCH/small.hdr" 392 4
page() { cat "$SCRATCH/small.hdr" && printf '\x02\x03\x80'; }
# raster NAME BAD_PAGE...: a document of a good page, then the bad one.
raster() { { printf 'RaS2' && page && cat; } >"$SCRATCH/$1.pwg"; }

new_machine refusals
ereader
start_printer 28635 --client-timeout 2
cp "$SCRATCH/small.hdr" "$SCRATCH/600dpi.hdr" && put32 "$SCRATCH/600dpi.hdr" 276 600
put32 "$SCRATCH/600dpi.hdr" 280 600
cp "$SCRATCH/letter.hdr" "$SCRATCH/wide.hdr" && put32 "$SCRATCH/wide.hdr" 372 1276
put32 "$SCRATCH/wide.hdr" 392 1276
raster 600dpi < <(cat "$SCRATCH/600dpi.hdr" && printf '\x02\x03\x80')
raster wide < <(cat "$SCRATCH/wide.hdr")
raster run < <(cat "$SCRATCH/small.hdr" && printf '\x00\x04\x80')
raster repeat < <(cat "$SCRATCH/small.hdr" && printf '\x03\x03\x80')
raster cut < <(cat "$SCRATCH/small.hdr" && printf '\x01\x03\x80')
perl -e 'local $/; my $page = <STDIN>; print "RaS2", $page x 10001' < <(page) \
    >"$SCRATCH/pages.pwg"
printf 'P5 16 16 255\n%s' "$(head -c 256 /dev/zero | tr '\0' 'x')" >"$SCRATCH/grey.pgm"
cjpeg -arithmetic "$SCRATCH/grey.pgm" >"$SCRATCH/arithmetic.jpg"
cjpeg -quality 85 "$SCRATCH/grey.pgm" >"$SCRATCH/baseline.jpg"
{ ipp_head 0b && printf '\x7f\x00\x01x\x00\x04\x00\x00\x00\x01\x03'; } >"$SCRATCH/tag.ipp"
{ ipp_head 0b && printf '\x21\x00\x01x\x00\x03\x00\x00\x01\x03'; } >"$SCRATCH/length.ipp"
{ ipp_head 0b && printf '\x21\x00\x01x\x00\x04\x00\x00\x00'; } >"$SCRATCH/short.ipp"
{
    ipp_head 0b
    for k in 1 2 3; do field 41 "text$k" "$(head -c 22000 /dev/zero | tr '\0' x)"; done
    printf '\x03'
} >"$SCRATCH/large.ipp"
for entry in "tag.ipp 0400 a bad tag" "length.ipp 0400 an integer of 3 bytes" \
    "short.ipp 0400 a request cut short" "large.ipp 0408 past 64 KiB of attributes"; do
    read -r file status what <<<"$entry"
    check_eq "$what" "$status" "$(post "$SCRATCH/$file")"
done
for entry in "600dpi image/pwg-raster 0411 1" "wide image/pwg-raster 0411 1" \
    "run image/pwg-raster 0411 1" "repeat image/pwg-raster 0411 1" \
    "cut image/pwg-raster 0411 1" "pages image/pwg-raster 0408 10000" \
    "arithmetic image/jpeg 0411 0" "pages application/pdf 040a 0"; do
    read -r name format status written <<<"$entry"
    file=$SCRATCH/$name.pwg && [ -f "$file" ] || file=$SCRATCH/$name.jpg
    check_eq "$name ($format)" "$status" "$(print_document "$file" "$format")"
    check_eq "$name: pages written, then deleted" "$written $written" \
        "$(grep -c '^CreateFileA C:.*PrinterJob.*CREATE_NEW ok' "$MACHINE/events.log") $(
            grep -c '^DeleteFileA C:.*PrinterJob.* ok' "$MACHINE/events.log")"
    holds "$SPOOL"
    : >"$MACHINE/events.log"
done
{ ipp_head 02 image/pwg-raster && field 44 compression compress && printf '\x03'; } \
    >"$SCRATCH/gzip.ipp"
check_eq "an unsupported compression" 040f "$(post "$SCRATCH/gzip.ipp")"

# A client that goes silent mid-document, and one that goes away: the job is aborted and its
# page deleted. (The printer runs with a time limit of 2 s here.)
for how in silent gone; do
    exec 3<>/dev/tcp/127.0.0.1/$PORT
    printf 'POST /ipp/print HTTP/1.1\r\nHost: x\r\nContent-Type: application/ipp\r\n%s\r\n\r\n' \
        'Content-Length: 100000' >&3
    { ipp_head 02 image/pwg-raster && printf '\x03RaS2' && page && page | head -c 100; } >&3
    [ "$how" = silent ] && sleep 3
    exec 3>&-
    for _ in {1..50}; do grep -q '^DeleteFileA C:.*PrinterJob' "$MACHINE/events.log" && break; sleep 0.1; done
    check_eq "a client $how: its page written, then deleted" "1 1" \
        "$(grep -c '^CreateFileA C:.*PrinterJob.*ok' "$MACHINE/events.log") $(
            grep -c '^DeleteFileA C:.*PrinterJob.* ok' "$MACHINE/events.log")"
    : >"$MACHINE/events.log"
done
holds "$SPOOL"

# A cancelled job: two pages of a first document wait, then go with the job.
{ printf 'RaS2' && page && page; } >"$SCRATCH/two.pwg"
# created_and_sent: the ipptool steps that create a job and send it a first document.
created_and_sent() {
    cat <<'TEST'
{ OPERATION Create-Job GROUP operation-attributes-tag ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en ATTR uri printer-uri $uri
  STATUS successful-ok EXPECT job-id }
{ OPERATION Send-Document GROUP operation-attributes-tag ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en ATTR uri printer-uri $uri
  ATTR integer job-id $job-id ATTR boolean last-document false
  ATTR mimeMediaType document-format image/pwg-raster FILE $filename STATUS successful-ok }
TEST
}
{ created_and_sent && cat <<'TEST'
{ OPERATION Cancel-Job GROUP operation-attributes-tag ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en ATTR uri printer-uri $uri
  ATTR integer job-id $job-id STATUS successful-ok }
TEST
} >"$SCRATCH/cancel.test"
check "create, send, cancel" ipptool -t -f "$SCRATCH/two.pwg" "$(URI)" "$SCRATCH/cancel.test" \
    >"$MACHINE.cancel"
check_eq "its two pages written, then deleted" "2 2" \
    "$(grep -c '^CreateFileA C:.*PrinterJob.*ok' "$MACHINE/events.log") $(
        grep -c '^DeleteFileA C:.*PrinterJob.* ok' "$MACHINE/events.log")"
holds "$SPOOL"

# A baseline JPEG is kept as it is (sent in chunks here: a body of unknown length); and the
# printer still serves after everything above.
{ ipp_head 02 image/jpeg && printf '\x03' && cat "$SCRATCH/baseline.jpg"; } >"$SCRATCH/jpeg.ipp"
check_eq "a baseline JPEG, chunked" 0000 "$(post "$SCRATCH/jpeg.ipp" -H 'Transfer-Encoding: chunked')"
for _ in {1..100}; do [ -s "$MACHINE/E/documents/VellumTransit.pdf" ] && break; sleep 0.1; done
rm -rf "$MACHINE.img" && mkdir "$MACHINE.img"
pdfimages -j "$MACHINE/E/documents/VellumTransit.pdf" "$MACHINE.img/p"
check "the JPEG is the page, byte for byte" cmp -s "$SCRATCH/baseline.jpg" "$MACHINE.img/p-000.jpg"
check "get-printer-attributes.test after the refusals" \
    ipptool -t "$(URI)" "$IPPTOOL_DIR/get-printer-attributes.test" >/dev/null
jobs >"$MACHINE.jobs"
check_eq "the jobs" "$(printf '%s\n' \
    '1 aborted Refused: a page header that this printer does not support (resolution, colour space, bits, colour order or bytes per line).' \
    '2 aborted Refused: a page larger than Letter and A4.' \
    '3 aborted Refused: a run of pixels that crosses the end of its line.' \
    '4 aborted Refused: a line repeat that crosses the end of the page.' \
    '5 aborted Refused: the document ends inside a page.' \
    '6 aborted The document has more than 10000 pages.' \
    '7 aborted Refused: not a JPEG a page can be made of.' \
    '8 aborted The document was cut off.' '9 aborted The document was cut off.' \
    '10 canceled Cancelled.' '11 completed Media in Drive E has been ejected safely.')" "$(cat "$MACHINE.jobs")"
stop_printer

# ---- The HTTP side under misuse; a job's path; a job closed by an empty Send-Document -------
# A body that is not the printer's is refused unread and its connection closed, so the printer's
# peak memory stays small; idle connections neither keep a request waiting nor stay open long;
# attributes sent a byte a chunk cost little time (they are not parsed again for every byte).
new_machine http
ereader
start_printer 28637
peak() { awk '/^VmHWM/ { print $2 }' "/proc/$PRINTER_PID/status"; }
ticks() { awk '{ print $14 + $15 }' "/proc/$PRINTER_PID/stat"; }
before=$(peak)
for request in "POST /x" "GET /icon.png" "PUT /ipp/print" "DELETE /"; do
    exec 3<>/dev/tcp/127.0.0.1/$PORT
    printf '%s HTTP/1.1\r\nHost: x\r\nContent-Type: application/ipp\r\n%s\r\n\r\n' "$request" \
        'Content-Length: 200000000' >&3
    timeout 20 head -c 200000000 /dev/zero >&3 2>/dev/null
    exec 3>&-
done
exec 3<>/dev/tcp/127.0.0.1/$PORT # a request line that never ends
{ printf 'GET /' && timeout 20 head -c 200000000 /dev/zero | tr '\0' x; } >&3 2>/dev/null
exec 3>&-
check "200 MB bodies elsewhere and a line without end: the peak memory grew by $(($(peak) - before)) KB" \
    test $(($(peak) - before)) -lt 32768
for entry in "POST /x 404" "GET /icon.png 400" "PUT /ipp/print 400" "POST /ipp/print/x 404" \
    "POST /ipp/print 400 application/ipp-x" "GET / 200" "POST /ipp/print/1 200 application/ipp"; do
    read -r method path status type <<<"$entry"
    body=(--data-binary @"$SCRATCH/gzip.ipp") && [ "$path" != / ] || body=() # / without one
    check_eq "$method $path ${type:-}" "$status" "$(curl -s -o "$SCRATCH/answer" -w '%{http_code}' \
        -X "$method" "${body[@]}" -H "Content-Type: ${type:-text/plain}" "http://127.0.0.1:$PORT$path")"
done
check_eq "the IPP answer on a job's path" 040f "$(od -An -tx1 -j2 -N2 "$SCRATCH/answer" | tr -d ' \n')"
idle=()
for _ in {1..8}; do exec {fd}<>/dev/tcp/127.0.0.1/$PORT && idle+=("$fd"); done
check "a request with 8 connections idle" curl -sf --max-time 3 -o /dev/null "http://127.0.0.1:$PORT/"
check "an idle connection is closed within seconds" timeout 8 cat <&"${idle[0]}"
for fd in "${idle[@]}"; do exec {fd}>&-; done
{
    ipp_head 0b
    perl -e 'print pack("Cn/a*n/a*", 0x41, "text$_", "x" x 12) for 1 .. 2700'
    printf '\x03'
} | perl -e 'local $/; print map({ "1\r\n$_\r\n" } split //, <STDIN>), "0\r\n\r\n"' \
    >"$SCRATCH/bytes.chunked"
used=$(ticks)
exec 3<>/dev/tcp/127.0.0.1/$PORT
{
    printf 'POST /ipp/print HTTP/1.1\r\nHost: x\r\nContent-Type: application/ipp\r\n%s\r\n\r\n' \
        'Transfer-Encoding: chunked' && cat "$SCRATCH/bytes.chunked"
} >&3
timeout 30 head -c 4 <&3 >/dev/null
exec 3>&-
check "2700 attributes a byte a chunk: $(($(ticks) - used)) ticks of the printer's time" \
    test $(($(ticks) - used)) -lt 100

# After its document, a job takes no second one, and a last Send-Document without data closes
# it: its pages are printed.
{ created_and_sent && cat <<'TEST'
{ OPERATION Send-Document GROUP operation-attributes-tag ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en ATTR uri printer-uri $uri
  ATTR integer job-id $job-id ATTR boolean last-document true
  ATTR mimeMediaType document-format image/pwg-raster FILE $filename
  STATUS server-error-multiple-document-jobs-not-supported }
{ OPERATION Send-Document GROUP operation-attributes-tag ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en ATTR uri printer-uri $uri
  ATTR integer job-id $job-id ATTR boolean last-document true STATUS successful-ok }
TEST
} >"$SCRATCH/close.test"
check "create, send, send a second, close by an empty send" \
    ipptool -t -f "$SCRATCH/two.pwg" "$(URI)" "$SCRATCH/close.test" >"$MACHINE.close"
pdf=$MACHINE/E/documents/VellumTransit.pdf
for _ in {1..100}; do [ -s "$pdf" ] && break; sleep 0.1; done
check_eq "its pages on the e-reader" 2 "$(pdfinfo "$pdf" 2>&1 | awk '/^Pages:/ { print $2 }')"
stop_printer

# ---- Faults of the platform on the printer's way ------------------------------------------
# The program cannot be started: the pages wait in the spool for the next run. A rename or a
# write fails: nothing of the job stays.
for entry in "CreateProcessA 0000 VellumTransit1-1.jpg VellumTransit1-2.jpg PrinterJobNumber.txt" \
    "MoveFileExA:2 0000 PrinterJobNumber.txt" "WriteFile:2 0500" "CreateFileA:1 0500"; do
    read -r fault status left <<<"$entry"
    new_machine "fault-${fault%%:*}"
    ereader "$(printf '[faults]\n%s = %s' "${fault%%:*}" "$(echo "$fault" | sed 's/^[^:]*:\{0,1\}//;s/^$/1/')")"
    start_printer 28636
    check_eq "the job's status" "$status" "$(print_document "$SCRATCH/two.pwg" image/pwg-raster)"
    for _ in {1..100}; do jobs | grep -qv ' processing\| pending' && break; sleep 0.1; done
    # shellcheck disable=SC2086
    holds "$SPOOL" $left
    jobs >"$MACHINE.jobs"
    stop_printer
done
check_eq "the program could not be started" \
    "1 completed The pages wait in the spool folder: the program could not be started (error 2)." \
    "$(cat "$SCRATCH/fault-CreateProcessA.jobs")"

# ---- An accepted job outlives the printer ---------------------------------------------------
# The printer dies at the start of the hand-over (its first rename), after the job was noted:
# started again, it hands the job over, and the document reaches the e-reader whole, once.
new_machine killed-printer
ereader "$(printf '[faults]\nMoveFileExA = 1:crash')"
start_printer 28637
print_document "$SCRATCH/two.pwg" image/pwg-raster >/dev/null
wait_until 30 "the printer's end" eval '! kill -0 "$PRINTER_PID" 2>/dev/null'
PRINTER_PID=""
holds "$SPOOL" PrinterJob1-1.tmp PrinterJob1-2.tmp PrinterJob1.job PrinterJobNumber.txt.partial
ereader
start_printer 28637
pdf=$MACHINE/E/documents/VellumTransit.pdf
check "the job after the restart" wait_until 60 "the document on the e-reader" \
    eval '[ -s "$pdf" ] && [ -z "$(spool_left "$SPOOL")" ]'
check_eq "its pages, once" "2 1" "$(pdfinfo "$pdf" 2>&1 | awk '/^Pages:/ { print $2 }') $(ls "$MACHINE/E/documents" | wc -l)"
check_eq "it keeps its number" "1 completed Media in Drive E has been ejected safely." "$(jobs)"
stop_printer
finish
