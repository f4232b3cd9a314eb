#include "common/win32.h"

#include "common/run_turn.h"
#include "driver/conversion.h"
#include "driver/delivery.h"
#include "driver/run.h"

namespace {

const DWORD kRunWaitMilliseconds = 10 * 60 * 1000;

// Releases the spool on every way out.
struct SpoolGuard {
    Spool *spool;
    ~SpoolGuard() { CloseSpool(spool); }
};

// Delivers a waiting PDF first, then converts and delivers the pages listed when the run began,
// a PDF of at most 256 pages a round, until none is left or a delivery does not complete (that
// PDF waits for a later run). At most one PDF is in the spool at any time.
void RunRounds() {
    Spool spool;
    SpoolGuard guard = {&spool};
    if (!OpenSpool(&spool)) {
        // Which files are pages already inside a PDF cannot be told: nothing may be converted,
        // and a PDF whose record is not settled must not be delivered.
        printf("Could not list the spool folder.\n");
        return;
    }
    DeliveryState delivery = {0, 0, nullptr, 0};
    bool waiting = IsPdfWaiting();
    for (int round = 1;; ++round, waiting = false) {
        if (!waiting && ConvertPages(&spool, round == 1) == CONVERSION_END_RUN)
            break;
        if (!DeliverPdf(&delivery))
            break;
    }
    FinishDelivery(&delivery);
}

} // namespace

int RunVellumTransit() {
    RunTurn turn;
    if (OpenRunTurn(&turn))
        WaitRunTurn(&turn, kRunWaitMilliseconds);
    if (!turn.owned) {
        printf("Another run is still working.\n");
        return 0;
    }
    RunRounds();
    return 0;
}
