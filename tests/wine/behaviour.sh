#!/usr/bin/env bash
# The platform behaviour that simwin imitates, checked under Wine: the same program as the
# host test behaviour_simwin, here built for Windows (VT_BEHAVIOUR_EXE, default
# platform_behaviour.exe in the Windows build folder).
source "$(dirname "$0")/lib.sh"
wine_init

program=${VT_BEHAVIOUR_EXE:-$VT_WINDOWS_BUILD/platform_behaviour.exe}
CASE=behaviour
# The program's scratch folder, empty but for the one folder that its listing needs.
scratch=$WINDOWS_DIR/VellumTransitBehaviour
rm -rf "$scratch"
mkdir -p "$scratch/VellumTransitFolder.jpg"

rc=0
(cd "$WINE_TMP" && timeout 120 "$WINE" "$program" >"$WINE_TMP/out" 2>"$WINE_TMP/err") || rc=$?
tr -d '\r' <"$WINE_TMP/out" >"$WINE_TMP/lines"
grep -v '^ok ' "$WINE_TMP/lines" | grep -v 'passed, .* failed$' >&2
check_eq "exit code" 0 "$rc"
check_eq "stderr" "" "$(head -c 300 "$WINE_TMP/err")"
# The program's own checks count in this script's summary.
summary=$(tail -n 1 "$WINE_TMP/lines")
if [[ $summary =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    PASSED=$((PASSED + BASH_REMATCH[1]))
    FAILED=$((FAILED + BASH_REMATCH[2]))
    check "the program ran all its checks" test $((BASH_REMATCH[1] + BASH_REMATCH[2])) -ge 40
else
    fail "no summary line from the program: '$summary'"
fi
rm -rf "$scratch"

wine_finish
