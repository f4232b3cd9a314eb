// A document's intake on a simulated machine: a document past the size limit is refused as
// too large, wherever the limit falls, and leaves none of its pages behind.
#include "tests/support/machine.h"

#include "printer/job_operations.h"
#include "printer/spool.h"

namespace {

// A Print-Job request for PWG raster.
IppMessage PrintJob() {
    IppMessage request;
    request.code = IPP_OP_PRINT_JOB;
    request.requestId = 1;
    AddIppText(AddIppAttribute(&request, IPP_TAG_OPERATION, "document-format"), IPP_TAG_MIME_TYPE,
               "image/pwg-raster");
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
    EXPECT_EQ(List(kSpool).size(), 3u);
    EXPECT_EQ(printer.spoolQueue.size(), 1u);
    DeletePages(intake.job->pageFiles);
}

} // namespace
