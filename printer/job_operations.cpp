// The printer's IPP operations on jobs.
#include "common/win32.h"

#include "printer/job_operations.h"

#include "printer/capabilities.h"
#include "printer/spool.h"

namespace {

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
        SetIppStatus(response, IPP_BAD_REQUEST, "No job-id.");
        return nullptr;
    }
    auto found = printer->jobs.find(id);
    if (found == printer->jobs.end()) {
        SetIppStatus(response, IPP_NOT_FOUND, "No job " + std::to_string(id) + ".");
        return nullptr;
    }
    return found->second;
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

} // namespace

bool CheckDocumentAttributes(const IppMessage &request, IppMessage *response) {
    const Capabilities &can = PrinterCapabilities();
    const IppAttribute *format = FindIppAttribute(request, IPP_TAG_OPERATION, "document-format");
    if (format && !SupportsFormat(can, TextOf(format).c_str())) {
        SetIppStatus(response, IPP_FORMAT_NOT_SUPPORTED,
                     "Only image/pwg-raster and image/jpeg are printed.");
        return false;
    }
    const IppAttribute *compression = FindIppAttribute(request, IPP_TAG_OPERATION, "compression");
    if (compression && !SupportsCompression(can, TextOf(compression).c_str())) {
        SetIppStatus(response, IPP_COMPRESSION_NOT_SUPPORTED,
                     "Only gzip, deflate or uncompressed documents.");
        return false;
    }
    return true;
}

void CreateJob(Printer *printer, const IppMessage &request, IppMessage *response) {
    std::lock_guard<std::mutex> guard(printer->lock);
    std::shared_ptr<Job> job = NewJob(printer, request);
    SetIppStatus(response, IPP_OK, "");
    AddNewJobAttributes(*printer, *job, response);
}

void CloseJob(Printer *printer, const IppMessage &request, IppMessage *response) {
    std::unique_lock<std::mutex> guard(printer->lock);
    std::shared_ptr<Job> job = NamedJob(printer, request, response);
    if (!job)
        return;
    if (JobFinished(*job) || job->closed) {
        SetIppStatus(response, IPP_NOT_POSSIBLE, "The job is already closed.");
        return;
    }
    job->closed = true;
    std::vector<std::string> toDelete;
    if (!job->receiving && !SubmitJob(printer, job.get(), &toDelete))
        SetIppStatus(response, IPP_INTERNAL_ERROR, job->message);
    else
        SetIppStatus(response, IPP_OK, "");
    AddNewJobAttributes(*printer, *job, response);
    guard.unlock();
    DeletePages(toDelete);
}

void CancelJob(Printer *printer, const IppMessage &request, IppMessage *response) {
    std::vector<std::string> toDelete;
    {
        std::lock_guard<std::mutex> guard(printer->lock);
        std::shared_ptr<Job> job = NamedJob(printer, request, response);
        if (!job)
            return;
        if (!CancelOpenJob(printer, job.get(), &toDelete)) {
            SetIppStatus(response, IPP_NOT_POSSIBLE,
                         JobFinished(*job) ? "The job has ended." : "The job's pages are spooled.");
            return;
        }
        SetIppStatus(response, IPP_OK, "");
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
                CancelOpenJob(printer, entry.second.get(), &toDelete);
        SetIppStatus(response, IPP_OK, "");
    }
    DeletePages(toDelete);
}

void GetJobAttributes(Printer *printer, const IppMessage &request, IppMessage *response) {
    std::lock_guard<std::mutex> guard(printer->lock);
    std::shared_ptr<Job> job = NamedJob(printer, request, response);
    if (!job)
        return;
    SetIppStatus(response, IPP_OK, "");
    AddJobAttributes(*printer, *job, Requested(request, {"all"}), response);
}

void GetJobs(Printer *printer, const IppMessage &request, IppMessage *response) {
    std::string which = TextOf(FindIppAttribute(request, IPP_TAG_OPERATION, "which-jobs"));
    if (which.empty())
        which = "not-completed";
    if (which != "not-completed" && which != "completed" && which != "all") {
        SetIppStatus(response, IPP_ATTRIBUTES_NOT_SUPPORTED, "which-jobs: " + which);
        return;
    }
    const IppAttribute *mine = FindIppAttribute(request, IPP_TAG_OPERATION, "my-jobs");
    std::string user = TextOf(FindIppAttribute(request, IPP_TAG_OPERATION, "requesting-user-name"));
    const IppAttribute *limitAttribute = FindIppAttribute(request, IPP_TAG_OPERATION, "limit");
    int32_t limit = limitAttribute ? IppValueInteger(limitAttribute->values[0], 0) : 0;
    std::set<std::string> asked = Requested(request, {"job-id", "job-uri"});
    std::lock_guard<std::mutex> guard(printer->lock);
    SetIppStatus(response, IPP_OK, "");
    int32_t listed = 0;
    for (const auto &entry : printer->jobs) {
        const Job &job = *entry.second;
        if ((which == "completed" && !JobFinished(job)) ||
            (which == "not-completed" && JobFinished(job)))
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
    std::shared_ptr<Job> job;
    intake->printer = printer;
    {
        std::lock_guard<std::mutex> guard(printer->lock);
        if (request.code == IPP_OP_PRINT_JOB) {
            intake->job = NewJob(printer, request);
            intake->job->closed = true;
        } else {
            intake->job = NamedJob(printer, request, response);
            if (!intake->job)
                return false;
            const IppAttribute *last =
                FindIppAttribute(request, IPP_TAG_OPERATION, "last-document");
            if (!last || last->values.size() != 1 || last->values[0].tag != IPP_TAG_BOOLEAN) {
                SetIppStatus(response, IPP_BAD_REQUEST, "No last-document.");
                return false;
            }
            intake->lastDocument = IppValueInteger(last->values[0], 0) != 0;
            if (JobFinished(*intake->job) || intake->job->closed || intake->job->receiving) {
                SetIppStatus(response, IPP_NOT_POSSIBLE, "The job takes no more documents.");
                return false;
            }
            // After the job's document, a last Send-Document without data closes the job (as
            // Close-Job would); one with data is refused when its data comes.
            if (intake->job->documents > 0 && !intake->lastDocument) {
                SetIppStatus(response, IPP_MULTIPLE_DOCUMENTS_NOT_SUPPORTED,
                             "A job has one document.");
                return false;
            }
            intake->closeOnly = intake->job->documents > 0;
            // A job created without a name takes the name of its document.
            if (intake->job->title.empty())
                intake->job->title = RequestTitle(request);
        }
        intake->job->receiving = true;
        intake->job->state = JOB_PROCESSING;
        intake->job->reason = "job-incoming";
        intake->job->processingAt = PrinterUpTime(*printer);
        job = intake->job;
    }
    StartIntake(intake, printer, job,
                TextOf(FindIppAttribute(request, IPP_TAG_OPERATION, "document-format")),
                TextOf(FindIppAttribute(request, IPP_TAG_OPERATION, "compression")));
    return true;
}

void EndDocument(DocumentIntake *intake, bool whole, IppMessage *response) {
    std::string text;
    uint16_t status = FinishIntake(intake, whole, &text);
    std::lock_guard<std::mutex> guard(intake->printer->lock);
    SetIppStatus(response, status, text);
    AddNewJobAttributes(*intake->printer, *intake->job, response);
}
