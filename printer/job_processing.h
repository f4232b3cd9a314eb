// The printer's job processing: a job's life (made, ended, queued for the spool, cancelled), its
// document taken in as it arrives (inflated when compressed, decoded page by page, each page
// kept under its waiting name), and the spool thread's work on each closed job. The IPP
// operations on jobs are in printer/job_operations.h.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "printer/inflate.h"
#include "printer/ipp.h"
#include "printer/printer.h"
#include "printer/raster.h"
#include "printer/spool.h"

// The largest document a job takes (as decompressed, and as received), and the largest JPEG
// document. A JPEG is held in memory up to kJpegHeldBytes; a larger one goes to its page file
// as it comes, that much at a time, so that documents in flight hold little memory however
// large they are (its frame header is looked for in its first kJpegHeldBytes, and only when
// it is not there is the file read back).
const unsigned long long kMaxDocumentBytes = 4ull << 30;
const size_t kMaxJpegBytes = 64u << 20;
const size_t kJpegHeldBytes = 1u << 20;

// One document coming in for a job (Print-Job or Send-Document).
struct DocumentIntake {
    Printer *printer = nullptr;
    std::shared_ptr<Job> job;
    std::string title;  // the job's title, written into each of its pages
    bool raster = true; // else a JPEG, one page
    bool sniff = false; // application/octet-stream: decided by the first bytes
    bool lastDocument = true;
    bool closeOnly = false;  // the job has its document: this one may only close it (no data)
    bool compressed = false; // gzip or deflate: inflated before anything else
    Inflater inflater;
    RasterDecoder decoder;
    std::string jpeg;           // a JPEG's bytes not yet in its page file
    std::string jpegHead;       // its first kJpegHeldBytes, once it has a page file
    WaitingPageWriter jpegPage; // its page file, once it has more than kJpegHeldBytes
    uint64_t received = 0;      // the bytes as they came
    uint64_t bytes = 0;         // the document's bytes, inflated
    uint64_t maxBytes = kMaxDocumentBytes;
    uint16_t refusal = IPP_OK; // why the document was refused, once it was
    std::string refusalText;
    std::string *log = nullptr; // the request log's lines for this request, when it is kept
};

// Whether the job has ended, one way or another.
bool JobFinished(const Job &job);

// The title a request gives its job's pages: job-name (name or nameWithLanguage), else
// document-name-supplied, as valid UTF-8 of at most kPageTitleBytes; "" for none.
std::string RequestTitle(const IppMessage &request);

// Makes a job for a Print-Job or Create-Job request. Call with printer->lock held.
std::shared_ptr<Job> NewJob(Printer *printer, const IppMessage &request);

// Ends a job. Call with printer->lock held.
void EndJob(Printer *printer, Job *job, int state, const std::string &reason,
            const std::string &message);

// Cancels a job that is not yet handed over, adding the pages to delete (those no one else
// works on); false when the job can no longer be cancelled. Call with printer->lock held.
bool CancelOpenJob(Printer *printer, Job *job, std::vector<std::string> *toDelete);

// Queues a closed job for the spool thread, or ends it when it has no page. A job with pages is
// first noted on the disk, so that a printer stopped before its hand-over hands it over when it
// starts again; false when the note could not be written: the job is aborted, and its pages
// are added to toDelete. Call with printer->lock held.
bool SubmitJob(Printer *printer, Job *job, std::vector<std::string> *toDelete);

// Takes back the jobs that an earlier printer accepted and did not hand over, queued for the
// spool thread in the order of their ids; later jobs are numbered above them and above
// lastJobNumber. Call before the printer serves anyone.
void RestoreAcceptedJobs(Printer *printer, const std::vector<AcceptedJob> &accepted,
                         int lastJobNumber);

// Starts taking in a document of that format ("" for none given) and compression ("" or "none",
// "gzip", "deflate") for the job; its receiving has been marked.
void StartIntake(DocumentIntake *intake, Printer *printer, const std::shared_ptr<Job> &job,
                 const std::string &format, const std::string &compression);

// Takes the next piece of the document; returns 0 once the document is refused.
int FeedDocument(DocumentIntake *intake, const unsigned char *bytes, size_t count);

// The document has ended (whole: all of it arrived). Ends the job if it failed, queues it for
// the spool when it is complete; returns the status to answer with (the reason in *text).
uint16_t FinishIntake(DocumentIntake *intake, bool whole, std::string *text);

// The spool thread: hands each closed job's pages over and runs the program, until the
// printer stops. Also aborts jobs left without a document for too long.
void RunSpoolThread(Printer *printer);

// Ends every job that still holds pages (the printer is stopping). Call only once no request
// is being served and the spool thread has ended: nothing else then works on a job.
void AbortOpenJobs(Printer *printer);
