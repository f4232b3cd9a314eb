# shellcheck shell=bash
# Waits for a service by asking it, never for a fixed time: sourced by the tests, the demo and
# the ipp-everywhere run. Each wait is bounded and says what never came.
#
#   wait_until SECONDS WHAT COMMAND...   polls COMMAND every 0.1 s until it succeeds; past
#                                        SECONDS: "WHAT was not ready in SECONDS s" on stderr
#   printer_answers URI                  the printer answers Get-Printer-Attributes
#   scheduler_answers HOST:PORT          the CUPS scheduler answers an IPP request
#   queue_ready HOST:PORT QUEUE          the queue has its generated PPD and accepts jobs
#   wait_for_printer URI [PID [SECONDS]] printer_answers within SECONDS (10 by default); fails
#                                        at once when process PID has ended
#   wait_for_queue HOST:PORT QUEUE       queue_ready within 30 s

READY_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

wait_until() {
    local seconds=$1 what=$2 tries
    shift 2
    for ((tries = seconds * 10; tries > 0; tries--)); do
        "$@" && return 0
        sleep 0.1
    done
    echo "$what was not ready in $seconds s" >&2
    return 1
}

printer_answers() { ipptool -q -T 2 "$1" "$READY_DIR/printer-ready.test" >/dev/null 2>&1; }
scheduler_answers() { ipptool -q -T 2 "ipp://$1/" "$READY_DIR/scheduler-ready.test" >/dev/null 2>&1; }
# lpadmin may return before the scheduler has made the queue's PPD from the printer's answers;
# a job sent before that goes to the printer unfiltered.
queue_ready() {
    lpoptions -h "$1" -p "$2" -l 2>/dev/null | grep -q '^ColorModel' &&
        lpstat -h "$1" -a "$2" 2>/dev/null | grep -q "^$2 accepting"
}

# Either answer, or the process that should answer has ended: no point waiting then.
printer_answers_or_ended() { printer_answers "$1" || { [ -n "${2:-}" ] && ! kill -0 "$2" 2>/dev/null; }; }
wait_for_printer() {
    wait_until "${3:-10}" "the printer at $1" printer_answers_or_ended "$1" "${2:-}" || return 1
    printer_answers "$1" || { echo "the printer at $1 ended before it answered" >&2 && return 1; }
}
wait_for_queue() { wait_until 30 "the CUPS queue $2" queue_ready "$1" "$2"; }
