#!/usr/bin/env bash
# The front-end stand-in: renders a PostScript or PDF document into the spool folder as one
# baseline JPEG per page, US Letter at 150 dpi (1275 x 1650 pixels), named VellumTransit1.jpg,
# VellumTransit2.jpg, ... as the real printing front end does on Windows.
#
#   print-to-spool.sh DOCUMENT SPOOL_FOLDER
set -euo pipefail
document=$1
spool=$2
mkdir -p "$spool"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -dJPEGQ=85 -r150 \
    -sPAPERSIZE=letter -dFIXEDMEDIA -dPDFFitPage \
    -sOutputFile="$spool/VellumTransit%d.jpg" "$document"
