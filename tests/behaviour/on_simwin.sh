#!/usr/bin/env bash
# on_simwin.sh PROGRAM MACHINE_FOLDER: the platform behaviour program against simwin, on a fresh
# machine whose scratch folder holds only the folder that the listing checks need.
set -euo pipefail
rm -rf "$2" && mkdir -p "$2/C/Windows/VellumTransitBehaviour/VellumTransitFolder.jpg"
VELLUMTRANSIT_MACHINE=$2 exec "$1"
