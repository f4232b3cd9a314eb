# shellcheck shell=bash
# Shared by tests/whole (the host binary on machine folders) and tests/wine (the exe under Wine
# beside the host build). A script sources this, calls init or wine_init and ends with finish:
# "N passed, M failed", non-zero on failure. Environment: VT_BIN (host binary, vt_testpage
# beside it), VT_SOURCE (repository), VT_BUILD (scratch, Wine prefix), for Wine VT_EXE.
set -uo pipefail
PASSED=0 FAILED=0 CASE="" EXE_SPOOL=""

fail() { FAILED=$((FAILED + 1)) && echo "FAIL [$CASE] $*" >&2; }
check() { if "${@:2}"; then ((++PASSED)); else fail "$1"; fi; } # check DESCRIPTION COMMAND...
check_eq() { if [ "$2" == "$3" ]; then ((++PASSED)); else fail "$1: expected '$2', got '$3'"; fi; }
# check_bytes DESCRIPTION EXPECTED_FILE ACTUAL_FILE: equal byte for byte.
check_bytes() {
    cmp -s "$2" "$3" && ((++PASSED)) && return
    fail "$1" && diff <(cat -v "$2") <(cat -v "$3") >&2
}
finish() {
    [ -z "$EXE_SPOOL" ] || wineserver -k >/dev/null 2>&1
    echo "$PASSED passed, $FAILED failed" && exit $((FAILED > 0))
}

# init TOOL...: checks the environment and the tools, and empties the script's SCRATCH folder.
init() {
    : "${VT_BIN:?}" "${VT_SOURCE:?}" "${VT_BUILD:?}"
    local tool
    for tool in awk cjpeg cmp od "$@"; do
        command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2 && exit 2; }
    done
    # VT_SCRATCH_NAME: a second variant of a script running beside the first gets its own.
    SCRATCH=$VT_BUILD/script-tmp/${VT_SCRATCH_NAME:-$(basename "$0" .sh)}
    rm -rf "$SCRATCH" && mkdir -p "$SCRATCH"
    # The printer's scripts use fixed loopback ports: the same script of a second build tree
    # (or worktree) on this machine waits for the first instead of fighting it for the ports.
    exec 9>"${TMPDIR:-/tmp}/vellumtransit-test-$(id -u)-$(basename "$SCRATCH").lock"
    flock -w 900 9 || { echo "the same test of another build tree held its lock for 15 min" >&2 && exit 2; }
}

# wine_init: init, a private Wine prefix made once in VT_BUILD, and a server kept up for the
# script (one per run costs seconds; finish ends it). EXE_SPOOL is the prefix's spool.
wine_init() {
    init perl qpdf wineserver
    WINE=${VT_WINE:-/usr/lib/wine/wine64}
    [ -x "$WINE" ] || WINE=$(command -v wine64) || { echo "missing tool: wine64" >&2 && exit 2; }
    export WINEPREFIX=$VT_BUILD/wineprefix WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" # no installer prompts
    unset DISPLAY WAYLAND_DISPLAY
    if [ ! -f "$WINEPREFIX/.vt-ready" ]; then
        rm -rf "$WINEPREFIX"
        if ! timeout 300 "$WINE" wineboot -i >"$SCRATCH/boot.log" 2>&1 || ! timeout 60 wineserver -w
        then tail -20 "$SCRATCH/boot.log" >&2 && exit 2; fi
        touch "$WINEPREFIX/.vt-ready"
    fi
    wineserver -p60 </dev/null >/dev/null 2>&1
    EXE_SPOOL=$WINEPREFIX/drive_c/windows/VellumTransit
}

# new_machine NAME: the case NAME, on a fresh MACHINE with an empty SPOOL (and EXE_SPOOL).
new_machine() {
    CASE=$1 MACHINE=$SCRATCH/$1 SPOOL=$SCRATCH/$1/C/Windows/VellumTransit
    rm -rf "$MACHINE" && mkdir -p "$SPOOL"
    if [ -n "$EXE_SPOOL" ]; then rm -rf "$EXE_SPOOL" && mkdir -p "$EXE_SPOOL"; fi
}

# page_set SET [COUNT]: prints the folder of tests/fixtures/make_pages.sh's set, made once.
page_set() {
    local folder=$SCRATCH/pages-$1${2:+-$2}
    [ -d "$folder" ] || bash "$VT_SOURCE/tests/fixtures/make_pages.sh" "${VT_BIN%/*}/vt_testpage" \
        "$folder" "$@" >/dev/null || echo "make_pages.sh $* failed" >&2
    echo "$folder"
}

# spool FILE...: copies the files into the spool (and the exe's).
# titled_page JPEG TITLE OUT: the page as the printer spools a page of a job named TITLE: its
# title in a comment segment right after the JFIF segment (JPEG is a JFIF file).
titled_page() {
    local text="VellumTransit title: $2" length jfif
    length=$(($(printf %s "$text" | wc -c) + 2))
    jfif=$((4 + $(od -An -tu1 -j4 -N2 "$1" | awk '{ print $1 * 256 + $2 }')))
    { head -c "$jfif" "$1" && printf "\\xff\\xfe\\x$(printf %02x $((length >> 8)))\\x$(printf %02x $((length & 255)))" &&
        printf %s "$text" && tail -c +$((jfif + 1)) "$1"; } >"$3"
}
# titled_head JPEG: the page's title comment after its JFIF segment (its text) and, as od -c
# shows them, the page's first 11 bytes (a JFIF page: the start of image and its APP0 segment's
# start).
titled_head() {
    local length jfif
    jfif=$((4 + $(od -An -tu1 -j4 -N2 "$1" | awk '{ print $1 * 256 + $2 }')))
    length=$(od -An -tu1 -j$((jfif + 2)) -N2 "$1" | awk '{ print $1 * 256 + $2 }')
    printf '%s|%s' "$(tail -c +$((jfif + 5)) "$1" | head -c $((length - 2)))" \
        "$(head -c 11 "$1" | od -An -c | tr -d ' \n')"
}
# start_printer PORT [ARG...]: the host printer on MACHINE in the background, until it answers
# (wait_for_printer, from tools/cups/ready.sh); stop_printer ends it. Scripts that start the
# printer otherwise define their own.
start_printer() {
    PORT=$1
    VELLUMTRANSIT_MACHINE=$MACHINE "$VT_PRINTER" --port "$@" >"$MACHINE.printer" 2>&1 &
    PRINTER_PID=$!
    wait_for_printer "$(URI)" "$PRINTER_PID" || fail "the printer did not start: $(cat "$MACHINE.printer")"
}
stop_printer() {
    [ -z "$PRINTER_PID" ] || kill "$PRINTER_PID" 2>/dev/null
    [ -z "$PRINTER_PID" ] || wait "$PRINTER_PID" 2>/dev/null
    PRINTER_PID=""
}
# spool_left DIR: what is in spool folder DIR but the printer's last job number, which stays.
spool_left() { ls -A "$1" | grep -v '^PrinterJobNumber\.txt$'; }
spool() { cp "$@" "$SPOOL"/ && if [ -n "$EXE_SPOOL" ]; then cp "$@" "$EXE_SPOOL"/; fi; }

# run_vt: the host binary on MACHINE, its stdout in $MACHINE.out; exit code 0, stderr silent.
run_vt() {
    local rc=0
    VELLUMTRANSIT_MACHINE=$MACHINE timeout 300 "$VT_BIN" >"$MACHINE.out" 2>"$MACHINE.err" || rc=$?
    check_eq "exit code" 0 "$rc"
    check_eq "stderr" "" "$(head -c 300 "$MACHINE.err")"
}

# run_both: the exe under Wine (stdout in $MACHINE.exe), then run_vt; the exe prints what the
# host build printed, each LF as CR LF (the C runtime's stdout is in text mode).
run_both() {
    local rc=0
    (cd "$SCRATCH" && timeout 120 "$WINE" "$VT_EXE" >"$MACHINE.exe" 2>"$MACHINE.exe-err") || rc=$?
    check_eq "exe exit code" 0 "$rc"
    # Wine's note that it cannot read the label of the Unix device behind Z: is no fault.
    check_eq "exe stderr" "" "$(grep -v '^wine: Read access denied for device' "$MACHINE.exe-err")"
    run_vt
    perl -pe 's/\n/\r\n/g' "$MACHINE.out" >"$MACHINE.console"
    check_bytes "the exe's transcript is the host build's" "$MACHINE.console" "$MACHINE.exe"
}

# expect FILE FORMAT [ARG...]: FILE holds printf FORMAT ARG..., byte for byte.
# shellcheck disable=SC2059
expect() { printf "${@:2}" >"$1.expected" && check_bytes "${1##*/}" "$1.expected" "$1"; }

# holds DIR NAME...: the folder holds these files and nothing else.
holds() {
    check_eq "contents of ${1#"$SCRATCH"/}" "$(printf '%s\n' "${@:2}" | LC_ALL=C sort)" \
        "$(find "$1" -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort)"
}

# events_in_order LINE...: these lines are in MACHINE's events.log in this order.
events_in_order() {
    check_eq "events.log lacks, in its order" "" "$(printf '%s\n' "$@" | awk '
        FILENAME == "-" { want[++n] = $0; next } k < n && $0 == want[k + 1] { ++k }
        END { if (k < n) print want[k + 1] }' - "$MACHINE/events.log")"
}

# jpeg_frame FILE: "WIDTH HEIGHT COLOUR BITS" of the first frame header, as pdfimages -list
# names an image dictionary's.
jpeg_frame() {
    od -An -tu1 -v -N 262144 "$1" | awk '{ for (i = 1; i <= NF; ++i) b[n++] = $i }
        END { for (p = 2; p + 9 < n && b[p] == 255; p += 2 + b[p + 2] * 256 + b[p + 3]) {
            if ((m = b[p + 1]) < 192 || m > 207 || m == 196 || m == 200 || m == 204) continue
            c = b[p + 9] == 1 ? "gray" : b[p + 9] == 3 ? "rgb" : b[p + 9] == 4 ? "cmyk" : "components:" b[p + 9]
            print b[p + 7] * 256 + b[p + 8], b[p + 5] * 256 + b[p + 6], c, b[p + 4]
            exit } }'
}

# judge_pdf PDF FOLDER PAGE...: qpdf finds no fault; pdfinfo counts the pages, each 612 x 792
# pts; page k's image is FOLDER's k-th PAGE byte for byte (pdfimages -j), and its dictionary
# has the width, height, colour space and bits of that JPEG's frame header.
judge_pdf() {
    local pdf=$1 folder=$2 k=0 name list img=$MACHINE.img
    shift 2
    check "qpdf --check" qpdf --check "$pdf" >/dev/null
    check_eq "pdfinfo: pages, pages of 612 x 792 pts" "$# $#" "$(pdfinfo -f 1 -l $# "$pdf" |
        awk '/^Pages:/ { n = $2 } /^Page +[0-9]+ size: +612 x 792 pts/ { ++s } END { print n, s }')"
    rm -rf "$img" && mkdir "$img" && pdfimages -j "$pdf" "$img/i"
    mapfile -t list < <(pdfimages -list "$pdf" | awk 'NR > 2 { print $1, $4, $5, $6, $8 }')
    check_eq "images" $# ${#list[@]}
    for name; do
        check "page $((k + 1)) is $name" cmp -s "$folder/$name" "$img/i-$(printf %03d $k).jpg"
        check_eq "page $((k + 1)) image" "$((k + 1)) $(jpeg_frame "$folder/$name")" "${list[k]:-}"
        k=$((k + 1))
    done
}

# grey_render PDF PAGE: renders the page at 20 dpi; prints the count of its pixels that are not
# grey and the mean brightness of its bottom row.
grey_render() {
    local w h
    pdftoppm -r 20 -f "$2" -l "$2" -singlefile "$1" "$MACHINE.page" || return
    read -r w h < <(sed -n 2p "$MACHINE.page.ppm")
    tail -c $((w * h * 3)) "$MACHINE.page.ppm" | od -An -tu1 -v -w3 | awk -v w="$w" -v h="$h" '
        $1 != $2 || $2 != $3 { ++nongrey } NR > w * (h - 1) { bottom += $1 / w }
        END { print nongrey + 0, int(bottom) }'
}
