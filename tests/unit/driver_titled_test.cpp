// Titled jobs through whole runs: a job past 256 pages becomes parts that say which they are, a
// waiting PDF keeps its title for a later run, pages of no job are gathered as they always were,
// and an untitled run's console is what it always was.
#include "tests/support/runs.h"

#include "common/delivered_name.h"
#include "common/spool_contract.h"
#include "pdf/pdf_document.h"

namespace {

// The title inside a PDF's bytes ("" for none).
std::string TitleIn(const std::string &pdf) {
    char title[kPdfTitleStringSize];
    return ReadPdfTitle((const unsigned char *)pdf.data(), pdf.size(), title, sizeof title) ? title
                                                                                            : "";
}

class Titled : public MachineTest {
  protected:
    // A document on the e-reader E: (its volume is ejected after the run), by its name.
    std::string Delivered(const std::string &name) {
        return ReadHostFile(folder + "/E/documents/" + name);
    }
    std::vector<std::string> DeliveredNames() {
        std::vector<std::string> names;
        for (const auto &file : HostFiles(folder + "/E/documents"))
            names.push_back(file.first);
        return names;
    }
    // Page p of job j, its bytes told apart by n, with title (none when empty).
    void SpoolPage(int job, int page, int n, const std::string &title) {
        std::string jpeg = JobPage(n);
        if (!title.empty()) {
            std::string text = kPageTitlePrefix + title;
            size_t length = text.size() + 2;
            jpeg.insert(2, "\xFF\xFE" + std::string(1, (char)(length >> 8)) +
                               std::string(1, (char)(length & 0xFF)) + text);
        }
        char name[260];
        ASSERT_TRUE(FormatPageName(job, page, name, sizeof name));
        WriteFile(std::string(kSpool) + "\\" + name, jpeg);
    }
};

// 300 pages of one titled job: "Manual.pdf" of the first 256 (titled as the whole would be) and
// "Manual (part 2).pdf" of the rest, in page order; a second job of the same title, spooled
// beside it, becomes "Manual (2).pdf".
TEST_F(Titled, AJobPast256PagesBecomesPartsThatSayWhichTheyAre) {
    Load(DriveEreader());
    MakeDirectory("E:\\documents");
    for (int page = 1; page <= 300; ++page)
        SpoolPage(4, page, page, "Manual");
    SpoolPage(5, 1, 301, "Manual");
    std::string transcript = RunProgram();
    EXPECT_EQ(Occurrences(transcript, "E:\\Output copied to Kindle!\n"), 3);
    EXPECT_EQ(Occurrences(transcript, "ejected safely"), 1);
    EXPECT_EQ(DeliveredNames(),
              (std::vector<std::string>{"Manual (2).pdf", "Manual (part 2).pdf", "Manual.pdf"}));
    const struct {
        const char *name, *title;
        int first, last;
    } documents[] = {{"Manual.pdf", "Manual", 1, 256},
                     {"Manual (part 2).pdf", "Manual (part 2)", 257, 300},
                     {"Manual (2).pdf", "Manual", 301, 301}};
    for (const auto &document : documents) {
        std::string pdf = Delivered(document.name);
        EXPECT_EQ(TitleIn(pdf), document.title) << document.name;
        EXPECT_EQ(Occurrences(pdf, "/Type/Page/"), document.last - document.first + 1);
        size_t at = 0;
        for (int n = document.first; n <= document.last; ++n)
            EXPECT_NE(at = pdf.find(JobPage(n).substr(2 + 200), at), std::string::npos)
                << document.name << " page " << n;
    }
    EXPECT_TRUE(List(kSpool).empty());
}

// With no e-reader the first job's PDF waits; the next run, with the e-reader back, delivers it
// under its own title's name, read from the PDF, then the pages of no job that came meanwhile,
// gathered into one untitled document as always, then the second job.
TEST_F(Titled, AWaitingPdfKeepsItsNameForALaterRun) {
    Load();
    SpoolPage(1, 1, 1, "会議資料 2026");
    SpoolPage(2, 1, 2, "Q3: plan");
    std::string first = RunProgram();
    EXPECT_EQ(first.substr(first.size() - 27), "Kindle must be plugged in!\n");
    EXPECT_EQ(TitleIn(ReadFile(std::string(kSpool) + "\\VellumTransit.pdf")), "会議資料 2026");
    WriteFile(std::string(kSpool) + "\\VellumTransit7.jpg", JobPage(3));
    WriteFile(std::string(kSpool) + "\\VellumTransitA.jpg", JobPage(4));
    Load(DriveEreader(), false);
    MakeDirectory("E:\\documents");
    std::string second = RunProgram();
    EXPECT_EQ(second.substr(0, 28), "E:\\Output copied to Kindle!\n");
    EXPECT_EQ(Occurrences(second, "E:\\Output copied to Kindle!\n"), 3) << second;
    EXPECT_EQ(DeliveredNames(),
              (std::vector<std::string>{"Q3_ plan.pdf", "VellumTransit.pdf", "会議資料 2026.pdf"}));
    EXPECT_EQ(TitleIn(Delivered("会議資料 2026.pdf")), "会議資料 2026");
    EXPECT_EQ(TitleIn(Delivered("Q3_ plan.pdf")), "Q3: plan");
    std::string untitled = Delivered("VellumTransit.pdf");
    EXPECT_EQ(untitled.find("/Info"), std::string::npos);
    EXPECT_EQ(Occurrences(untitled, "/Type/Page/"), 2);
    EXPECT_TRUE(List(kSpool).empty());
}

// A job none of whose pages is a page makes no PDF, and the next job still goes in the same run.
TEST_F(Titled, AJobWithoutAPageDoesNotHoldBackTheNext) {
    Load(DriveEreader());
    MakeDirectory("E:\\documents");
    WriteFile(std::string(kSpool) + "\\VellumTransit1-1.jpg", "not a JPEG");
    SpoolPage(2, 1, 1, "Second");
    std::string transcript = RunProgram();
    EXPECT_EQ(transcript.substr(0, 60),
              "Warning: Can't obtain image dimension from VellumTransit1-1.");
    EXPECT_EQ(Occurrences(transcript, "No pages to write."), 0);
    EXPECT_EQ(DeliveredNames(), (std::vector<std::string>{"Second.pdf"}));
    EXPECT_TRUE(List(kSpool).empty());
}

// Where the 8-bit file interfaces do not take UTF-8 (Windows before 10 1903), a drive e-reader
// gets a title that is not ASCII under an untitled document's name, its title still inside; an
// ASCII title keeps its name.
TEST_F(Titled, AnOlderWindowsNamesOnlyAsciiTitles) {
    Load("[machine]\ncode_page = 1252\n" + DriveEreader());
    MakeDirectory("E:\\documents");
    SpoolPage(1, 1, 1, "会議資料 2026");
    SpoolPage(2, 1, 2, "Report");
    RunProgram();
    EXPECT_EQ(DeliveredNames(), (std::vector<std::string>{"Report.pdf", "VellumTransit.pdf"}));
    EXPECT_EQ(TitleIn(Delivered("VellumTransit.pdf")), "会議資料 2026");
}

} // namespace
