# Shared helpers of the tests that run the real exe under Wine: a private Wine prefix, runs of
# the exe and of the host build on the same files, and the checks and summary of a test.
#
# A test script sources this file, calls wine_init once, builds its cases with the helpers
# below and ends with wine_finish, which prints "N passed, M failed" and fails on any failure.
# The environment gives VT_EXE (the exe), VT_WINDOWS_BUILD (its build folder, which holds the
# prefix), VT_SOURCE (the repository) and VT_HOST_BUILD (the host build folder, for the host
# binary and vt_testpage).
#
# Line ends: the exe writes its console lines with "\n" through the C runtime, whose stdout is
# in text mode, so every LF arrives as CR LF (and a "\r\n" written by the program arrives as
# CR CR LF), on a pipe as in a file. The host build writes LF. host_as_console turns a host
# transcript into the bytes the exe prints.

set -uo pipefail

PASSED=0
FAILED=0
CASE=""

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

# check_same_bytes DESCRIPTION EXPECTED_FILE ACTUAL_FILE: the files are equal byte for byte.
check_same_bytes() {
    if cmp -s "$2" "$3"; then
        pass
    else
        fail "$1 (expected, then actual):"
        od -c "$2" 2>&1 | head -30 >&2
        echo "---" >&2
        od -c "$3" 2>&1 | head -30 >&2
    fi
}

# Prints the summary line and ends the script: non-zero when anything failed.
wine_finish() {
    wineserver -k >/dev/null 2>&1 || true
    echo "$PASSED passed, $FAILED failed"
    if [ "$FAILED" -eq 0 ]; then exit 0; fi
    exit 1
}

# Checks the environment and the tools, sets WINE_TMP (the test's scratch folder, emptied),
# and makes the Wine prefix unless it is already there. Sets SPOOL, the spool directory of the
# prefix (its Windows directory is C:\windows, that is drive_c/windows).
wine_init() {
    local name tool
    name=$(basename "$0" .sh)
    : "${VT_EXE:?VT_EXE must name the exe}"
    : "${VT_WINDOWS_BUILD:?VT_WINDOWS_BUILD must name the Windows build folder}"
    : "${VT_SOURCE:?VT_SOURCE must name the repository}"
    : "${VT_HOST_BUILD:?VT_HOST_BUILD must name the host build folder}"
    for tool in cjpeg cmp od perl qpdf wineserver; do
        if ! command -v "$tool" >/dev/null; then
            echo "missing tool: $tool" >&2
            exit 2
        fi
    done
    WINE=${VT_WINE:-/usr/lib/wine/wine64}
    if [ ! -x "$WINE" ]; then
        WINE=$(command -v wine64 || command -v wine) || {
            echo "missing tool: wine64" >&2
            exit 2
        }
    fi
    WINE_TMP=$VT_WINDOWS_BUILD/wine-tmp/$name
    rm -rf "$WINE_TMP"
    mkdir -p "$WINE_TMP"

    export WINEPREFIX=$VT_WINDOWS_BUILD/wineprefix
    export WINEDEBUG=-all
    # No Mono or Gecko installer prompts, no desktop menu entries, no display.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    unset DISPLAY WAYLAND_DISPLAY
    if [ ! -f "$WINEPREFIX/.vt-ready" ]; then
        rm -rf "$WINEPREFIX"
        if ! timeout 300 "$WINE" wineboot -i >"$WINE_TMP/wineboot.log" 2>&1 ||
            ! timeout 60 wineserver -w; then
            echo "could not make the Wine prefix:" >&2
            tail -20 "$WINE_TMP/wineboot.log" >&2
            exit 2
        fi
        touch "$WINEPREFIX/.vt-ready"
    fi
    # This Wine's server quits as soon as its last program ends, and starting it again costs
    # seconds per run: keep one up for the script (wine_finish ends it; at worst it quits a
    # minute after the last run). Its output goes nowhere, so that it holds no pipe of ctest.
    wineserver -p60 </dev/null >/dev/null 2>&1
    WINDOWS_DIR=$WINEPREFIX/drive_c/windows
    SPOOL=$WINDOWS_DIR/VellumTransit
}

# new_case NAME: starts the case NAME with an empty spool in the prefix and a fresh host
# machine folder (MACHINE, with its spool HOST_SPOOL).
new_case() {
    CASE=$1
    rm -rf "$SPOOL"
    mkdir -p "$SPOOL"
    MACHINE=$WINE_TMP/$1
    HOST_SPOOL=$MACHINE/C/Windows/VellumTransit
    rm -rf "$MACHINE"
    mkdir -p "$HOST_SPOOL"
}

# make_page_set SET [COUNT]: makes the pages of a set once per script (tests/fixtures/
# make_pages.sh) and prints the folder that holds them.
make_page_set() {
    local folder=$WINE_TMP/pages-$1${2:+-$2}
    if [ ! -d "$folder" ]; then
        bash "$VT_SOURCE/tests/fixtures/make_pages.sh" "$VT_HOST_BUILD/vt_testpage" \
            "$folder.tmp" "$@" >/dev/null || {
            echo "make_pages.sh $* failed" >&2
            exit 2
        }
        mv "$folder.tmp" "$folder"
    fi
    echo "$folder"
}

# spool_pages FOLDER: copies every page of the folder into both spools.
spool_pages() {
    cp "$1"/* "$SPOOL"/
    cp "$1"/* "$HOST_SPOOL"/
}

# run_exe: one run of the exe under Wine; stdout byte for byte in $MACHINE.exe.out. Checks the
# exit code 0 and a silent stderr: the program writes nothing there, and Wine reports faults
# there (an unhandled exception, a missing DLL). One note of Wine's is no fault: it cannot read
# the Unix device behind a drive (Z: is /) for the label that the drive scan asks for.
run_exe() {
    local rc=0 noise
    (cd "$WINE_TMP" && timeout 120 "$WINE" "$VT_EXE" >"$MACHINE.exe.out" 2>"$MACHINE.exe.err") ||
        rc=$?
    check_eq "exe exit code" 0 "$rc"
    noise=$(grep -v -E '^wine: Read access denied for device L".*", FS volume label and serial are not available\.$' \
        "$MACHINE.exe.err" | head -c 300)
    check_eq "exe stderr" "" "$noise"
}

# run_host: one run of the host build on MACHINE; stdout in $MACHINE.host.out.
run_host() {
    local rc=0
    VELLUMTRANSIT_MACHINE=$MACHINE timeout 120 "$VT_HOST_BUILD/vellumtransit" \
        >"$MACHINE.host.out" 2>"$MACHINE.host.err" || rc=$?
    check_eq "host exit code" 0 "$rc"
}

# run_both: the exe and the host build, each on its own spool.
run_both() {
    run_exe
    run_host
}

# host_as_console FILE: the bytes the exe's console shows for a host transcript: each LF
# written by the program reaches the pipe as CR LF.
host_as_console() {
    perl -pe 's/\n/\r\n/g' "$1"
}

# expect_same_transcript: the exe printed what the host build printed, each LF as CR LF.
expect_same_transcript() {
    host_as_console "$MACHINE.host.out" >"$MACHINE.host.console"
    check_same_bytes "the exe's transcript is the host build's (LF as CR LF)" \
        "$MACHINE.host.console" "$MACHINE.exe.out"
}

# expect_exe_transcript FORMAT [ARGS...]: the exe printed printf FORMAT ARGS, byte for byte.
expect_exe_transcript() {
    # shellcheck disable=SC2059
    printf "$@" >"$MACHINE.expected"
    check_same_bytes "the exe's transcript" "$MACHINE.expected" "$MACHINE.exe.out"
}

# spool_holds_exactly DIR NAME...: the folder holds these files and nothing else.
spool_holds_exactly() {
    local dir=$1 expected actual
    shift
    expected=$(printf '%s\n' "$@" | LC_ALL=C sort)
    actual=$(cd "$dir" && find . -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort)
    check_eq "contents of ${dir#"$VT_WINDOWS_BUILD"/}" "$expected" "$actual"
}
