// The printer's job operations: creating jobs, taking in their documents page by page, closing,
// cancelling and describing them, and the spool thread's work on each closed job.
#pragma once

#include <memory>
#include <string>

#include "printer/ipp.h"
#include "printer/printer.h"
#include "printer/raster.h"

// IPP status codes that the printer answers with.
enum IppStatus : uint16_t {
    IPP_OK = 0x0000,
    IPP_BAD_REQUEST = 0x0400,
    IPP_NOT_POSSIBLE = 0x0404,
    IPP_NOT_FOUND = 0x0406,
    IPP_TOO_LARGE = 0x0408,
    IPP_FORMAT_NOT_SUPPORTED = 0x040A,
    IPP_ATTRIBUTES_NOT_SUPPORTED = 0x040B,
    IPP_COMPRESSION_NOT_SUPPORTED = 0x040F,
    IPP_DOCUMENT_FORMAT_ERROR = 0x0411,
    IPP_INTERNAL_ERROR = 0x0500,
    IPP_OPERATION_NOT_SUPPORTED = 0x0501,
    IPP_VERSION_NOT_SUPPORTED = 0x0503,
    IPP_JOB_CANCELED = 0x0508,
    IPP_MULTIPLE_DOCUMENTS_NOT_SUPPORTED = 0x0509,
};

// The largest document a job takes, and the largest JPEG document (which is kept in memory).
const unsigned long long kMaxDocumentBytes = 4ull << 30;
const size_t kMaxJpegBytes = 64u << 20;

// The response being built: its status and its status-message.
void SetStatus(IppMessage *response, uint16_t status, const std::string &message);

// One document coming in for a job (Print-Job or Send-Document).
struct DocumentIntake {
    Printer *printer = nullptr;
    std::shared_ptr<Job> job;
    bool raster = true; // else a JPEG, one page
    bool sniff = false; // application/octet-stream: decided by the first bytes
    bool lastDocument = true;
    bool closeOnly = false; // the job has its document: this one may only close it (no data)
    RasterDecoder decoder;
    std::string jpeg;
    uint64_t bytes = 0;
    uint64_t maxBytes = kMaxDocumentBytes;
    uint16_t refusal = IPP_OK; // why the document was refused, once it was
    std::string refusalText;
};

// Operations that take no document. Each fills response (status, job or printer attributes).
void CreateJob(Printer *printer, const IppMessage &request, IppMessage *response);
void CloseJob(Printer *printer, const IppMessage &request, IppMessage *response);
void CancelJob(Printer *printer, const IppMessage &request, IppMessage *response);
void CancelMyJobs(Printer *printer, const IppMessage &request, IppMessage *response);
void GetJobAttributes(Printer *printer, const IppMessage &request, IppMessage *response);
void GetJobs(Printer *printer, const IppMessage &request, IppMessage *response);

// Whether the document format and compression of a request are ones the printer takes;
// otherwise fills response with the refusal.
bool CheckDocumentAttributes(const IppMessage &request, IppMessage *response);

// Print-Job and Send-Document: starts intake for a new job or the one named; false with the
// refusal in response when there is nothing to take in.
bool BeginDocument(Printer *printer, const IppMessage &request, DocumentIntake *intake,
                   IppMessage *response);

// Takes the next piece of the document; returns 0 once the document is refused.
int FeedDocument(DocumentIntake *intake, const unsigned char *bytes, size_t count);

// The document has ended (whole: all of it arrived); answers with the job's attributes or the
// refusal, and ends the job if it failed or queues it for the spool when it is complete.
void EndDocument(DocumentIntake *intake, bool whole, IppMessage *response);

// The spool thread: hands each closed job's pages over and runs the program, until the
// printer stops. Also aborts jobs left without a document for too long.
void RunSpoolThread(Printer *printer);

// Ends every job that still holds pages (the printer is stopping). Call only once no request
// is being served and the spool thread has ended: nothing else then works on a job.
void AbortOpenJobs(Printer *printer);
