#include "common/win32.h"

#include "driver/conversion.h"
#include "driver/delivery.h"
#include "driver/run.h"

namespace {

// The front end starts a run for each print job, so a second job can start one while the first
// is still converting. Runs take turns on a named mutex rather than a lock file in the spool
// folder: the system releases it when its holder dies (the next run gets it as abandoned), a
// wait on it sleeps with a time limit instead of polling, and nothing that a printing user
// writes to the spool folder can plant, link or delete it. "Global" so that runs started from
// different sessions (a service's and a user's) take turns too; there is one spool folder per
// Windows installation.
const char kRunMutexName[] = "Global\\VellumTransit.Spool";
// Every account may wait for the turn and hand it back, and nothing more: runs of different
// accounts (a service's, each printing user's) must be able to wait for one another. A mutex
// of the default security would refuse every account but its creator's.
const char kRunMutexSecurity[] = "D:(A;;0x00100001;;;WD)"; // SYNCHRONIZE | MUTEX_MODIFY_STATE
const DWORD kRunWaitMilliseconds = 10 * 60 * 1000;

// Holds the run's mutex handle, and its ownership once granted, until the run ends.
struct RunTurn {
    HANDLE mutex = nullptr;
    bool owned = false;
    ~RunTurn() {
        if (owned)
            ReleaseMutex(mutex);
        if (mutex)
            CloseHandle(mutex);
    }
};

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
    DeliveryState delivery = {0, 0, ""};
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
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    // Without the descriptor (no memory for it) the default security still serves one account.
    ConvertStringSecurityDescriptorToSecurityDescriptorA(kRunMutexSecurity, SDDL_REVISION_1,
                                                         &security.lpSecurityDescriptor, nullptr);
    turn.mutex = CreateMutexExA(security.lpSecurityDescriptor ? &security : nullptr, kRunMutexName,
                                0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
    LocalFree(security.lpSecurityDescriptor);
    if (turn.mutex) {
        // Abandoned: a run died holding it. Whatever it left (a partial file, pages, a waiting
        // PDF) is in a state that the next run handles, so this one goes on.
        DWORD waited = WaitForSingleObject(turn.mutex, kRunWaitMilliseconds);
        turn.owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    if (!turn.owned) {
        printf("Another run is still working.\n");
        return 0;
    }
    RunRounds();
    return 0;
}
