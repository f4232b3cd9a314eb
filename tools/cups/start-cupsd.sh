#!/usr/bin/env bash
# Starts a private CUPS scheduler for tests and the demo: its configuration, queues, spool and
# logs all in FOLDER, listening on 127.0.0.1:PORT only, so that nothing of the machine's own
# CUPS is read or touched. Prints the scheduler's process id once it answers an IPP request (as
# lpadmin's first one); stop it with kill.
#
#   start-cupsd.sh FOLDER PORT
set -euo pipefail
# shellcheck source=tools/cups/ready.sh
source "$(dirname "$0")/ready.sh"
folder=$1
port=$2
mkdir -p "$folder"/{spool,cache,state,log,tmp}
cat >"$folder/cupsd.conf" <<CONF
Listen 127.0.0.1:$port
LogLevel info
Browsing No
DefaultAuthType None
WebInterface No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
cat >"$folder/cups-files.conf" <<CONF
ServerRoot $folder
RequestRoot $folder/spool
CacheDir $folder/cache
StateDir $folder/state
TempDir $folder/tmp
AccessLog $folder/log/access_log
ErrorLog $folder/log/error_log
PageLog $folder/log/page_log
ServerBin /usr/lib/cups
DataDir /usr/share/cups
Sandboxing Relaxed
CONF
# The filters run as the scheduler's unprivileged user: they must reach the spool.
chmod -R a+rwX "$folder"
cupsd -f -c "$folder/cupsd.conf" -s "$folder/cups-files.conf" </dev/null >"$folder/log/cupsd.out" 2>&1 &
pid=$!
# lpstat -r says "not running" with exit code 0, and a connection alone is not an answer: ask.
if wait_until 30 "the CUPS scheduler on 127.0.0.1:$port" scheduler_answers "127.0.0.1:$port"; then
    echo "$pid"
    exit 0
fi
kill "$pid" 2>/dev/null
echo "start-cupsd.sh: the scheduler did not start; see $folder/log" >&2
exit 1
