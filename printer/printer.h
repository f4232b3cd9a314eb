// The printer object: its jobs and state, guarded by one lock, and the printer attributes it
// advertises to clients (Get-Printer-Attributes): its capabilities (printer/capabilities.h),
// its operations (printer/operations.h) and an e-reader's choices: one-sided, one copy,
// face-down.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "printer/ipp.h"

enum JobState {
    JOB_PENDING = 3,
    JOB_PROCESSING = 5,
    JOB_CANCELED = 7,
    JOB_ABORTED = 8,
    JOB_COMPLETED = 9,
};

// One print job. Its page files are owned by whoever works on it: the request thread while a
// document comes in (receiving), the spool thread once it has taken the job (spooling), and
// otherwise whoever ends it.
struct Job {
    int id = 0;
    std::string name, user;
    std::string title; // written into every page: job-name, else document-name-supplied (UTF-8)
    int state = JOB_PENDING;
    std::string reason = "none";                           // job-state-reasons
    std::string message;                                   // job-state-message
    long createdAt = 0, processingAt = 0, completedAt = 0; // printer up-time in seconds
    std::chrono::steady_clock::time_point lastActivity;
    int documents = 0;
    bool closed = false;     // no more documents will come
    bool receiving = false;  // a document is coming in now
    bool spooling = false;   // the spool thread has it
    bool handedOver = false; // its pages are in the spool under their final names
    bool noted = false;      // accepted: its note keeps it for a printer started after a stop
    uint64_t documentBytes = 0;
    std::vector<std::string> pageFiles; // pages written so far, under their waiting names
};

struct RequestLog;

struct Printer {
    int port = 8631;
    int clientTimeoutSeconds = 60;
    std::chrono::steady_clock::time_point started;
    std::string spoolFolder;   // the Windows directory's VellumTransit, found at start
    std::string uuid;          // printer-uuid, the same for every start on this machine
    RequestLog *log = nullptr; // where each request is logged (--log), or null

    std::mutex lock; // guards every field below
    std::map<int, std::shared_ptr<Job>> jobs;
    int nextJobId = 1;
    std::string stateMessage;
    long stateChangedAt = 0;
    std::deque<int> spoolQueue; // closed jobs waiting for the spool thread, in order
    std::condition_variable wake;
    bool stopping = false;
    // An e-reader may have been plugged in since the last run began. Set without the lock: the
    // watch's callbacks may come while the platform lock waits for them, and this lock is taken
    // before that one, never after (a wake-up lost to that costs the spool thread's second).
    std::atomic<bool> arrived{false};
    bool delivering = false;  // a run for waiting documents works now (no job of its own)
    int documentsWaiting = 0; // in the spool for the e-reader after the last run (-1: unknown)
};

// The printer-state-message while documents wait for the e-reader (waiting > 0).
std::string WaitingMessage(int waiting);

// Seconds since the printer started, from 1 on (IPP's up-time is never 0).
long PrinterUpTime(const Printer &printer);

// The printer's URI, or a job's (jobId > 0).
std::string PrinterUri(const Printer &printer, int jobId = 0);

// The page that printer-more-info and printer-supply-info-uri name: what the printer is.
std::string PrinterPage(const Printer &printer);

// Whether any job is coming in or being handed over (the printer is then "processing").
bool PrinterBusy(const Printer &printer);

// Adds the printer attributes that requested names (empty: all) to the response's printer
// group. Call with printer.lock held.
void AddPrinterAttributes(const Printer &printer, const std::set<std::string> &requested,
                          IppMessage *response);

// Adds a dateTime value for the given up-time.
void AddIppDateTime(const Printer &printer, IppAttribute *attribute, long upTime);
