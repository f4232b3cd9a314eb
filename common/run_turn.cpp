#include "common/win32.h"

#include "common/run_turn.h"
#include "common/spool_contract.h"

namespace {

// The front end starts a run for each print job, so a second job can start one while the first
// is still converting. Runs take turns on a named mutex rather than a lock file in the spool
// folder: the system releases it when its holder dies (the next run gets it as abandoned), a
// wait on it sleeps with a time limit instead of polling, and nothing that a printing user
// writes to the spool folder can plant, link or delete it. "Global" so that runs started from
// different sessions (a service's and a user's) take turns too; there is one spool folder per
// Windows installation.

} // namespace

RunTurn::~RunTurn() {
    EndRunTurn(this);
}

int OpenRunTurn(RunTurn *turn) {
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    // Without the descriptor (no memory for it) the default security still serves one account.
    ConvertStringSecurityDescriptorToSecurityDescriptorA(kMutexSecurity, SDDL_REVISION_1,
                                                         &security.lpSecurityDescriptor, nullptr);
    turn->mutex = CreateMutexExA(security.lpSecurityDescriptor ? &security : nullptr, kRunMutexName,
                                 0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
    LocalFree(security.lpSecurityDescriptor);
    return turn->mutex != nullptr;
}

int WaitRunTurn(RunTurn *turn, DWORD milliseconds) {
    // Abandoned: a run died holding it. Whatever it left (a partial file, pages, a waiting
    // PDF) is in a state that the next run handles, so this one goes on.
    DWORD waited = WaitForSingleObject(turn->mutex, milliseconds);
    turn->owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    return turn->owned;
}

void EndRunTurn(RunTurn *turn) {
    if (turn->owned)
        ReleaseMutex(turn->mutex);
    if (turn->mutex)
        CloseHandle(turn->mutex);
    turn->owned = false;
    turn->mutex = nullptr;
}
