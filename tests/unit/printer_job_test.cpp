// A document's intake on a simulated machine: a document past the size limit is refused as
// too large, wherever the limit falls, and leaves none of its pages behind; compressed
// documents give their pages, and every limit counts what they inflate to.
#include "tests/support/machine.h"

#include "common/spool_contract.h"
#include "pdf/jpeg_intake.h"
#include "printer/job_operations.h"
#include "printer/spool.h"
#include "tests/unit/printer_compress.h"

namespace {

std::string In(const std::string &name) {
    return std::string(kSpool) + "\\" + name;
}

// A Print-Job request for PWG raster, compressed unless compression is empty.
IppMessage PrintJob(const char *compression = "", const char *name = "") {
    IppMessage request;
    request.code = IPP_OP_PRINT_JOB;
    request.requestId = 1;
    if (*name)
        AddIppText(AddIppAttribute(&request, IPP_TAG_OPERATION, "job-name"), IPP_TAG_NAME, name);
    AddIppText(AddIppAttribute(&request, IPP_TAG_OPERATION, "document-format"), IPP_TAG_MIME_TYPE,
               "image/pwg-raster");
    if (*compression)
        AddIppText(AddIppAttribute(&request, IPP_TAG_OPERATION, "compression"), IPP_TAG_KEYWORD,
                   compression);
    return request;
}

// A document of pages of 4 x 3 grey pixels, each line a run of one grey.
std::string Document(int pages) {
    std::string header(kRasterHeaderBytes, '\0');
    auto put = [&](size_t offset, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            header[offset + i] = (char)(value >> (24 - 8 * i));
    };
    for (auto field : {std::make_pair(276, 150), std::make_pair(280, 150), std::make_pair(372, 4),
                       std::make_pair(376, 3), std::make_pair(384, 8), std::make_pair(388, 8),
                       std::make_pair(392, 4), std::make_pair(400, 18), std::make_pair(420, 1)})
        put(field.first, field.second);
    std::string document = "RaS2";
    for (int page = 0; page < pages; ++page)
        document += header + "\x02\x03\x80";
    return document;
}

class Intake : public MachineTest {};

TEST_F(Intake, ADocumentPastItsLimitIsTooLargeAndLeavesNoPage) {
    Load();
    std::string document = Document(3);
    size_t page = (document.size() - 4) / 3;
    // The limit falls inside the third page, at its start, and inside the first.
    for (uint64_t limit : {document.size() - 1, (size_t)4 + 2 * page, (size_t)100}) {
        Printer printer;
        printer.spoolFolder = kSpool;
        DocumentIntake intake;
        intake.maxBytes = limit;
        IppMessage response;
        ASSERT_TRUE(BeginDocument(&printer, PrintJob(), &intake, &response));
        int fed = 1;
        for (size_t at = 0; at < document.size() && fed; at += 512)
            fed = FeedDocument(&intake, (const unsigned char *)document.data() + at,
                               std::min<size_t>(512, document.size() - at));
        EXPECT_EQ(fed, 0) << limit;
        EndDocument(&intake, false, &response);
        EXPECT_EQ(response.code, IPP_TOO_LARGE) << limit;
        EXPECT_EQ(intake.job->state, JOB_ABORTED);
        EXPECT_EQ(intake.job->message, "The document is larger than 4 GiB.");
        EXPECT_TRUE(List(kSpool).empty()) << limit;
        EXPECT_TRUE(printer.spoolQueue.empty());
    }
    // Exactly at the limit, the whole document is taken and its job queued.
    Printer printer;
    printer.spoolFolder = kSpool;
    DocumentIntake intake;
    intake.maxBytes = document.size();
    IppMessage response;
    ASSERT_TRUE(BeginDocument(&printer, PrintJob(), &intake, &response));
    EXPECT_EQ(FeedDocument(&intake, (const unsigned char *)document.data(), document.size()), 1);
    EndDocument(&intake, true, &response);
    EXPECT_EQ(response.code, IPP_OK);
    EXPECT_EQ(List(kSpool).size(), 4u); // its pages and its note
    EXPECT_EQ(printer.spoolQueue.size(), 1u);
    DeletePages(intake.job->pageFiles);
    DeletePages({AcceptedJobPath(kSpool, intake.job->id)});
}

// Feeds a whole document to a new Print-Job, 1000 bytes at a time, and ends it.
struct Fed {
    uint16_t status;
    std::string message;
    int state;
    std::string reason;
    uint64_t received;
};
Fed Feed(const char *compression, const std::string &data, uint64_t maxBytes) {
    Printer printer;
    printer.spoolFolder = kSpool;
    DocumentIntake intake;
    intake.maxBytes = maxBytes;
    IppMessage response;
    EXPECT_TRUE(BeginDocument(&printer, PrintJob(compression), &intake, &response));
    for (size_t at = 0; at < data.size(); at += 1000)
        if (!FeedDocument(&intake, (const unsigned char *)data.data() + at,
                          std::min<size_t>(1000, data.size() - at)))
            break;
    EndDocument(&intake, true, &response);
    const IppAttribute *message = FindIppAttribute(response, IPP_TAG_OPERATION, "status-message");
    Fed fed = {response.code, message ? message->values[0].bytes : "", intake.job->state,
               intake.job->reason, intake.received};
    DeletePages(intake.job->pageFiles);
    DeletePages({AcceptedJobPath(kSpool, intake.job->id)});
    return fed;
}

TEST_F(Intake, CompressedDocumentsGiveTheirPages) {
    Load();
    std::string document = Document(3);
    for (const auto &form : {std::make_pair("gzip", 31), std::make_pair("deflate", -15),
                             std::make_pair("deflate", 15)}) {
        Printer printer;
        printer.spoolFolder = kSpool;
        DocumentIntake intake;
        IppMessage response;
        ASSERT_TRUE(BeginDocument(&printer, PrintJob(form.first), &intake, &response));
        std::string data = Compress(document, form.second);
        EXPECT_EQ(FeedDocument(&intake, (const unsigned char *)data.data(), data.size()), 1);
        EndDocument(&intake, true, &response);
        EXPECT_EQ(response.code, IPP_OK) << form.first;
        EXPECT_EQ(intake.job->documentBytes, document.size());
        EXPECT_EQ(List(kSpool).size(), 4u) << form.first;
        DeletePages(intake.job->pageFiles);
        DeletePages({AcceptedJobPath(kSpool, intake.job->id)});
    }
}

// Each refusal ends the job and leaves no page: a bomb of pages is too large by what it
// inflates to (its compressed bytes are far below the limit), as are empty deflate blocks
// without end by what was received; a cut stream and bad data are compression errors.
TEST_F(Intake, CompressedDocumentsAreRefusedByWhatTheyInflateTo) {
    Load();
    std::string document = Document(40);
    std::string gzip = Compress(document, 31);
    std::string emptyBlocks;
    for (int i = 0; i < 2000; ++i)
        emptyBlocks += std::string("\x00\x00\x00\xFF\xFF", 5);
    const std::tuple<const char *, const char *, std::string, uint64_t, uint16_t, const char *,
                     const char *>
        cases[] = {
            {"a bomb past the limit", "gzip", gzip, document.size() - 1, IPP_TOO_LARGE,
             "aborted-by-system", "The document is larger than 4 GiB."},
            {"empty blocks past the limit", "deflate", emptyBlocks, 5000, IPP_TOO_LARGE,
             "aborted-by-system", "The document is larger than 4 GiB."},
            {"a cut stream", "gzip", gzip.substr(0, gzip.size() - 4), kMaxDocumentBytes,
             IPP_COMPRESSION_ERROR, "compression-error", "The gzip data ends before its end."},
            {"a bad header", "gzip", "\x1f\x8c" + gzip.substr(2), kMaxDocumentBytes,
             IPP_COMPRESSION_ERROR, "compression-error", "The document is not valid gzip data."},
            {"gzip sent as deflate", "deflate", gzip, kMaxDocumentBytes, IPP_COMPRESSION_ERROR,
             "compression-error", "The document is not valid deflate data."},
            {"raster not compressed", "gzip", document, kMaxDocumentBytes, IPP_COMPRESSION_ERROR,
             "compression-error", "The document is not valid gzip data."},
        };
    for (const auto &entry : cases) {
        Fed fed = Feed(std::get<1>(entry), std::get<2>(entry), std::get<3>(entry));
        EXPECT_EQ(fed.status, std::get<4>(entry)) << std::get<0>(entry);
        EXPECT_EQ(fed.state, JOB_ABORTED) << std::get<0>(entry);
        EXPECT_EQ(fed.reason, std::get<5>(entry)) << std::get<0>(entry);
        EXPECT_EQ(fed.message, std::get<6>(entry)) << std::get<0>(entry);
        EXPECT_TRUE(List(kSpool).empty()) << std::get<0>(entry);
    }
    EXPECT_LT(Feed("gzip", gzip, document.size() - 1).received, (document.size() - 1) / 20);
    // A compression that is not advertised is refused before any document is taken.
    Printer printer;
    DocumentIntake intake;
    IppMessage response;
    EXPECT_FALSE(BeginDocument(&printer, PrintJob("compress"), &intake, &response));
    EXPECT_EQ(response.code, IPP_COMPRESSION_NOT_SUPPORTED);
    EXPECT_TRUE(printer.jobs.empty());
}

// Every page a job spools carries its title (job-name as a name with or without language, else
// document-name-supplied, made valid UTF-8) in a comment segment right after its JFIF
// segment, which stays first: pages the printer encodes, a JPEG document held in memory, and one
// written to its page file piece by piece. A JPEG's own bytes follow unchanged; a job without a
// name has no title.
TEST_F(Intake, EveryPageCarriesItsJobsTitle) {
    Load();
    const std::string small = SyntheticJpeg(1275, 1650, 1, 5000);
    const std::string large = SyntheticJpeg(1275, 1650, 1, (2u << 20) + 17);
    const struct {
        const char *name;
        uint8_t tag;
        std::string jobName, documentName, title;
    } names[] = {
        {"job-name", IPP_TAG_NAME, "GNU Libtasn1 Manual", "", "GNU Libtasn1 Manual"},
        {"with language", IPP_TAG_NAME_LANGUAGE,
         std::string("\0\x02"
                     "en\0\x11",
                     6) +
             "\xE4\xBC\x9A\xE8\xAD\xB0\xE8\xB3\x87\xE6\x96\x99 2026",
         "", "\xE4\xBC\x9A\xE8\xAD\xB0\xE8\xB3\x87\xE6\x96\x99 2026"},
        {"document name", IPP_TAG_NAME, "", "notes.txt", "notes.txt"},
        {"not UTF-8", IPP_TAG_NAME, "caf\xE9", "other", "caf\xEF\xBF\xBD"},
        {"none", IPP_TAG_NAME, "", "", ""},
    };
    for (const auto &name : names) {
        for (const std::string *document : {(const std::string *)nullptr, &small, &large}) {
            SCOPED_TRACE(std::string(name.name) + (document == &large   ? ", large JPEG"
                                                   : document == &small ? ", JPEG"
                                                                        : ", raster"));
            IppMessage request = PrintJob();
            if (document)
                request.attributes.back().values[0].bytes = "image/jpeg";
            if (!name.jobName.empty())
                AddIppText(AddIppAttribute(&request, IPP_TAG_OPERATION, "job-name"), name.tag,
                           name.jobName);
            if (!name.documentName.empty())
                AddIppText(AddIppAttribute(&request, IPP_TAG_OPERATION, "document-name-supplied"),
                           IPP_TAG_NAME, name.documentName);
            const std::string data = document ? *document : Document(2);
            Printer printer;
            printer.spoolFolder = kSpool;
            DocumentIntake intake;
            IppMessage response;
            ASSERT_TRUE(BeginDocument(&printer, request, &intake, &response));
            for (size_t at = 0; at < data.size(); at += 100000)
                ASSERT_EQ(FeedDocument(&intake, (const unsigned char *)data.data() + at,
                                       std::min<size_t>(100000, data.size() - at)),
                          1);
            EndDocument(&intake, true, &response);
            ASSERT_EQ(response.code, IPP_OK);
            ASSERT_EQ(intake.job->pageFiles.size(), document ? 1u : 2u);
            for (const std::string &file : intake.job->pageFiles) {
                std::string page = ReadFile(file);
                std::vector<unsigned char> bytes(page.begin(), page.end());
                char title[kPageTitleBytes + 1];
                uint16_t width = 0, height = 0;
                ASSERT_EQ(GetJfifImageSize(bytes.data(), (uint32_t)bytes.size(), &width, &height,
                                           nullptr, nullptr, title, sizeof title),
                          1);
                EXPECT_EQ(std::string(title), name.title);
                std::string segment = name.title.empty() ? "" : kPageTitlePrefix + name.title;
                size_t skip = segment.empty() ? 0 : segment.size() + 4, jfif = 2 + 2 + 16;
                EXPECT_EQ(page.compare(2, 4, "\xFF\xE0\x00\x10", 4), 0); // JFIF still first
                EXPECT_EQ(page.substr(jfif, skip).substr(skip ? 4 : 0), segment);
                if (document) {
                    EXPECT_TRUE(page.substr(0, jfif) + page.substr(jfif + skip) == *document);
                }
            }
            DeletePages(intake.job->pageFiles);
        }
    }
}

// A job answered with success outlives the printer: stopped (or killed) before the hand-over,
// it leaves its note and pages, and the next printer queues it again, whole, under its own id,
// numbering later jobs above it and above the last job number handed over. A job never
// answered leaves nothing; a note without all its pages, or not the printer's, goes with what
// it names. A job whose note cannot be written is refused and leaves nothing.
TEST_F(Intake, AnAcceptedJobOutlivesThePrinter) {
    Load();
    std::string document = Document(3);
    auto print = [&](Printer *printer, bool whole, const char *name) {
        DocumentIntake intake;
        IppMessage response;
        EXPECT_TRUE(BeginDocument(printer, PrintJob("", name), &intake, &response));
        FeedDocument(&intake, (const unsigned char *)document.data(),
                     whole ? document.size() : document.size() / 2);
        EndDocument(&intake, whole, &response);
        return response.code;
    };
    {
        Printer printer;
        printer.spoolFolder = kSpool;
        printer.nextJobId = 7;
        EXPECT_EQ(print(&printer, true, "Report\nQ3"), IPP_OK);
        EXPECT_EQ(print(&printer, false, "cut off"), IPP_BAD_REQUEST);
        AbortOpenJobs(&printer); // the printer stops before its spool thread took the job
    }
    WriteFile(In("PrinterJob3-1.tmp"), "a page of a job never answered");
    WriteFile(In("PrinterJob4.job"),
              "VellumTransit accepted job 1\nid 4\npages 2\nname n\nuser u\nend\n");
    WriteFile(In("PrinterJob4-1.tmp"), "its second page is missing");
    WriteFile(In("PrinterJob5.job"), "VellumTransit accepted job 1\nid 6\npages 1\nname n\n");
    WriteFile(In("PrinterJob5-1.tmp"), "named by a note that is not whole");
    std::vector<AcceptedJob> accepted;
    DeleteStalePages(kSpool, &accepted);
    EXPECT_EQ(List(kSpool), (std::vector<std::string>{"PrinterJob7-1.tmp", "PrinterJob7-2.tmp",
                                                      "PrinterJob7-3.tmp", "PrinterJob7.job"}));
    Printer printer;
    printer.spoolFolder = kSpool;
    RestoreAcceptedJobs(&printer, accepted, 12);
    ASSERT_EQ(printer.spoolQueue, std::deque<int>{7});
    std::shared_ptr<Job> job = printer.jobs[7];
    EXPECT_EQ(job->name, "Report Q3");
    EXPECT_EQ(job->state, JOB_PENDING);
    EXPECT_TRUE(job->closed && job->noted);
    EXPECT_EQ(job->pageFiles.size(), 3u);
    EXPECT_EQ(printer.nextJobId, 13);
    std::vector<std::string> toDelete;
    EXPECT_TRUE(CancelOpenJob(&printer, job.get(), &toDelete));
    DeletePages(toDelete);
    EXPECT_TRUE(List(kSpool).empty());
    // The note is the fourth file written: its write fails, and the job is refused.
    simwin::SetFault("WriteFile", simwin::CallCounts()["WriteFile"] + 4, "112");
    EXPECT_EQ(print(&printer, true, "unkept"), IPP_INTERNAL_ERROR);
    EXPECT_EQ(printer.jobs[13]->message, "The job could not be kept (error 112).");
    EXPECT_TRUE(List(kSpool).empty());
    EXPECT_EQ(printer.spoolQueue, std::deque<int>{7}); // the cancelled one, which is skipped
}

} // namespace
