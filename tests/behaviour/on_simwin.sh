#!/usr/bin/env bash
# Runs the platform behaviour program of the host build against simwin, on a fresh machine:
#   on_simwin.sh PROGRAM MACHINE_FOLDER
# The machine is a lone drive C: with the program's scratch folder made empty in its Windows
# directory, holding the one folder that the listing checks need.
set -euo pipefail
program=$1
machine=$2
rm -rf "$machine"
mkdir -p "$machine/C/Windows/VellumTransitBehaviour/VellumTransitFolder.jpg"
VELLUMTRANSIT_MACHINE=$machine exec "$program"
