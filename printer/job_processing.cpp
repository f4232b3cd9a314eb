// The printer's job processing: each job's life, its document's intake and its spool work.
#include "common/win32.h"

#include "printer/job_processing.h"

#include <algorithm>
#include <thread>

#include "common/page_title.h"
#include "common/spool_contract.h"
#include "pdf/jpeg_intake.h"
#include "printer/arrival_watch.h"
#include "printer/jpeg_writer.h"
#include "printer/request_log.h"
#include "printer/spool.h"

namespace {

// Finished jobs kept for Get-Jobs and Get-Job-Attributes; older ones are forgotten.
const size_t kFinishedJobsKept = 100;

// The first value of an attribute as text, or "" when there is none.
std::string TextOf(const IppAttribute *attribute) {
    return attribute && !attribute->values.empty() ? attribute->values[0].bytes : "";
}

// The text of a name value: a nameWithLanguage's is behind its language; "" for other values.
std::string NameText(const IppAttribute *attribute) {
    if (!attribute || attribute->values.empty())
        return "";
    const IppValue &value = attribute->values[0];
    const std::string &bytes = value.bytes;
    if (value.tag == IPP_TAG_NAME)
        return bytes;
    if (value.tag != IPP_TAG_NAME_LANGUAGE || bytes.size() < 4)
        return "";
    size_t language = ((size_t)(unsigned char)bytes[0] << 8) | (unsigned char)bytes[1];
    if (bytes.size() < 4 + language)
        return "";
    size_t text =
        ((size_t)(unsigned char)bytes[2 + language] << 8) | (unsigned char)bytes[3 + language];
    return bytes.substr(4 + language, text);
}

// Takes a job's pages out of it, for deleting, with its note first when it has one. Call with
// printer->lock held.
std::vector<std::string> TakePages(Printer *printer, Job *job) {
    std::vector<std::string> pages;
    if (job->noted)
        pages.push_back(AcceptedJobPath(printer->spoolFolder, job->id));
    job->noted = false;
    pages.insert(pages.end(), job->pageFiles.begin(), job->pageFiles.end());
    job->pageFiles.clear();
    return pages;
}

// Refuses the rest of a document. Returns 0, what FeedDocument returns then.
int Refuse(DocumentIntake *intake, uint16_t status, const std::string &text) {
    if (intake->refusal == IPP_OK) {
        intake->refusal = status;
        intake->refusalText = text;
    }
    return 0;
}

// Writes one page of the job under its waiting name; returns 0 with the refusal set when the
// page cannot be kept.
int KeepPage(DocumentIntake *intake, const std::string &jpeg) {
    std::string name;
    {
        std::lock_guard<std::mutex> guard(intake->printer->lock);
        if (intake->job->state == JOB_CANCELED)
            return Refuse(intake, IPP_JOB_CANCELED, "The job was cancelled.");
        name = WaitingPageName(intake->printer->spoolFolder, intake->job->id,
                               (int)intake->job->pageFiles.size() + 1);
    }
    DWORD error = WriteWaitingPage(name, jpeg);
    if (error != ERROR_SUCCESS)
        return Refuse(intake, IPP_INTERNAL_ERROR,
                      "A page could not be written (error " + std::to_string(error) + ").");
    std::lock_guard<std::mutex> guard(intake->printer->lock);
    intake->job->pageFiles.push_back(name);
    intake->job->lastActivity = std::chrono::steady_clock::now();
    return 1;
}

// A JPEG document's next bytes: held until there are kJpegHeldBytes of them, then written to
// its page file, kJpegHeldBytes at a time.
int KeepJpegBytes(DocumentIntake *intake, const unsigned char *bytes, size_t count) {
    intake->jpeg.append((const char *)bytes, count);
    if (intake->jpeg.size() < kJpegHeldBytes)
        return 1;
    if (intake->jpegPage.file == INVALID_HANDLE_VALUE) {
        intake->jpegHead = intake->jpeg.substr(0, kJpegHeldBytes);
        InsertTitleSegment(&intake->jpeg, intake->title); // the page file starts with it
        std::string name;
        {
            std::lock_guard<std::mutex> guard(intake->printer->lock);
            name = WaitingPageName(intake->printer->spoolFolder, intake->job->id,
                                   (int)intake->job->pageFiles.size() + 1);
        }
        DWORD error = OpenWaitingPage(&intake->jpegPage, name);
        if (error != ERROR_SUCCESS)
            return Refuse(intake, IPP_INTERNAL_ERROR,
                          "A page could not be written (error " + std::to_string(error) + ").");
    }
    DWORD error = AppendWaitingPage(&intake->jpegPage, intake->jpeg);
    intake->jpeg.clear();
    if (error != ERROR_SUCCESS)
        return Refuse(intake, IPP_INTERNAL_ERROR,
                      "A page could not be written (error " + std::to_string(error) + ").");
    return 1;
}

// The whole JPEG document has come: its page is kept (written now when it was held, closed
// when it has its file) if the program can make a page of it. Its page file is deleted
// otherwise.
void KeepJpegDocument(DocumentIntake *intake) {
    bool filed = intake->jpegPage.file != INVALID_HANDLE_VALUE;
    std::string name = intake->jpegPage.path;
    DWORD error = filed && !intake->jpeg.empty()
                      ? AppendWaitingPage(&intake->jpegPage, intake->jpeg)
                      : ERROR_SUCCESS;
    // Closed before it is read back: the file is opened for no one else while it is written.
    if (filed && error == ERROR_SUCCESS)
        error = CloseWaitingPage(&intake->jpegPage, true);
    if (error != ERROR_SUCCESS) {
        Refuse(intake, IPP_INTERNAL_ERROR,
               "A page could not be written (error " + std::to_string(error) + ").");
        return;
    }
    // A JPEG that the program takes is a page as it is; it takes no other kind.
    const std::string &head = filed ? intake->jpegHead : intake->jpeg;
    uint16_t width, height;
    int sized = GetJfifImageSize((const unsigned char *)head.data(), (uint32_t)head.size(), &width,
                                 &height, nullptr);
    std::string whole;
    // The page file is the document with the title's segment in front.
    if (!sized && filed &&
        ReadWaitingPage(name, intake->bytes + 4 + sizeof kPageTitlePrefix + kPageTitleBytes,
                        &whole))
        sized = GetJfifImageSize((const unsigned char *)whole.data(), (uint32_t)whole.size(),
                                 &width, &height, nullptr);
    if (!sized) {
        if (filed)
            DeletePages({name});
        Refuse(intake, IPP_DOCUMENT_FORMAT_ERROR, "Refused: not a JPEG a page can be made of.");
        return;
    }
    LogJpegPage(intake->log, width, height);
    if (!filed) {
        InsertTitleSegment(&intake->jpeg, intake->title);
        KeepPage(intake, intake->jpeg);
        return;
    }
    // A job cancelled meanwhile takes it with its other pages (FinishIntake deletes them).
    std::lock_guard<std::mutex> guard(intake->printer->lock);
    intake->job->pageFiles.push_back(name);
    intake->job->lastActivity = std::chrono::steady_clock::now();
}

// The raster decoder's sink: each page becomes a JPEG under its waiting name.
int KeepRasterPage(void *context, const RasterPage &page) {
    DocumentIntake *intake = static_cast<DocumentIntake *>(context);
    LogRasterPage(intake->log, intake->decoder.pages, page);
    std::string jpeg;
    if (!EncodeJpegPage(page, &jpeg, intake->title))
        return Refuse(intake, IPP_INTERNAL_ERROR, "A page could not be encoded.");
    return KeepPage(intake, jpeg);
}

// Takes the next bytes of the document as it is (inflated, when it came compressed).
int TakeDocumentBytes(DocumentIntake *intake, const unsigned char *bytes, size_t count) {
    if (intake->sniff && intake->bytes == 0) {
        if (bytes[0] != 'R' && bytes[0] != 0xFF)
            return Refuse(intake, IPP_DOCUMENT_FORMAT_ERROR, "Neither PWG raster nor JPEG.");
        intake->raster = bytes[0] == 'R';
    }
    intake->bytes += count;
    if (intake->bytes > intake->maxBytes)
        return Refuse(intake, IPP_TOO_LARGE, "The document is larger than 4 GiB.");
    {
        std::lock_guard<std::mutex> guard(intake->printer->lock);
        intake->job->documentBytes = intake->bytes;
        if (intake->job->state == JOB_CANCELED)
            return Refuse(intake, IPP_JOB_CANCELED, "The job was cancelled.");
    }
    if (!intake->raster) {
        if (intake->bytes > kMaxJpegBytes)
            return Refuse(intake, IPP_TOO_LARGE, "The JPEG document is larger than 64 MiB.");
        return KeepJpegBytes(intake, bytes, count);
    }
    RasterResult result = FeedRaster(&intake->decoder, bytes, count);
    if (result == RASTER_OK)
        return 1;
    if (result == RASTER_TOO_MANY_PAGES)
        return Refuse(intake, IPP_TOO_LARGE, "The document has more than 10000 pages.");
    return Refuse(intake, IPP_DOCUMENT_FORMAT_ERROR,
                  std::string("Refused: ") + RasterResultText(result) + ".");
}

// The inflater's sink.
int TakeInflated(void *context, const unsigned char *bytes, size_t count) {
    return TakeDocumentBytes(static_cast<DocumentIntake *>(context), bytes, count);
}

// The name of the intake's compression, for its messages.
const char *CompressionName(const DocumentIntake &intake) {
    return intake.inflater.kind == INFLATE_GZIP ? "gzip" : "deflate";
}

// The job-state-reasons keyword of a refusal.
const char *RefusalReason(uint16_t refusal) {
    return refusal == IPP_DOCUMENT_FORMAT_ERROR ? "document-format-error"
           : refusal == IPP_COMPRESSION_ERROR   ? "compression-error"
                                                : "aborted-by-system";
}

// Whether the spool thread should give up waiting for the run turn for this job.
bool JobStopped(void *context) {
    auto *pair = static_cast<std::pair<Printer *, Job *> *>(context);
    std::lock_guard<std::mutex> guard(pair->first->lock);
    return pair->first->stopping || pair->second->state == JOB_CANCELED;
}

// A run is about to look for the e-reader: arrivals noticed before now are its to deliver.
void NoteRunStart(Printer *printer) {
    printer->arrived = false;
}

// What waits after a run: the printer says how many documents wait, or else what the run
// printed. Call with printer->lock held.
void NoteWaiting(Printer *printer, int waiting, const std::string &lastLine) {
    printer->documentsWaiting = waiting;
    printer->stateMessage = waiting > 0 ? WaitingMessage(waiting) : lastLine;
    printer->stateChangedAt = PrinterUpTime(*printer);
}

// The arrival watch's note, from whichever thread heard of a device: the spool thread decides.
// It takes no lock (see Printer::arrived).
void NoteArrival(void *context) {
    Printer *printer = static_cast<Printer *>(context);
    printer->arrived = true;
    printer->wake.notify_all();
}

// Watches while something may wait (a count that failed counts), and not otherwise; says on
// stderr how, whenever that changes.
void FollowWaiting(ArrivalWatch *watch, bool waits, ArrivalWay *said) {
    if (!waits) {
        StopArrivalWatch(watch);
        return;
    }
    ArrivalWay way = StartArrivalWatch(watch);
    if (way != *said) {
        fprintf(stderr, "Watching for the e-reader through %s.\n", ArrivalWayName(way));
        *said = way;
    }
}

// One run for an e-reader that may have arrived, only when something waits, under the same
// rules as a job's run: the program takes the run turn itself, and arrivals during it are
// watched for.
void DeliverWaiting(Printer *printer, ArrivalWatch *watch, ArrivalWay *said) {
    // This count answers every arrival noticed before it, whatever it finds: an arrival left
    // noted would bring the spool thread straight back here, listing the spool without end.
    printer->arrived = false;
    int waiting = CountWaitingDocuments(printer->spoolFolder);
    if (waiting == 0) {
        // Delivered meanwhile by a run of someone else's: the count said is no longer true.
        std::lock_guard<std::mutex> guard(printer->lock);
        if (printer->documentsWaiting != 0)
            NoteWaiting(printer, 0, "");
    } else {
        FollowWaiting(watch, true, said);
        {
            std::lock_guard<std::mutex> guard(printer->lock);
            printer->delivering = true;
        }
        NoteRunStart(printer);
        std::string lastLine;
        DWORD error = RunProgram(printer->spoolFolder, 0, &lastLine);
        waiting = CountWaitingDocuments(printer->spoolFolder);
        std::lock_guard<std::mutex> guard(printer->lock);
        printer->delivering = false;
        NoteWaiting(printer, waiting,
                    error == ERROR_SUCCESS ? lastLine
                                           : "The program could not be started (error " +
                                                 std::to_string(error) + ").");
    }
    FollowWaiting(watch, waiting != 0, said);
}

// The spool thread's work on one job: the run turn, the hand-over, the program.
void SpoolJob(Printer *printer, const std::shared_ptr<Job> &job) {
    std::vector<std::string> pages;
    {
        std::lock_guard<std::mutex> guard(printer->lock);
        pages = job->pageFiles;
    }
    RunTurn turn;
    std::pair<Printer *, Job *> context(printer, job.get());
    bool had = TakeRunTurn(&turn, JobStopped, &context) != 0;
    bool go = false;
    {
        std::lock_guard<std::mutex> guard(printer->lock);
        go = had && job->state != JOB_CANCELED && !printer->stopping;
        if (go) {
            // From here on the pages are the spool's: the job can no longer be cancelled.
            job->handedOver = true;
            job->state = JOB_PROCESSING;
            job->reason = "job-printing";
            job->processingAt = PrinterUpTime(*printer);
        }
    }
    int number = 0;
    DWORD error = go ? HandOverPages(printer->spoolFolder, pages, job->noted ? job->id : 0, &number)
                     : ERROR_SUCCESS;
    ReleaseRunTurn(&turn);
    if (!go || error != ERROR_SUCCESS) {
        std::vector<std::string> toDelete;
        {
            std::lock_guard<std::mutex> guard(printer->lock);
            // An accepted job that the stopping printer could not hand over waits, noted, for
            // the next start; the hand-over deleted its pages and note when it failed.
            bool kept = !go && printer->stopping && job->noted && job->state != JOB_CANCELED;
            if (!go && !kept)
                toDelete = TakePages(printer, job.get());
            if (kept)
                job->pageFiles.clear();
        }
        DeletePages(toDelete);
        std::lock_guard<std::mutex> guard(printer->lock);
        job->pageFiles.clear();
        job->noted = false;
        job->spooling = false;
        if (job->state != JOB_CANCELED)
            EndJob(printer, job.get(), JOB_ABORTED, "aborted-by-system",
                   had ? "The pages could not be put in the spool folder (error " +
                             std::to_string(error) + ")."
                       : "The spool folder's turn could not be had.");
        return;
    }
    std::string lastLine;
    NoteRunStart(printer);
    error = RunProgram(printer->spoolFolder, job->id, &lastLine);
    int waiting = CountWaitingDocuments(printer->spoolFolder);
    std::lock_guard<std::mutex> guard(printer->lock);
    job->spooling = false;
    // Runs take the spool in order, so what waits after this job's run holds its document.
    EndJob(printer, job.get(), JOB_COMPLETED,
           waiting != 0 ? "job-completed-with-warnings" : "job-completed-successfully",
           error == ERROR_SUCCESS
               ? lastLine
               : "The pages wait in the spool folder: the program could not be started (error " +
                     std::to_string(error) + ").");
    NoteWaiting(printer, waiting, job->message);
}

// Aborts jobs that were created but got no document within the time limit. Call with
// printer->lock held; returns the pages to delete.
std::vector<std::string> AbortIdleJobs(Printer *printer) {
    std::vector<std::string> toDelete;
    auto now = std::chrono::steady_clock::now();
    for (auto &entry : printer->jobs) {
        Job &job = *entry.second;
        if (JobFinished(job) || job.closed || job.receiving || job.spooling ||
            now - job.lastActivity < std::chrono::seconds(printer->clientTimeoutSeconds))
            continue;
        EndJob(printer, &job, JOB_ABORTED, "aborted-by-system",
               "No document came within " + std::to_string(printer->clientTimeoutSeconds) +
                   " seconds.");
        std::vector<std::string> pages = TakePages(printer, &job);
        toDelete.insert(toDelete.end(), pages.begin(), pages.end());
    }
    return toDelete;
}

} // namespace

std::string RequestTitle(const IppMessage &request) {
    std::string title = NameText(FindIppAttribute(request, IPP_TAG_OPERATION, "job-name"));
    if (title.empty())
        title = NameText(FindIppAttribute(request, IPP_TAG_OPERATION, "document-name-supplied"));
    char clean[kPageTitleBytes + 1];
    size_t length = CleanTitle(title.data(), title.size(), clean, sizeof clean);
    return std::string(clean, length);
}

bool JobFinished(const Job &job) {
    return job.state >= JOB_CANCELED;
}

void EndJob(Printer *printer, Job *job, int state, const std::string &reason,
            const std::string &message) {
    job->state = state;
    job->reason = reason;
    job->message = message;
    job->completedAt = PrinterUpTime(*printer);
    printer->stateChangedAt = job->completedAt;
}

std::shared_ptr<Job> NewJob(Printer *printer, const IppMessage &request) {
    // Forget the oldest finished jobs beyond those kept.
    size_t finished = 0;
    for (const auto &entry : printer->jobs)
        finished += JobFinished(*entry.second);
    for (auto entry = printer->jobs.begin();
         finished > kFinishedJobsKept && entry != printer->jobs.end();)
        if (JobFinished(*entry->second))
            entry = printer->jobs.erase(entry), --finished;
        else
            ++entry;
    auto job = std::make_shared<Job>();
    job->id = printer->nextJobId++;
    job->name = TextOf(FindIppAttribute(request, IPP_TAG_OPERATION, "job-name"));
    job->title = RequestTitle(request);
    if (job->name.empty())
        job->name = "Untitled";
    job->user = TextOf(FindIppAttribute(request, IPP_TAG_OPERATION, "requesting-user-name"));
    if (job->user.empty())
        job->user = "anonymous";
    job->createdAt = PrinterUpTime(*printer);
    job->lastActivity = std::chrono::steady_clock::now();
    printer->jobs[job->id] = job;
    return job;
}

bool CancelOpenJob(Printer *printer, Job *job, std::vector<std::string> *toDelete) {
    if (JobFinished(*job) || job->handedOver)
        return false;
    EndJob(printer, job, JOB_CANCELED, "job-canceled-by-user", "Cancelled.");
    if (!job->receiving && !job->spooling) {
        std::vector<std::string> pages = TakePages(printer, job);
        toDelete->insert(toDelete->end(), pages.begin(), pages.end());
    }
    return true;
}

bool SubmitJob(Printer *printer, Job *job, std::vector<std::string> *toDelete) {
    if (job->pageFiles.empty()) {
        EndJob(printer, job, JOB_COMPLETED, "job-completed-successfully", "No pages to print.");
        return true;
    }
    if (!job->noted) {
        // Noted before the client hears of success: from here on the job outlives the printer.
        AcceptedJob accepted = {job->id, (int)job->pageFiles.size(), job->name, job->user};
        DWORD error = NoteAcceptedJob(printer->spoolFolder, accepted);
        if (error != ERROR_SUCCESS) {
            std::vector<std::string> pages = TakePages(printer, job);
            toDelete->insert(toDelete->end(), pages.begin(), pages.end());
            EndJob(printer, job, JOB_ABORTED, "aborted-by-system",
                   "The job could not be kept (error " + std::to_string(error) + ").");
            return false;
        }
        job->noted = true;
    }
    job->reason = "job-queued";
    printer->spoolQueue.push_back(job->id);
    printer->wake.notify_all();
    return true;
}

void RestoreAcceptedJobs(Printer *printer, const std::vector<AcceptedJob> &accepted,
                         int lastJobNumber) {
    std::lock_guard<std::mutex> guard(printer->lock);
    printer->nextJobId = std::max(printer->nextJobId, lastJobNumber + 1);
    for (const AcceptedJob &entry : accepted) {
        auto job = std::make_shared<Job>();
        job->id = entry.id;
        job->name = entry.name;
        job->user = entry.user;
        job->createdAt = PrinterUpTime(*printer);
        job->lastActivity = std::chrono::steady_clock::now();
        job->documents = 1;
        job->closed = true;
        job->noted = true;
        for (int page = 1; page <= entry.pages; ++page)
            job->pageFiles.push_back(WaitingPageName(printer->spoolFolder, entry.id, page));
        job->reason = "job-queued";
        printer->jobs[job->id] = job;
        printer->spoolQueue.push_back(job->id);
        printer->nextJobId = std::max(printer->nextJobId, entry.id + 1);
    }
}

void StartIntake(DocumentIntake *intake, Printer *printer, const std::shared_ptr<Job> &job,
                 const std::string &format, const std::string &compression) {
    intake->printer = printer;
    intake->job = job;
    {
        std::lock_guard<std::mutex> guard(printer->lock);
        intake->title = job->title;
    }
    intake->raster = format != "image/jpeg";
    intake->sniff = format.empty() || format == "application/octet-stream";
    intake->compressed = compression == "gzip" || compression == "deflate";
    if (intake->compressed)
        StartInflater(&intake->inflater, compression == "gzip" ? INFLATE_GZIP : INFLATE_DEFLATE);
    StartRasterDecoder(&intake->decoder, KeepRasterPage, intake);
}

int FeedDocument(DocumentIntake *intake, const unsigned char *bytes, size_t count) {
    if (intake->refusal != IPP_OK)
        return 0;
    if (count == 0)
        return 1;
    if (intake->closeOnly)
        return Refuse(intake, IPP_MULTIPLE_DOCUMENTS_NOT_SUPPORTED, "A job has one document.");
    // Compressed data that makes nothing (empty deflate blocks, empty gzip members) is bounded
    // too.
    intake->received += count;
    if (intake->received > intake->maxBytes)
        return Refuse(intake, IPP_TOO_LARGE, "The document is larger than 4 GiB.");
    if (!intake->compressed)
        return TakeDocumentBytes(intake, bytes, count);
    switch (FeedInflater(&intake->inflater, bytes, count, TakeInflated, intake)) {
    case INFLATE_OK:
        return 1;
    case INFLATE_SINK_REFUSED:
        return 0;
    case INFLATE_NO_MEMORY:
        return Refuse(intake, IPP_INTERNAL_ERROR, "No memory to decompress the document.");
    default:
        return Refuse(intake, IPP_COMPRESSION_ERROR,
                      std::string("The document is not valid ") + CompressionName(*intake) +
                          " data.");
    }
}

uint16_t FinishIntake(DocumentIntake *intake, bool whole, std::string *text) {
    Printer *printer = intake->printer;
    if (intake->refusal == IPP_OK && !whole)
        Refuse(intake, IPP_BAD_REQUEST, "The document was cut off.");
    if (intake->refusal == IPP_OK && intake->received > 0 && intake->compressed &&
        FinishInflater(&intake->inflater) != INFLATE_OK)
        Refuse(intake, IPP_COMPRESSION_ERROR,
               std::string("The ") + CompressionName(*intake) + " data ends before its end.");
    if (intake->refusal == IPP_OK && intake->bytes > 0 && intake->raster) {
        RasterResult result = FinishRaster(&intake->decoder);
        if (result != RASTER_OK)
            Refuse(intake, IPP_DOCUMENT_FORMAT_ERROR,
                   std::string("Refused: ") + RasterResultText(result) + ".");
    }
    if (intake->refusal == IPP_OK && intake->bytes > 0 && !intake->raster)
        KeepJpegDocument(intake);
    // A JPEG refused or cut off part-way leaves no page file.
    CloseWaitingPage(&intake->jpegPage, false);
    LogDocument(intake->log, intake->received, intake->compressed, intake->bytes,
                intake->raster ? intake->decoder.pages : intake->bytes > 0);
    std::vector<std::string> toDelete;
    uint16_t status = IPP_OK;
    text->clear();
    {
        std::lock_guard<std::mutex> guard(printer->lock);
        Job *job = intake->job.get();
        job->receiving = false;
        job->lastActivity = std::chrono::steady_clock::now();
        if (intake->closeOnly && intake->refusal != IPP_OK && job->state != JOB_CANCELED) {
            // A second document was refused: the job keeps its first, open or closed as it was.
            job->state = JOB_PENDING;
            job->reason = "none";
            if (job->closed)
                SubmitJob(printer, job, &toDelete);
            status = intake->refusal;
            *text = intake->refusalText;
        } else if (intake->refusal != IPP_OK || job->state == JOB_CANCELED) {
            toDelete = TakePages(printer, job);
            if (job->state != JOB_CANCELED)
                EndJob(printer, job, JOB_ABORTED, RefusalReason(intake->refusal),
                       intake->refusalText);
            bool cancelled = job->state == JOB_CANCELED;
            status = cancelled ? (uint16_t)IPP_JOB_CANCELED : intake->refusal;
            *text = cancelled ? "The job was cancelled." : intake->refusalText;
        } else {
            job->documents += intake->bytes > 0;
            job->state = JOB_PENDING;
            job->reason = "none";
            if (intake->lastDocument)
                job->closed = true;
            if (job->closed && !SubmitJob(printer, job, &toDelete)) {
                status = IPP_INTERNAL_ERROR;
                *text = job->message;
            }
        }
    }
    DeletePages(toDelete);
    return status;
}

void RunSpoolThread(Printer *printer) {
    ArrivalWatch watch;
    watch.onArrival = NoteArrival;
    watch.context = printer;
    ArrivalWay said = ARRIVAL_OFF;
    std::unique_lock<std::mutex> guard(printer->lock);
    // What waits from before this start (the printer starts at each logon) is delivered now if
    // the e-reader is there, and watched for if not.
    printer->arrived = true;
    while (!printer->stopping) {
        std::vector<std::string> idle = AbortIdleJobs(printer);
        if (!idle.empty()) {
            guard.unlock();
            DeletePages(idle);
            guard.lock();
            continue;
        }
        if (printer->spoolQueue.empty() && printer->arrived) {
            guard.unlock();
            DeliverWaiting(printer, &watch, &said);
            guard.lock();
            continue;
        }
        if (printer->spoolQueue.empty()) {
            auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            if (watch.way != ARRIVAL_OFF)
                until = std::min(until, watch.nextCheck);
            printer->wake.wait_until(guard, until);
            if (watch.way != ARRIVAL_OFF && !printer->arrived) {
                guard.unlock();
                CheckForArrival(&watch);
                guard.lock();
            }
            continue;
        }
        int id = printer->spoolQueue.front();
        printer->spoolQueue.pop_front();
        auto found = printer->jobs.find(id);
        if (found == printer->jobs.end() || JobFinished(*found->second))
            continue;
        std::shared_ptr<Job> job = found->second;
        job->spooling = true;
        guard.unlock();
        // The job's pages wait from its hand-over on: an e-reader plugged in during its run
        // counts.
        FollowWaiting(&watch, true, &said);
        SpoolJob(printer, job);
        guard.lock();
        bool waits = printer->documentsWaiting != 0;
        guard.unlock();
        FollowWaiting(&watch, waits, &said);
        guard.lock();
    }
    guard.unlock();
    StopArrivalWatch(&watch);
}

void AbortOpenJobs(Printer *printer) {
    std::vector<std::string> toDelete;
    {
        std::lock_guard<std::mutex> guard(printer->lock);
        for (auto &entry : printer->jobs) {
            Job &job = *entry.second;
            // An accepted job stays noted, with its pages, for the printer's next start.
            if (JobFinished(job) || job.handedOver || job.noted)
                continue;
            EndJob(printer, &job, JOB_ABORTED, "aborted-by-system", "The printer stopped.");
            std::vector<std::string> pages = TakePages(printer, &job);
            toDelete.insert(toDelete.end(), pages.begin(), pages.end());
        }
    }
    DeletePages(toDelete);
}
