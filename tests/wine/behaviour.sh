#!/usr/bin/env bash
# The platform behaviour that simwin imitates, under Wine (the reference): the program of the
# host test behaviour_simwin, built for Windows, in an empty scratch folder of the prefix.
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
wine_init
CASE=behaviour
rm -rf "${EXE_SPOOL%/*}/VellumTransitBehaviour"
mkdir -p "${EXE_SPOOL%/*}/VellumTransitBehaviour/VellumTransitFolder.jpg"
rc=0
timeout 120 "$WINE" "${VT_BEHAVIOUR_EXE:?}" >"$SCRATCH/out" 2>"$SCRATCH/err" || rc=$?
check_eq "exit code" 0 "$rc"
check_eq "stderr" "" "$(cat "$SCRATCH/err")"
tr -d '\r' <"$SCRATCH/out" >&2
check "the program's closing line: 0 failed" grep -q '^[1-9][0-9]* passed, 0 failed' "$SCRATCH/out"
finish
