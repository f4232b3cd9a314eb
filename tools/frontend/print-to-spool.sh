#!/usr/bin/env bash
# The front-end stand-in: renders a PostScript or PDF document into the spool folder as one
# baseline JPEG per page, US Letter at 150 dpi (1275 x 1650 pixels), as the printing front end
# does on Windows. Each job's pages are named VellumTransit<job>-<page>.jpg, the job one above
# the jobs already spooled, so that a job never overwrites the pages of one still waiting. The
# names come from the spool contract that the printer and the program are built with.
#
#   print-to-spool.sh DOCUMENT SPOOL_FOLDER
set -euo pipefail
document=$1
spool=$2
contract="$(dirname "$0")/../../common/spool_contract.h"
stem=$(sed -n 's/^#define VT_SPOOL_STEM "\(.*\)"$/\1/p' "$contract")
[ -n "$stem" ] || { echo "print-to-spool.sh: no stem in $contract" >&2; exit 1; }
mkdir -p "$spool"
job=1
for page in "$spool/$stem"*-*.jpg; do
    number=${page##*/"$stem"}
    number=${number%%-*}
    [[ $number =~ ^[0-9]+$ ]] && ((number >= job)) && job=$((number + 1))
done
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -dJPEGQ=85 -r150 \
    -sPAPERSIZE=letter -dFIXEDMEDIA -dPDFFitPage \
    -sOutputFile="$spool/$stem$job-%d.jpg" "$document"
