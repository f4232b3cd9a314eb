// The printer's side of the spool folder and the program: waiting pages written under names
// the program's listing cannot match, handed over under the run mutex as
// VellumTransit<J>-<P>.jpg, and the program beside this exe started on them.
//
// simwin is single-threaded, and the printer calls the platform from its request threads and
// its spool thread, so every platform call of the printer is made holding PlatformLock(), and
// none that can block for long: the waits for the run turn and for the program are polled, and
// a delete that is refused for a moment is retried for at most a second, one file at a time.
// The printer's own lock may be held when the platform lock is taken (a job's note is written
// before its answer), never the other way round.
#pragma once

#include "common/win32.h"

#include <mutex>
#include <string>
#include <vector>

#include "common/run_turn.h"

// The one lock around the printer's platform calls.
std::mutex &PlatformLock();

// The spool folder (the Windows directory's VellumTransit); returns non-zero when it exists.
int FindSpoolFolder(std::string *folder);

// A job the printer answered with success and has not handed over yet. Its note keeps it (how
// many waiting pages it has, its name and user) across a stop, a kill or a power loss.
struct AcceptedJob {
    int id = 0;
    int pages = 0;
    std::string name, user;
};

// Writes the job's note, flushed, before the printer answers for it; returns ERROR_SUCCESS or
// the error (no note is left then).
DWORD NoteAcceptedJob(const std::string &folder, const AcceptedJob &job);

// The path of the job's note, to be deleted with its pages when the job is cancelled or aborted.
std::string AcceptedJobPath(const std::string &folder, int id);

// At the printer's start: completes a hand-over that an earlier printer was stopped in (its
// note names the renames left), keeps each accepted job whose note and waiting pages are whole
// (into *accepted, by job id), and deletes every other waiting page, note and captured output.
void DeleteStalePages(const std::string &folder, std::vector<AcceptedJob> *accepted);

// The last job number handed over, as kept in the spool folder (0 when none is kept).
int LastJobNumber(const std::string &folder);

// Where page (from 1) of a job waits until the job is handed over. Neither the name nor its
// 8.3 short form can match VellumTransit*.jpg: it begins otherwise and ends in ".tmp".
std::string WaitingPageName(const std::string &folder, int jobId, int page);

// Writes one page under its waiting name, a new file; returns ERROR_SUCCESS or the error.
DWORD WriteWaitingPage(const std::string &path, const std::string &jpeg);

// A page written piece by piece, as its document arrives, under its waiting name.
struct WaitingPageWriter {
    std::string path;
    HANDLE file = INVALID_HANDLE_VALUE;
};

// Creates the page, a new file; returns ERROR_SUCCESS or the error.
DWORD OpenWaitingPage(WaitingPageWriter *page, const std::string &path);

// Appends bytes to an open page; on an error the page is closed and deleted.
DWORD AppendWaitingPage(WaitingPageWriter *page, const std::string &bytes);

// Closes an open page, flushed to the disk when keep is set and deleted otherwise; returns
// ERROR_SUCCESS or the error (the page is deleted then). Nothing for a page that is not open.
DWORD CloseWaitingPage(WaitingPageWriter *page, bool keep);

// Reads the first max bytes (or fewer) of a waiting page into bytes; non-zero on success.
int ReadWaitingPage(const std::string &path, size_t max, std::string *bytes);

// Deletes each file, as far as it can, retrying a delete refused for a moment.
void DeletePages(const std::vector<std::string> &paths);

// Waits for the run turn, polling, until it is had or stopNow(context) says to give up;
// non-zero when had. stopNow is called without the platform lock.
int TakeRunTurn(RunTurn *turn, bool (*stopNow)(void *context), void *context);

// Hands the turn back and closes it (under the platform lock, unlike RunTurn's destructor).
void ReleaseRunTurn(RunTurn *turn);

// Renames the waiting pages, in order, to VellumTransit<J>-<P>.jpg with J one above every job
// number in the spool and above the last one handed over (kept first, so that no number is
// ever used twice). The note of the accepted job acceptedId (0: none) goes once the hand-over
// is noted. On failure renames nothing back: it deletes every page of the job and its note and
// returns the error. Call holding the run turn.
DWORD HandOverPages(const std::string &folder, const std::vector<std::string> &waiting,
                    int acceptedId, int *job);

// Starts the program beside this exe with no window and its output captured (in a file named
// for the run), waits for it and returns ERROR_SUCCESS with its last line of output, or the
// error that kept it from running.
DWORD RunProgram(const std::string &folder, int run, std::string *lastLine);
