// The printer's jobs: their operations, their documents and their hand-over to the spool.
#include "common/win32.h"

#include "printer/job.h"

#include <algorithm>
#include <thread>

#include "pdf/jpeg_intake.h"
#include "printer/jpeg_writer.h"
#include "printer/spool.h"

namespace {

// Finished jobs kept for Get-Jobs and Get-Job-Attributes; older ones are forgotten.
const size_t kFinishedJobsKept = 100;

// The first value of an attribute as text, or "" when there is none.
std::string TextOf(const IppAttribute *attribute) {
    return attribute && !attribute->values.empty() ? attribute->values[0].bytes : "";
}

// The requested-attributes of a request, or the given default.
std::set<std::string> Requested(const IppMessage &request, std::set<std::string> fallback) {
    const IppAttribute *asked =
        FindIppAttribute(request, IPP_TAG_OPERATION, "requested-attributes");
    if (!asked)
        return fallback;
    std::set<std::string> names;
    for (const IppValue &value : asked->values)
        names.insert(value.bytes);
    return names;
}

// The job a request names by job-id, or by the number at the end of its job-uri; 0 for none.
int JobIdOf(const IppMessage &request) {
    if (const IppAttribute *id = FindIppAttribute(request, IPP_TAG_OPERATION, "job-id"))
        return id->values.size() == 1 ? IppValueInteger(id->values[0], 0) : 0;
    std::string uri = TextOf(FindIppAttribute(request, IPP_TAG_OPERATION, "job-uri"));
    size_t slash = uri.find_last_of('/');
    if (slash == std::string::npos || slash + 1 >= uri.size() || uri.size() - slash > 10)
        return 0;
    int id = 0;
    for (size_t i = slash + 1; i < uri.size(); ++i) {
        if (uri[i] < '0' || uri[i] > '9')
            return 0;
        id = id * 10 + (uri[i] - '0');
    }
    return id;
}

// The named job, or null with the refusal in response. Call with printer->lock held.
std::shared_ptr<Job> NamedJob(Printer *printer, const IppMessage &request, IppMessage *response) {
    int id = JobIdOf(request);
    if (id <= 0) {
        SetStatus(response, IPP_BAD_REQUEST, "No job-id.");
        return nullptr;
    }
    auto found = printer->jobs.find(id);
    if (found == printer->jobs.end()) {
        SetStatus(response, IPP_NOT_FOUND, "No job " + std::to_string(id) + ".");
        return nullptr;
    }
    return found->second;
}

// Whether the job has ended, one way or another.
bool Finished(const Job &job) {
    return job.state >= JOB_CANCELED;
}

// Ends a job. Call with printer->lock held.
void EndJob(Printer *printer, Job *job, int state, const std::string &reason,
            const std::string &message) {
    job->state = state;
    job->reason = reason;
    job->message = message;
    job->completedAt = PrinterUpTime(*printer);
    printer->stateChangedAt = job->completedAt;
}

// Adds the job's attributes that requested names (all of them for "all") to response.
void AddJobAttributes(const Printer &printer, const Job &job, const std::set<std::string> &asked,
                      IppMessage *response) {
    bool all = asked.count("all") || asked.count("job-description") || asked.count("job-status");
    auto add = [&](const char *name) {
        return all || asked.count(name) ? AddIppAttribute(response, IPP_TAG_JOB, name) : nullptr;
    };
    auto time = [&](const char *name, long at) {
        if (IppAttribute *attribute = add(name)) {
            if (at)
                AddIppInteger(attribute, IPP_TAG_INTEGER, (int32_t)at);
            else
                AddIppOutOfBand(attribute, IPP_TAG_NO_VALUE);
        }
    };
    auto date = [&](const char *name, long at) {
        if (IppAttribute *attribute = add(name)) {
            if (at)
                AddIppDateTime(printer, attribute, at);
            else
                AddIppOutOfBand(attribute, IPP_TAG_NO_VALUE);
        }
    };
    IppAttribute *attribute;
    if ((attribute = add("job-id")))
        AddIppInteger(attribute, IPP_TAG_INTEGER, job.id);
    if ((attribute = add("job-uri")))
        AddIppText(attribute, IPP_TAG_URI, PrinterUri(printer, job.id));
    if ((attribute = add("job-printer-uri")))
        AddIppText(attribute, IPP_TAG_URI, PrinterUri(printer));
    if ((attribute = add("job-name")))
        AddIppText(attribute, IPP_TAG_NAME, job.name);
    if ((attribute = add("job-originating-user-name")))
        AddIppText(attribute, IPP_TAG_NAME, job.user);
    if ((attribute = add("job-state")))
        AddIppInteger(attribute, IPP_TAG_ENUM, job.state);
    if ((attribute = add("job-state-reasons")))
        AddIppText(attribute, IPP_TAG_KEYWORD, job.reason);
    if ((attribute = add("job-state-message")))
        AddIppText(attribute, IPP_TAG_TEXT, job.message);
    if ((attribute = add("job-printer-up-time")))
        AddIppInteger(attribute, IPP_TAG_INTEGER, (int32_t)PrinterUpTime(printer));
    time("time-at-creation", job.createdAt);
    time("time-at-processing", job.processingAt);
    time("time-at-completed", job.completedAt);
    date("date-time-at-creation", job.createdAt);
    date("date-time-at-processing", job.processingAt);
    date("date-time-at-completed", job.completedAt);
    if ((attribute = add("number-of-documents")))
        AddIppInteger(attribute, IPP_TAG_INTEGER, job.documents);
    if ((attribute = add("job-impressions-completed")))
        AddIppInteger(attribute, IPP_TAG_INTEGER, (int32_t)job.pageFiles.size());
    if ((attribute = add("job-k-octets")))
        AddIppInteger(attribute, IPP_TAG_INTEGER,
                      (int32_t)std::min<uint64_t>((job.documentBytes + 1023) / 1024, 0x7FFFFFFF));
}

// What a job-creating request answers: the job's identity and state.
void AddNewJobAttributes(const Printer &printer, const Job &job, IppMessage *response) {
    AddJobAttributes(printer, job,
                     {"job-id", "job-uri", "job-state", "job-state-reasons", "job-state-message"},
                     response);
}

// Makes a job for a Print-Job or Create-Job request. Call with printer->lock held.
std::shared_ptr<Job> NewJob(Printer *printer, const IppMessage &request) {
    // Forget the oldest finished jobs beyond those kept.
    size_t finished = 0;
    for (const auto &entry : printer->jobs)
        finished += Finished(*entry.second);
    for (auto entry = printer->jobs.begin();
         finished > kFinishedJobsKept && entry != printer->jobs.end();)
        if (Finished(*entry->second))
            entry = printer->jobs.erase(entry), --finished;
        else
            ++entry;
    auto job = std::make_shared<Job>();
    job->id = printer->nextJobId++;
    job->name = TextOf(FindIppAttribute(request, IPP_TAG_OPERATION, "job-name"));
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

// Takes a job's pages out of it, for deleting. Call with printer->lock held.
std::vector<std::string> TakePages(Job *job) {
    std::vector<std::string> pages;
    pages.swap(job->pageFiles);
    return pages;
}

// Cancels a job that is not yet handed over; its pages are deleted by whoever works on it.
// Returns false when the job can no longer be cancelled. Call with printer->lock held.
bool Cancel(Printer *printer, Job *job, std::vector<std::string> *toDelete) {
    if (Finished(*job) || job->handedOver)
        return false;
    EndJob(printer, job, JOB_CANCELED, "job-canceled-by-user", "Cancelled.");
    if (!job->receiving && !job->spooling) {
        std::vector<std::string> pages = TakePages(job);
        toDelete->insert(toDelete->end(), pages.begin(), pages.end());
    }
    return true;
}

// Queues a closed job for the spool thread, or ends it when it has no page. Call with
// printer->lock held.
void Submit(Printer *printer, Job *job) {
    if (job->pageFiles.empty()) {
        EndJob(printer, job, JOB_COMPLETED, "job-completed-successfully", "No pages to print.");
        return;
    }
    job->reason = "job-queued";
    printer->spoolQueue.push_back(job->id);
    printer->wake.notify_all();
}

// Writes one page of the job under its waiting name; returns 0 with the refusal set when the
// page cannot be kept.
int KeepPage(DocumentIntake *intake, const std::string &jpeg) {
    std::string name;
    {
        std::lock_guard<std::mutex> guard(intake->printer->lock);
        if (intake->job->state == JOB_CANCELED) {
            intake->refusal = IPP_JOB_CANCELED;
            intake->refusalText = "The job was cancelled.";
            return 0;
        }
        name = WaitingPageName(intake->printer->spoolFolder, intake->job->id,
                               (int)intake->job->pageFiles.size() + 1);
    }
    DWORD error = WriteWaitingPage(name, jpeg);
    if (error != ERROR_SUCCESS) {
        intake->refusal = IPP_INTERNAL_ERROR;
        intake->refusalText = "A page could not be written (error " + std::to_string(error) + ").";
        return 0;
    }
    std::lock_guard<std::mutex> guard(intake->printer->lock);
    intake->job->pageFiles.push_back(name);
    intake->job->lastActivity = std::chrono::steady_clock::now();
    return 1;
}

// The raster decoder's sink: each page becomes a JPEG under its waiting name.
int KeepRasterPage(void *context, const RasterPage &page) {
    DocumentIntake *intake = static_cast<DocumentIntake *>(context);
    std::string jpeg;
    if (!EncodeJpegPage(page, &jpeg)) {
        intake->refusal = IPP_INTERNAL_ERROR;
        intake->refusalText = "A page could not be encoded.";
        return 0;
    }
    return KeepPage(intake, jpeg);
}

// Refuses the rest of a document. Returns 0, what FeedDocument returns then.
int Refuse(DocumentIntake *intake, uint16_t status, const std::string &text) {
    if (intake->refusal == IPP_OK) {
        intake->refusal = status;
        intake->refusalText = text;
    }
    return 0;
}

// Whether the spool thread should give up waiting for the run turn for this job.
bool JobStopped(void *context) {
    auto *pair = static_cast<std::pair<Printer *, Job *> *>(context);
    std::lock_guard<std::mutex> guard(pair->first->lock);
    return pair->first->stopping || pair->second->state == JOB_CANCELED;
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
    DWORD error = go ? HandOverPages(printer->spoolFolder, pages, &number) : ERROR_SUCCESS;
    ReleaseRunTurn(&turn);
    if (!go || error != ERROR_SUCCESS) {
        if (!go)
            DeletePages(pages);
        std::lock_guard<std::mutex> guard(printer->lock);
        job->pageFiles.clear();
        job->spooling = false;
        if (job->state != JOB_CANCELED)
            EndJob(printer, job.get(), JOB_ABORTED, "aborted-by-system",
                   had ? "The pages could not be put in the spool folder (error " +
                             std::to_string(error) + ")."
                       : "The spool folder's turn could not be had.");
        return;
    }
    std::string lastLine;
    error = RunProgram(printer->spoolFolder, job->id, &lastLine);
    std::lock_guard<std::mutex> guard(printer->lock);
    job->spooling = false;
    EndJob(printer, job.get(), JOB_COMPLETED, "job-completed-successfully",
           error == ERROR_SUCCESS
               ? lastLine
               : "The pages wait in the spool folder: the program could not be started (error " +
                     std::to_string(error) + ").");
    printer->stateMessage = job->message;
}

// Aborts jobs that were created but got no document within the time limit. Call with
// printer->lock held; returns the pages to delete.
std::vector<std::string> AbortIdleJobs(Printer *printer) {
    std::vector<std::string> toDelete;
    auto now = std::chrono::steady_clock::now();
    for (auto &entry : printer->jobs) {
        Job &job = *entry.second;
        if (Finished(job) || job.closed || job.receiving || job.spooling ||
            now - job.lastActivity < std::chrono::seconds(printer->clientTimeoutSeconds))
            continue;
        EndJob(printer, &job, JOB_ABORTED, "aborted-by-system",
               "No document came within " + std::to_string(printer->clientTimeoutSeconds) +
                   " seconds.");
        std::vector<std::string> pages = TakePages(&job);
        toDelete.insert(toDelete.end(), pages.begin(), pages.end());
    }
    return toDelete;
}

} // namespace

void SetStatus(IppMessage *response, uint16_t status, const std::string &message) {
    response->code = status;
    if (message.empty())
        return;
    // status-message belongs with the operation attributes, after the charset and language.
    IppAttribute attribute;
    attribute.group = IPP_TAG_OPERATION;
    attribute.name = "status-message";
    AddIppText(&attribute, IPP_TAG_TEXT, message.substr(0, 255));
    auto &attributes = response->attributes;
    for (auto at = attributes.begin(); at != attributes.end(); ++at)
        if (at->group == IPP_TAG_OPERATION && at->name == "status-message")
            return void(*at = attribute);
    size_t place = 0;
    while (place < attributes.size() && attributes[place].group == IPP_TAG_OPERATION)
        ++place;
    attributes.insert(attributes.begin() + (long)place, attribute);
}

bool CheckDocumentAttributes(const IppMessage &request, IppMessage *response) {
    const IppAttribute *format = FindIppAttribute(request, IPP_TAG_OPERATION, "document-format");
    std::string type = TextOf(format);
    if (format && type != "image/pwg-raster" && type != "image/jpeg" &&
        type != "application/octet-stream") {
        SetStatus(response, IPP_FORMAT_NOT_SUPPORTED,
                  "Only image/pwg-raster and image/jpeg are printed.");
        return false;
    }
    const IppAttribute *compression = FindIppAttribute(request, IPP_TAG_OPERATION, "compression");
    if (compression && TextOf(compression) != "none") {
        SetStatus(response, IPP_COMPRESSION_NOT_SUPPORTED, "Only uncompressed documents.");
        return false;
    }
    return true;
}

void CreateJob(Printer *printer, const IppMessage &request, IppMessage *response) {
    std::lock_guard<std::mutex> guard(printer->lock);
    std::shared_ptr<Job> job = NewJob(printer, request);
    SetStatus(response, IPP_OK, "");
    AddNewJobAttributes(*printer, *job, response);
}

void CloseJob(Printer *printer, const IppMessage &request, IppMessage *response) {
    std::lock_guard<std::mutex> guard(printer->lock);
    std::shared_ptr<Job> job = NamedJob(printer, request, response);
    if (!job)
        return;
    if (Finished(*job) || job->closed) {
        SetStatus(response, IPP_NOT_POSSIBLE, "The job is already closed.");
        return;
    }
    job->closed = true;
    if (!job->receiving)
        Submit(printer, job.get());
    SetStatus(response, IPP_OK, "");
    AddNewJobAttributes(*printer, *job, response);
}

void CancelJob(Printer *printer, const IppMessage &request, IppMessage *response) {
    std::vector<std::string> toDelete;
    {
        std::lock_guard<std::mutex> guard(printer->lock);
        std::shared_ptr<Job> job = NamedJob(printer, request, response);
        if (!job)
            return;
        if (!Cancel(printer, job.get(), &toDelete)) {
            SetStatus(response, IPP_NOT_POSSIBLE,
                      Finished(*job) ? "The job has ended." : "The job's pages are spooled.");
            return;
        }
        SetStatus(response, IPP_OK, "");
    }
    DeletePages(toDelete);
}

void CancelMyJobs(Printer *printer, const IppMessage &request, IppMessage *response) {
    std::string user = TextOf(FindIppAttribute(request, IPP_TAG_OPERATION, "requesting-user-name"));
    if (user.empty())
        user = "anonymous";
    std::set<int> only;
    if (const IppAttribute *ids = FindIppAttribute(request, IPP_TAG_OPERATION, "job-ids"))
        for (const IppValue &value : ids->values)
            only.insert(IppValueInteger(value, 0));
    std::vector<std::string> toDelete;
    {
        std::lock_guard<std::mutex> guard(printer->lock);
        for (auto &entry : printer->jobs)
            if (entry.second->user == user && (only.empty() || only.count(entry.first)))
                Cancel(printer, entry.second.get(), &toDelete);
        SetStatus(response, IPP_OK, "");
    }
    DeletePages(toDelete);
}

void GetJobAttributes(Printer *printer, const IppMessage &request, IppMessage *response) {
    std::lock_guard<std::mutex> guard(printer->lock);
    std::shared_ptr<Job> job = NamedJob(printer, request, response);
    if (!job)
        return;
    SetStatus(response, IPP_OK, "");
    AddJobAttributes(*printer, *job, Requested(request, {"all"}), response);
}

void GetJobs(Printer *printer, const IppMessage &request, IppMessage *response) {
    std::string which = TextOf(FindIppAttribute(request, IPP_TAG_OPERATION, "which-jobs"));
    if (which.empty())
        which = "not-completed";
    if (which != "not-completed" && which != "completed" && which != "all") {
        SetStatus(response, IPP_ATTRIBUTES_NOT_SUPPORTED, "which-jobs: " + which);
        return;
    }
    const IppAttribute *mine = FindIppAttribute(request, IPP_TAG_OPERATION, "my-jobs");
    std::string user = TextOf(FindIppAttribute(request, IPP_TAG_OPERATION, "requesting-user-name"));
    const IppAttribute *limitAttribute = FindIppAttribute(request, IPP_TAG_OPERATION, "limit");
    int32_t limit = limitAttribute ? IppValueInteger(limitAttribute->values[0], 0) : 0;
    std::set<std::string> asked = Requested(request, {"job-id", "job-uri"});
    std::lock_guard<std::mutex> guard(printer->lock);
    SetStatus(response, IPP_OK, "");
    int32_t listed = 0;
    for (const auto &entry : printer->jobs) {
        const Job &job = *entry.second;
        if ((which == "completed" && !Finished(job)) || (which == "not-completed" && Finished(job)))
            continue;
        if (mine && IppValueInteger(mine->values[0], 0) && job.user != user)
            continue;
        if (limit > 0 && listed++ >= limit)
            break;
        size_t first = response->attributes.size();
        AddJobAttributes(*printer, job, asked, response);
        // Each job is a group of its own.
        if (first < response->attributes.size())
            response->attributes[first].newGroup = true;
    }
}

bool BeginDocument(Printer *printer, const IppMessage &request, DocumentIntake *intake,
                   IppMessage *response) {
    if (!CheckDocumentAttributes(request, response))
        return false;
    std::string type = TextOf(FindIppAttribute(request, IPP_TAG_OPERATION, "document-format"));
    intake->printer = printer;
    intake->raster = type != "image/jpeg";
    intake->sniff = type.empty() || type == "application/octet-stream";
    {
        std::lock_guard<std::mutex> guard(printer->lock);
        if (request.code == 0x0002) {
            intake->job = NewJob(printer, request);
            intake->job->closed = true;
        } else {
            intake->job = NamedJob(printer, request, response);
            if (!intake->job)
                return false;
            const IppAttribute *last =
                FindIppAttribute(request, IPP_TAG_OPERATION, "last-document");
            if (!last || last->values.size() != 1 || last->values[0].tag != IPP_TAG_BOOLEAN) {
                SetStatus(response, IPP_BAD_REQUEST, "No last-document.");
                return false;
            }
            intake->lastDocument = IppValueInteger(last->values[0], 0) != 0;
            if (Finished(*intake->job) || intake->job->closed || intake->job->receiving) {
                SetStatus(response, IPP_NOT_POSSIBLE, "The job takes no more documents.");
                return false;
            }
            // After the job's document, a last Send-Document without data closes the job (as
            // Close-Job would); one with data is refused when its data comes.
            if (intake->job->documents > 0 && !intake->lastDocument) {
                SetStatus(response, IPP_MULTIPLE_DOCUMENTS_NOT_SUPPORTED,
                          "A job has one document.");
                return false;
            }
            intake->closeOnly = intake->job->documents > 0;
        }
        intake->job->receiving = true;
        intake->job->state = JOB_PROCESSING;
        intake->job->reason = "job-incoming";
        intake->job->processingAt = PrinterUpTime(*printer);
    }
    StartRasterDecoder(&intake->decoder, KeepRasterPage, intake);
    return true;
}

int FeedDocument(DocumentIntake *intake, const unsigned char *bytes, size_t count) {
    if (intake->refusal != IPP_OK)
        return 0;
    if (count == 0)
        return 1;
    if (intake->closeOnly)
        return Refuse(intake, IPP_MULTIPLE_DOCUMENTS_NOT_SUPPORTED, "A job has one document.");
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
        if (intake->jpeg.size() + count > kMaxJpegBytes)
            return Refuse(intake, IPP_TOO_LARGE, "The JPEG document is larger than 64 MiB.");
        intake->jpeg.append((const char *)bytes, count);
        return 1;
    }
    RasterResult result = FeedRaster(&intake->decoder, bytes, count);
    if (result == RASTER_OK)
        return 1;
    if (result == RASTER_TOO_MANY_PAGES)
        return Refuse(intake, IPP_TOO_LARGE, "The document has more than 10000 pages.");
    return Refuse(intake, IPP_DOCUMENT_FORMAT_ERROR,
                  std::string("Refused: ") + RasterResultText(result) + ".");
}

void EndDocument(DocumentIntake *intake, bool whole, IppMessage *response) {
    Printer *printer = intake->printer;
    if (intake->refusal == IPP_OK && !whole)
        Refuse(intake, IPP_BAD_REQUEST, "The document was cut off.");
    if (intake->refusal == IPP_OK && intake->bytes > 0 && intake->raster) {
        RasterResult result = FinishRaster(&intake->decoder);
        if (result != RASTER_OK)
            Refuse(intake, IPP_DOCUMENT_FORMAT_ERROR,
                   std::string("Refused: ") + RasterResultText(result) + ".");
    }
    if (intake->refusal == IPP_OK && intake->bytes > 0 && !intake->raster) {
        // A JPEG that the program takes is a page as it is; it takes no other kind.
        uint16_t width, height;
        if (!GetJfifImageSize((const unsigned char *)intake->jpeg.data(),
                              (uint32_t)intake->jpeg.size(), &width, &height, nullptr))
            Refuse(intake, IPP_DOCUMENT_FORMAT_ERROR, "Refused: not a JPEG a page can be made of.");
        else
            KeepPage(intake, intake->jpeg);
    }
    std::vector<std::string> toDelete;
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
                Submit(printer, job);
            SetStatus(response, intake->refusal, intake->refusalText);
        } else if (intake->refusal != IPP_OK || job->state == JOB_CANCELED) {
            toDelete = TakePages(job);
            if (job->state != JOB_CANCELED)
                EndJob(printer, job, JOB_ABORTED,
                       intake->refusal == IPP_DOCUMENT_FORMAT_ERROR ? "document-format-error"
                                                                    : "aborted-by-system",
                       intake->refusalText);
            bool cancelled = job->state == JOB_CANCELED;
            SetStatus(response, cancelled ? (uint16_t)IPP_JOB_CANCELED : intake->refusal,
                      cancelled ? "The job was cancelled." : intake->refusalText);
        } else {
            job->documents += intake->bytes > 0;
            job->state = JOB_PENDING;
            job->reason = "none";
            if (intake->lastDocument)
                job->closed = true;
            if (job->closed)
                Submit(printer, job);
            SetStatus(response, IPP_OK, "");
        }
        AddNewJobAttributes(*printer, *job, response);
    }
    DeletePages(toDelete);
}

void RunSpoolThread(Printer *printer) {
    std::unique_lock<std::mutex> guard(printer->lock);
    while (!printer->stopping) {
        std::vector<std::string> idle = AbortIdleJobs(printer);
        if (!idle.empty()) {
            guard.unlock();
            DeletePages(idle);
            guard.lock();
            continue;
        }
        if (printer->spoolQueue.empty()) {
            printer->wake.wait_for(guard, std::chrono::seconds(1));
            continue;
        }
        int id = printer->spoolQueue.front();
        printer->spoolQueue.pop_front();
        auto found = printer->jobs.find(id);
        if (found == printer->jobs.end() || Finished(*found->second))
            continue;
        std::shared_ptr<Job> job = found->second;
        job->spooling = true;
        guard.unlock();
        SpoolJob(printer, job);
        guard.lock();
    }
}

void AbortOpenJobs(Printer *printer) {
    std::vector<std::string> toDelete;
    {
        std::lock_guard<std::mutex> guard(printer->lock);
        for (auto &entry : printer->jobs) {
            Job &job = *entry.second;
            if (Finished(job) || job.handedOver)
                continue;
            EndJob(printer, &job, JOB_ABORTED, "aborted-by-system", "The printer stopped.");
            std::vector<std::string> pages = TakePages(&job);
            toDelete.insert(toDelete.end(), pages.begin(), pages.end());
        }
    }
    DeletePages(toDelete);
}
