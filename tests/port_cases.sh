# shellcheck shell=bash
# The port under a crowd, shared by tests/whole/printer_port.sh (the host build) and
# tests/wine/printer_port.sh (the exe under Wine), after tests/lib.sh and tools/cups/ready.sh.
# The script sets PORT, URI, CLIENTS (tests/port_clients.pl), EREADER (non-empty where the
# program has one, so that jobs end), start_printer (the printer on the case's MACHINE, its
# process PRINTER_PID) and stop_printer, then sources this. Each figure is printed and held to
# its goal: request heads past 100 lines or 64 KiB refused (431), a head a byte at a time
# closed 5 s after its first byte, a flood of header lines cut short without the printer
# keeping its memory; eight 60 MB documents at once keep it under 200 MB and it gives the
# memory back; with 300 idle connections and 40 sending a byte every 2 s open,
# Get-Printer-Attributes is answered within 1 s, and past its workers a client is refused at
# once rather than kept waiting. VT_SANITIZED=ON: the memory figures are printed, not held.
# status FIELD: a field of the printer's /proc status (VmRSS, VmHWM in KB; Threads).
status() { awk -v f="$1:" '$1 == f { print $2 }' "/proc/$PRINTER_PID/status"; }
figure() { echo "figure: $*"; }
printf '{\nOPERATION Get-Jobs\nGROUP operation-attributes-tag\n%s\n%s\n%s\n%s\n%s\n}\n' \
    'ATTR charset attributes-charset utf-8' 'ATTR naturalLanguage attributes-natural-language en' \
    'ATTR uri printer-uri $uri' 'ATTR keyword which-jobs all' \
    'ATTR keyword requested-attributes job-state' >"$SCRATCH/jobs.test"
# job_states: "COUNT STATE" of the printer's jobs.
job_states() {
    ipptool -tv "$URI" "$SCRATCH/jobs.test" | awk -F' = ' '/job-state \(enum\)/ { print $2 }' |
        sort | uniq -c | xargs
}

# ---- Request heads -------------------------------------------------------------------------
new_machine heads
start_printer
for entry in "200 60 200 header lines" "20 4000 80 KB in 20 header lines"; do
    read -r lines bytes what <<<"$entry"
    answer=$(perl "$CLIENTS" flood "$PORT" "$lines" "$bytes")
    check_eq "$what: refused" 431 "${answer##* }"
done
# A head sent a byte every 0.2 s: the time runs from its first byte, whatever comes after.
line=$(perl "$CLIENTS" trickle "$PORT" 0.2)
figure "a head sent a byte every 0.2 s: $line"
after=$(echo "$line" | sed -n 's/^closed after \([0-9.]*\) .*/\1/p')
check "a head a byte at a time is closed within 7 s" perl -e 'exit !($ARGV[0] ne "" && $ARGV[0] < 7)' "$after"
# F3's flood: 195 MiB of header lines of 100 bytes, four connections at once.
before=$(status VmRSS)
pids=()
for k in 1 2 3 4; do perl "$CLIENTS" flood "$PORT" 2044723 100 >"$MACHINE.flood$k" & pids+=($!); done
wait "${pids[@]}"
sent=$(awk '{ s += $2 } END { print s }' "$MACHINE".flood?)
figure "4 floods of 195 MiB of header lines: $((sent / 1024)) KiB sent in all before the" \
    "printer closed them; its memory $before KB before, $(status VmRSS) KB after, peak $(status VmHWM) KB"
check "the floods are cut short" test "$sent" -lt $((4 * 16 << 20))
check "no memory kept after the floods" test "$(status VmRSS)" -lt $((before + 16384))
check "and little taken during them" test "$(status VmHWM)" -lt $((before + 65536))
check "the printer answers after the floods" printer_answers "$URI"
stop_printer

# ---- Eight 60 MB documents at once -----------------------------------------------------------
# pages_written SIZE: how many page files the machine's events show written, SIZE bytes in all.
pages_written() {
    awk -v size="$1" '$1 == "WriteFile" && $2 ~ /PrinterJob/ { written[$2] += $3 }
        END { for (page in written) whole += written[page] == size; print whole + 0 }' \
        "$MACHINE/events.log"
}
# eight FORMAT FILE: on a fresh printer, eight Print-Jobs of FILE at once; each is taken, the
# printer's peak memory stays under 200 MB, and the jobs end, each page written whole (of
# PAGE_BYTES bytes, when given).
eight() {
    local format=$1 file=$2 size before answers pids=() k
    size=$(stat -c %s "$file")
    { perl "$VT_SOURCE/tests/ipp.pl" request 2.0 02 "$URI" "op:49:document-format=$format" &&
        cat "$file"; } >"$file.ipp"
    start_printer
    before=$(status VmHWM)
    for k in 1 2 3 4 5 6 7 8; do
        curl -s --max-time 300 -X POST -T "$file.ipp" -H 'Content-Type: application/ipp' \
            "http://127.0.0.1:$PORT/ipp/print" -o "$MACHINE.answer$k" &
        pids+=($!)
    done
    wait "${pids[@]}"
    answers=$(for k in 1 2 3 4 5 6 7 8; do od -An -tx1 -j2 -N2 "$MACHINE.answer$k" | tr -d ' \n'; echo; done | sort | uniq -c | xargs)
    figure "8 $format documents of $size bytes at once: the printer's peak memory $(status VmHWM) KB" \
        "($before KB before them), $(status VmRSS) KB once they are in"
    check_eq "each is taken" "8 0000" "$answers"
    # The sanitizers' allocator keeps what is freed for a while, to catch its use: their build
    # prints the figures but is not held to them.
    if [ "${VT_SANITIZED:-OFF}" != ON ]; then
        check "the peak stays under 200 MB" test "$(status VmHWM)" -lt 204800
        check "and the memory is given back" test "$(status VmRSS)" -lt $((before + 16384))
    fi
    # The jobs are printed one after the other (where the program has an e-reader).
    [ -z "$EREADER" ] ||
        check "the eight jobs end" wait_until 300 "the eight jobs" eval '[ "$(job_states)" = "8 completed" ]'
    [ -z "${PAGE_BYTES:-}" ] || [ ! -f "$MACHINE/events.log" ] ||
        check_eq "and each page was written whole" 8 "$(pages_written "$PAGE_BYTES")"
    stop_printer
}
# A JPEG of noise (it does not compress), 3800 x 3800 without subsampling: about 59 MB.
new_machine jpeg-documents
{ printf 'P6\n3800 3800\n255\n' && head -c $((3800 * 3800 * 3)) /dev/urandom; } |
    cjpeg -quality 100 -sample 1x1 >"$SCRATCH/big.jpg"
PAGE_BYTES=$(stat -c %s "$SCRATCH/big.jpg")
check "the JPEG is between 55 MB and 64 MiB ($PAGE_BYTES bytes)" \
    test "$PAGE_BYTES" -gt 55000000 -a "$PAGE_BYTES" -le $((64 << 20))
eight image/jpeg "$SCRATCH/big.jpg"
# A JPEG whose frame header comes after 1.1 MB of comments: found in its file, once written.
new_machine late-frame
start_printer
printf 'P5 16 16 255\n%s' "$(head -c 256 /dev/zero | tr '\0' x)" | cjpeg -quality 85 >"$SCRATCH/small.jpg"
perl -e 'local $/; my $j = <STDIN>; print substr($j, 0, 2), ("\xFF\xFE\xFF\xFF" . "c" x 65533) x 17,
    substr($j, 2)' <"$SCRATCH/small.jpg" >"$SCRATCH/late.jpg"
{ perl "$VT_SOURCE/tests/ipp.pl" request 2.0 02 "$URI" op:49:document-format=image/jpeg &&
    cat "$SCRATCH/late.jpg"; } >"$SCRATCH/late.ipp"
curl -s --max-time 60 --data-binary @"$SCRATCH/late.ipp" -H 'Content-Type: application/ipp' \
    "http://127.0.0.1:$PORT/ipp/print" -o "$SCRATCH/late.answer"
check_eq "a JPEG whose frame header comes after 1.1 MB is taken" 0000 \
    "$(od -An -tx1 -j2 -N2 "$SCRATCH/late.answer" | tr -d ' \n')"
[ ! -f "$MACHINE/events.log" ] ||
    check_eq "its page written whole" 1 "$(pages_written "$(stat -c %s "$SCRATCH/late.jpg")")"
stop_printer
# PWG raster of noise, 60 MB: two A4 pages at 300 dpi in colour, the largest the printer takes,
# and a strip.
new_machine raster-documents
perl "$CLIENTS" raster 2550 3508 3508 800 >"$SCRATCH/big.pwg"
PAGE_BYTES="" eight image/pwg-raster "$SCRATCH/big.pwg"

# ---- A crowd on the port -----------------------------------------------------------------
new_machine crowd
start_printer
perl "$VT_SOURCE/tests/ipp.pl" request 2.0 0b "$URI" >"$SCRATCH/gpa.ipp"
read -r _ asked _ answered _ slowest _ refused _ reopened < <(perl "$CLIENTS" crowd "$PORT" 300 40 12 "$SCRATCH/gpa.ipp")
figure "Get-Printer-Attributes with 300 idle and 40 slow connections open: $answered of $asked" \
    "answered, the slowest in $slowest s ($refused refused; the printer closed $reopened" \
    "crowding connections, each opened again); its threads $(status Threads)"
check_eq "every request answered" "$asked" "$answered"
check "each within 1 s" perl -e "exit !($slowest < 1)"
check "its threads bounded" test "$(status Threads)" -le 80
# More slow clients than workers: a request is answered or refused at once, never kept waiting.
read -r _ asked _ answered _ slowest _ refused _ < <(perl "$CLIENTS" crowd "$PORT" 0 100 8 "$SCRATCH/gpa.ipp")
figure "with 100 slow connections open: of $asked requests $answered answered (the slowest in" \
    "$slowest s) and $refused refused at once"
check_eq "each answered or refused" "$asked" "$((answered + refused))"
check "an answer within 1 s" perl -e "exit !($slowest < 1)"
check "the printer answers once the crowd has gone" wait_until 10 "the printer" printer_answers "$URI"
stop_printer
