#!/bin/bash
# Runs one libFuzzer target for a bounded time over its kept corpus.
# Usage: run_fuzzer.sh FUZZER_BINARY CORPUS_DIR   (time: VT_FUZZ_SECONDS, default 20)
# The kept corpus is only read: new inputs go to a temporary folder that is removed afterwards,
# and a crasher is left in the current directory (crash-*) for keeping as a regression input.
set -euo pipefail

fuzzer=${1:?fuzzer binary}
corpus=${2:?corpus directory}
seconds=${VT_FUZZ_SECONDS:-20}

if [ ! -x "$fuzzer" ]; then
    echo "run_fuzzer.sh: no fuzzer at $fuzzer" >&2
    exit 2
fi
if [ ! -d "$corpus" ]; then
    echo "run_fuzzer.sh: no corpus at $corpus" >&2
    exit 2
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The kept inputs first, on their own: each regression input must pass.
"$fuzzer" -runs=0 "$corpus"
# Then the bounded search, growing only the scratch folder.
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "$scratch" "$corpus"
