# shellcheck shell=bash
# Shared helpers of the whole-run tests: machine folders, runs of the host binary, checks of
# the console transcript, the spool, events.log and the PDF (judged by qpdf and Poppler).
#
# A test script sources this file, calls whole_init once, builds its cases with the helpers
# below and ends with whole_finish, which prints "N passed, M failed" and fails on any failure.
# The environment gives VT_BIN (host binary), VT_SOURCE (repo) and VT_BUILD (build folder);
# VT_TMP, when set, moves the scratch folders out of $VT_BUILD/whole-tmp.

set -uo pipefail

PASSED=0
FAILED=0
CASE=""

# What delivery prints after the conversion lines on a machine with no e-reader attached.
# shellcheck disable=SC2034 # used by the scripts that source this file
NO_EREADER='Kindle must be plugged in!\n'

# Sets up the test's scratch folder (emptied first) and checks the tools it needs.
whole_init() {
    local name
    name=$(basename "$0" .sh)
    : "${VT_BIN:?VT_BIN must name the host binary}"
    : "${VT_SOURCE:?VT_SOURCE must name the repository}"
    : "${VT_BUILD:?VT_BUILD must name the build folder}"
    WHOLE_TMP=${VT_TMP:-$VT_BUILD/whole-tmp}/$name
    rm -rf "$WHOLE_TMP"
    mkdir -p "$WHOLE_TMP"
    local tool
    for tool in cjpeg qpdf pdfinfo pdfimages pdftoppm od awk cmp; do
        if ! command -v "$tool" >/dev/null; then
            echo "missing tool: $tool" >&2
            exit 2
        fi
    done
}

pass() { PASSED=$((PASSED + 1)); }

# fail MESSAGE: counts a failure and says which case and check it was.
fail() {
    FAILED=$((FAILED + 1))
    echo "FAIL [$CASE] $*" >&2
}

# check DESCRIPTION COMMAND...: passes when the command succeeds.
check() {
    local what=$1
    shift
    if "$@"; then pass; else fail "$what"; fi
}

# check_eq DESCRIPTION EXPECTED ACTUAL
check_eq() {
    if [ "$2" == "$3" ]; then pass; else fail "$1: expected '$2', got '$3'"; fi
}

# Prints the summary line and ends the script: non-zero when anything failed.
whole_finish() {
    echo "$PASSED passed, $FAILED failed"
    if [ "$FAILED" -eq 0 ]; then exit 0; fi
    exit 1
}

# new_machine NAME: a fresh machine folder with an empty spool directory; sets MACHINE and
# SPOOL (the spool's host path) and starts the case NAME.
new_machine() {
    CASE=$1
    MACHINE=$WHOLE_TMP/$1
    SPOOL=$MACHINE/C/Windows/VellumTransit
    rm -rf "$MACHINE"
    mkdir -p "$SPOOL"
}

# make_page_set SET [COUNT]: makes the pages of a set once per script (tests/fixtures/
# make_pages.sh) and prints the folder that holds them.
make_page_set() {
    local folder=$WHOLE_TMP/pages-$1${2:+-$2}
    if [ ! -d "$folder" ]; then
        bash "$VT_SOURCE/tests/fixtures/make_pages.sh" "$VT_BUILD/vt_testpage" "$folder.tmp" "$@" \
            >/dev/null || {
            echo "make_pages.sh $* failed" >&2
            exit 2
        }
        mv "$folder.tmp" "$folder"
    fi
    echo "$folder"
}

# spool_pages FOLDER: copies every page of the folder into the spool.
spool_pages() {
    cp "$1"/* "$SPOOL"/
}

# write_ini TEXT: the machine's machine.ini, from printf escapes.
write_ini() {
    # shellcheck disable=SC2059
    printf "$1" >"$MACHINE/machine.ini"
}

# run_vt: one run of the binary on MACHINE; stdout byte for byte in $MACHINE.out, stderr in
# $MACHINE.err, the exit code in RUN_RC. Checks the exit code 0 and a silent stderr.
run_vt() {
    RUN_RC=0
    VELLUMTRANSIT_MACHINE=$MACHINE timeout 300 "$VT_BIN" >"$MACHINE.out" 2>"$MACHINE.err" ||
        RUN_RC=$?
    check_eq "exit code" 0 "$RUN_RC"
    if [ -s "$MACHINE.err" ]; then
        fail "stderr not empty: $(head -c 300 "$MACHINE.err")"
    else
        pass
    fi
}

# expect_transcript FORMAT [ARGS...]: the console output of the last run equals
# printf FORMAT ARGS, byte for byte.
expect_transcript() {
    # shellcheck disable=SC2059
    printf "$@" >"$MACHINE.expected"
    if cmp -s "$MACHINE.expected" "$MACHINE.out"; then
        pass
    else
        fail "console transcript differs (expected, then actual):"
        od -c "$MACHINE.expected" | head -40 >&2
        echo "---" >&2
        od -c "$MACHINE.out" | head -40 >&2
    fi
}

# spool_has NAME...: each file is in the spool.
spool_has() {
    local name
    for name in "$@"; do
        if [ -f "$SPOOL/$name" ]; then pass; else fail "$name missing from the spool"; fi
    done
}

# spool_lacks NAME...: no such file in the spool.
spool_lacks() {
    local name
    for name in "$@"; do
        if [ -e "$SPOOL/$name" ]; then fail "$name left in the spool"; else pass; fi
    done
}

# spool_holds_exactly NAME...: the spool holds these files and nothing else.
spool_holds_exactly() {
    local expected actual
    expected=$(printf '%s\n' "$@" | LC_ALL=C sort)
    actual=$(cd "$SPOOL" && find . -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort)
    check_eq "spool contents" "$expected" "$actual"
}

# spool_unchanged FOLDER NAME...: each named file is in the spool with the bytes it had in
# FOLDER.
spool_unchanged() {
    local folder=$1 name
    shift
    for name in "$@"; do
        if cmp -s "$folder/$name" "$SPOOL/$name"; then pass; else fail "$name not kept unchanged"; fi
    done
}

# events_exactly LINE...: events.log holds exactly these lines.
events_exactly() {
    local expected actual
    expected=$(printf '%s\n' "$@")
    actual=$(cat "$MACHINE/events.log" 2>/dev/null)
    check_eq "events.log" "$expected" "$actual"
}

# events_in_order LINE...: these lines are in events.log in this order (others may lie
# between them).
events_in_order() {
    local missing
    missing=$(printf '%s\n' "$@" | awk '
        BEGIN { next_line = 1 }
        FILENAME == "-" { want[++count] = $0; next }
        next_line <= count && $0 == want[next_line] { ++next_line }
        END { if (next_line <= count) print want[next_line] }
    ' - "$MACHINE/events.log")
    if [ -z "$missing" ]; then pass; else fail "events.log lacks, in its order: $missing"; fi
}

# events_lack REGEX: no line of events.log matches.
events_lack() {
    local found
    found=$(grep -E -- "$1" "$MACHINE/events.log" | head -3)
    if [ -z "$found" ]; then pass; else fail "unexpected events: $found"; fi
}

# ---- The JPEGs' own headers ---------------------------------------------------------------

# jpeg_frame FILE: prints "WIDTH HEIGHT COMPONENTS PRECISION" from the file's first frame
# header (any SOFn), walking the segments from the start of the file; nothing when none.
jpeg_frame() {
    od -An -tu1 -v -N 65536 "$1" | awk '
        { for (i = 1; i <= NF; ++i) b[n++] = $i }
        END {
            pos = 2
            while (pos + 9 < n && b[pos] == 255) {
                m = b[pos + 1]
                if (m >= 192 && m <= 207 && m != 196 && m != 200 && m != 204) {
                    print b[pos + 7] * 256 + b[pos + 8], b[pos + 5] * 256 + b[pos + 6],
                          b[pos + 9], b[pos + 4]
                    exit
                }
                pos += 2 + b[pos + 2] * 256 + b[pos + 3]
            }
        }'
}

# ---- The PDF, judged by outside tools -------------------------------------------------------

# judge_pdf PDF FOLDER PAGE...: the PDF holds the given JPEG files of FOLDER as its pages, in
# this order: qpdf finds no fault, pdfinfo counts the pages and sizes each 612 x 792 pts,
# pdfimages -j gives back every JPEG byte for byte, and each image dictionary (as qpdf reads
# it) names the colour space, width, height and sample precision of the JPEG's own frame header.
judge_pdf() {
    local pdf=$1 folder=$2
    shift 2
    local count=$#
    if [ ! -f "$pdf" ]; then
        fail "no PDF at $pdf"
        return
    fi
    check "qpdf --check" qpdf --check "$pdf" >/dev/null
    local info
    info=$(pdfinfo -f 1 -l "$count" "$pdf")
    check_eq "pdfinfo page count" "$count" "$(awk '/^Pages:/ { print $2 }' <<<"$info")"
    check_eq "PDF version" "1.3" "$(awk '/^PDF version:/ { print $3 }' <<<"$info")"
    check_eq "every page 612 x 792 pts" "$count" \
        "$(grep -cE '^Page +[0-9]+ size: +612 x 792 pts' <<<"$info")"

    # The extracted images, in page order, against the spooled files: equal sizes one by one
    # and equal bytes all together mean equal bytes one by one.
    local extracted=$MACHINE.images
    rm -rf "$extracted"
    mkdir -p "$extracted"
    pdfimages -j "$pdf" "$extracted/img"
    local sources=() name
    for name in "$@"; do sources+=("$folder/$name"); done
    local images=("$extracted"/img-*)
    check_eq "images extracted" "$count" "${#images[@]}"
    check_eq "extracted image sizes, page by page" "$(stat -c %s "${sources[@]}")" \
        "$(stat -c %s "${images[@]}" 2>/dev/null)"
    if cmp -s <(cat "${sources[@]}") <(cat "${images[@]}" 2>/dev/null); then
        pass
    else
        fail "extracted images differ from the spooled pages"
    fi

    # Page k's image object, as qpdf walks the page tree, and every image dictionary.
    local objects
    mapfile -t objects < <(qpdf --show-pages --with-images "$pdf" |
        awk '/^ +\/I[0-9]+: [0-9]+ 0 R/ { print $2 }')
    check_eq "one image per page" "$count" "${#objects[@]}"
    local -A dictionary=()
    local object fields
    while read -r object fields; do
        dictionary[$object]=$fields
    done < <(qpdf --json=2 --json-key=qpdf "$pdf" | awk '
        /^      "obj:[0-9]+ 0 R": \{/ { split($1, part, ":"); object = part[2] + 0 }
        /"\/ColorSpace": / { space[object] = $2 }
        /"\/Width": / { width[object] = $2 + 0 }
        /"\/Height": / { height[object] = $2 + 0 }
        /"\/BitsPerComponent": / { bits[object] = $2 + 0 }
        /"\/Subtype": "\/Image"/ { image[object] = 1 }
        END {
            for (o in image) {
                gsub(/[",\/]/, "", space[o])
                print o, space[o], width[o], height[o], bits[o]
            }
        }')

    local k=0
    for name in "$@"; do
        local width height components precision space
        read -r width height components precision <<<"$(jpeg_frame "$folder/$name")"
        case "$components" in
        1) space=DeviceGray ;;
        3) space=DeviceRGB ;;
        *) space="(components: $components)" ;;
        esac
        check_eq "page $((k + 1)) ($name): colour space, width, height, bits per component" \
            "$space $width $height $precision" \
            "${dictionary[${objects[$k]:-none}]:-no image dictionary}"
        k=$((k + 1))
    done
}

# render_page PDF PAGE: renders the page at 20 dpi and prints, from its pixels,
# "NONGREY TOPROW BOTTOMROW": the count of pixels whose red, green and blue differ, and the
# mean brightness of the first and the last row.
render_page() {
    local out=$MACHINE.render-$2
    pdftoppm -r 20 -f "$2" -l "$2" -singlefile "$1" "$out" || return
    local header width height
    header=$(head -n 3 "$out.ppm")
    read -r width height <<<"$(sed -n 2p <<<"$header")"
    tail -c +$(($(printf '%s\n' "$header" | wc -c) + 1)) "$out.ppm" | od -An -tu1 -v -w3 |
        awk -v w="$width" -v h="$height" '
            { if ($1 != $2 || $2 != $3) ++nongrey
              y = int((NR - 1) / w)
              if (y == 0) top += ($1 + $2 + $3) / 3
              if (y == h - 1) bottom += ($1 + $2 + $3) / 3 }
            END { printf "%d %d %d\n", nongrey, top / w, bottom / w }'
}
