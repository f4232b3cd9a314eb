// The turn that runs take on the spool: the named mutex Global\VellumTransit.Spool, which every
// account may wait for and hand back and which the system frees when its holder dies. The
// program holds it for a whole run; the printer holds it while it hands a job's pages over.
#pragma once

#include "common/win32.h"

// The mutex handle, and its ownership once granted; the destructor hands both back.
struct RunTurn {
    HANDLE mutex = nullptr;
    bool owned = false;
    ~RunTurn();
};

// Opens (or creates) the run mutex into turn->mutex; returns non-zero on success.
int OpenRunTurn(RunTurn *turn);

// Waits up to milliseconds for the turn; an abandoned mutex counts as granted. Returns non-zero
// once turn->owned.
int WaitRunTurn(RunTurn *turn, DWORD milliseconds);

// Releases the turn if owned and closes the handle; the destructor does the same.
void EndRunTurn(RunTurn *turn);
