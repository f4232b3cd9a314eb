// The conversion stage on simulated machines: what it prints, what it leaves in the spool
// folder, and that no page is lost whichever platform call fails.
#include "tests/support/machine.h"

#include <fstream>
#include <sys/stat.h>

#include "driver/conversion.h"

namespace {

const std::string kPdf = std::string(kSpool) + "\\VellumTransit.pdf";
const std::string kPartial = std::string(kSpool) + "\\VellumTransit.pdf.partial";

std::string SpoolPath(const std::string &name) {
    return std::string(kSpool) + "\\" + name;
}

std::string PageName(int number) {
    return "VellumTransit" + std::to_string(number) + ".jpg";
}

// A distinct page: its size differs by number, so its bytes can be found in the PDF.
std::string Page(int number) {
    return SyntheticJpeg(100 + number, 200 + number, 3, 50 + number);
}

bool Contains(const std::string &haystack, const std::string &needle) {
    return haystack.find(needle) != std::string::npos;
}

class Conversion : public MachineTest {
  protected:
    // Spools pages 1..count under their usual names.
    void SpoolPages(int count) {
        for (int i = 1; i <= count; ++i)
            WriteFile(SpoolPath(PageName(i)), Page(i));
    }

    std::string Run(ConversionOutcome expected = CONVERSION_DELIVER) {
        ConversionOutcome outcome = CONVERSION_END_RUN;
        std::string transcript = CaptureStdout([&] { outcome = RunConversionStage(); });
        EXPECT_EQ(outcome, expected) << transcript;
        return transcript;
    }

    // The lines of the intake for pages first..last, all added.
    static std::string Added(int first, int last) {
        std::string lines;
        for (int i = first; i <= last; ++i)
            lines += "Adding " + PageName(i) + " (" + std::to_string(100 + i) + "x" +
                     std::to_string(200 + i) + ") into PDF\n";
        return lines;
    }
};

TEST_F(Conversion, AWaitingPdfHoldsBackAllConversion) {
    Load();
    SpoolPages(2);
    WriteFile(kPdf, "%PDF-1.3 waiting");
    EXPECT_EQ(Run(), "");
    EXPECT_EQ(ReadFile(kPdf), "%PDF-1.3 waiting");
    EXPECT_EQ(List(kSpool),
              (std::vector<std::string>{"VellumTransit.pdf", PageName(1), PageName(2)}));
    EXPECT_EQ(simwin::CallCounts().count("_findfirst"), 0u);
}

TEST_F(Conversion, TheEmptyListingEndsTheRun) {
    Load();
    WriteFile(SpoolPath("other.jpg"), Page(1));
    EXPECT_EQ(Run(CONVERSION_END_RUN), "VellumTransit*.jpg\nNo *.jpg files in temp directory!\n");
    EXPECT_EQ(List(kSpool), std::vector<std::string>{"other.jpg"});
}

TEST_F(Conversion, GoodPagesBecomeThePdfAndUnusableFilesAreDropped) {
    Load();
    SpoolPages(2);
    WriteFile(SpoolPath("VellumTransit3.jpg"), "not a picture");
    WriteFile(SpoolPath("VellumTransit4.jpg"), "");
    MakeDirectory(SpoolPath("VellumTransit5.jpg")); // a folder is no page
    std::string transcript = Run();
    std::string pdf = ReadFile(kPdf);
    EXPECT_EQ(transcript,
              Added(1, 2) +
                  "Warning: Can't obtain image dimension from VellumTransit3.jpg. Skipped.\n"
                  "Warning: Can't obtain image dimension from VellumTransit4.jpg. Skipped.\n"
                  "=> Generating PDF File...Done\n"
                  "Written PDF " +
                  std::to_string(pdf.size()) + "/" + std::to_string(pdf.size()) + ".\n");
    EXPECT_EQ(List(kSpool), (std::vector<std::string>{"VellumTransit.pdf", "VellumTransit5.jpg"}));
    EXPECT_LT(pdf.find(Page(1)), pdf.find(Page(2)));
    EXPECT_TRUE(Contains(pdf, "/Count 2>>"));
}

TEST_F(Conversion, OnlyUnusableFilesWriteNoPdf) {
    Load();
    WriteFile(SpoolPath("VellumTransit1.jpg"), "junk");
    EXPECT_EQ(Run(CONVERSION_END_RUN),
              "Warning: Can't obtain image dimension from VellumTransit1.jpg. Skipped.\n"
              "No pages to write.\n");
    EXPECT_TRUE(List(kSpool).empty());
}

TEST_F(Conversion, PagesComeInNaturalOrder) {
    Load();
    SpoolPages(12);
    std::string transcript = Run();
    EXPECT_EQ(transcript.substr(0, Added(1, 12).size()), Added(1, 12));
    std::string pdf = ReadFile(kPdf);
    for (int i = 1; i < 12; ++i)
        EXPECT_LT(pdf.find(Page(i)), pdf.find(Page(i + 1))) << "page " << i;
}

// The 257th page does not fit in one PDF: it stays in the spool for the next run.
TEST_F(Conversion, PagesPastTheLimitWaitForTheNextRun) {
    Load();
    SpoolPages(257);
    std::string transcript = Run();
    EXPECT_TRUE(Contains(transcript, "Adding VellumTransit257.jpg (357x457) into PDF\n"
                                     "Add JPEG into PDF Skipped. Reason: Reached Max Page Number "
                                     "(256) in single PDF.\n"));
    EXPECT_EQ(List(kSpool), (std::vector<std::string>{"VellumTransit.pdf", PageName(257)}));
    EXPECT_TRUE(Contains(ReadFile(kPdf), "/Count 256>>"));

    // The next run delivers first; once the PDF is gone the page is converted.
    ASSERT_EQ(remove(simwin::HostPath(kPdf).c_str()), 0);
    std::string transcript2 = Run();
    std::string size = std::to_string(ReadFile(kPdf).size());
    EXPECT_EQ(transcript2, Added(257, 257) + "=> Generating PDF File...Done\nWritten PDF " + size +
                               "/" + size + ".\n");
    EXPECT_EQ(List(kSpool), std::vector<std::string>{"VellumTransit.pdf"});
}

// Whatever step of writing the file fails, no PDF (whole or partial) is left and every page
// stays in the spool.
TEST_F(Conversion, AFailedWriteKeepsEveryPage) {
    struct Case {
        const char *operation;
        int nth;
        const char *mode;
    };
    const Case cases[] = {
        {"fopen", 4, ""}, // 1: the waiting-PDF check, 2 and 3: the pages
        {"fwrite", 1, ""},      {"fwrite", 1, "short"},
        {"fflush", 1, ""},      {"fclose", 3, ""}, // 1 and 2: the pages
        {"MoveFileExA", 1, ""}, {"malloc", 7, ""}, // the output buffer
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.operation) + " " + std::to_string(c.nth) + c.mode);
        Load();
        SpoolPages(2);
        simwin::SetFault(c.operation, c.nth, c.mode);
        std::string transcript = Run();
        EXPECT_TRUE(Contains(transcript, "Could not write PDF.\n")) << transcript;
        EXPECT_FALSE(Contains(transcript, "Written PDF"));
        EXPECT_EQ(List(kSpool), (std::vector<std::string>{PageName(1), PageName(2)}));
        EXPECT_EQ(simwin::HeldNow().Total(), 0);
    }
}

// A Windows directory that does not leave room for the spool folder in its buffer is not
// used: the run stays where it started (C:\ here), where no page is spooled.
TEST_F(Conversion, AWindowsDirectoryTooLongForTheBufferIsNotUsed) {
    for (size_t length : {245u, 246u, 300u}) {
        std::string dir = "C:\\" + std::string(length - 3, 'w');
        SCOPED_TRACE(length);
        Load("[machine]\nwindows_dir = " + dir + "\n", false);
        Run(CONVERSION_END_RUN);
        if (length <= 245)
            EXPECT_TRUE(simwin::Events().front().find("SetCurrentDirectoryA " + dir) == 0);
        else
            EXPECT_EQ(simwin::CallCounts().count("SetCurrentDirectoryA"), 0u);
    }
}

// Fails the 1st, 2nd, ... call of every operation the stage makes, one fault per run: every
// run holds nothing at its end, any PDF left is complete, and every page is either in it,
// still in the spool, or was reported unusable (a file the intake could not read).
TEST_F(Conversion, NoPageIsLostWhicheverCallFails) {
    const int kPages = 3;
    Load();
    SpoolPages(kPages);
    Run();
    std::map<std::string, int> calls = simwin::CallCounts();
    int runs = 0;
    for (const auto &call : calls) {
        for (int nth = 1; nth <= call.second; ++nth) {
            SCOPED_TRACE(call.first + " #" + std::to_string(nth));
            std::string run = folder + "/sweep";
            ASSERT_EQ(system(("rm -rf '" + run + "' && mkdir -p '" + run + "'").c_str()), 0);
            std::string error;
            ASSERT_TRUE(simwin::LoadMachine(run, &error)) << error;
            for (int i = 1; i <= kPages; ++i) {
                std::string host = simwin::HostPath(SpoolPath(PageName(i)));
                ASSERT_EQ(system(("mkdir -p '" + host.substr(0, host.rfind('/')) + "'").c_str()),
                          0);
                std::ofstream(host, std::ios::binary) << Page(i);
            }
            simwin::SetFault(call.first, nth, "");
            std::string transcript = CaptureStdout([] { RunConversionStage(); });
            ++runs;
            EXPECT_EQ(simwin::HeldNow().Total(), 0) << transcript;
            std::string pdf = ReadHostFile(simwin::HostPath(kPdf));
            EXPECT_TRUE(ReadHostFile(simwin::HostPath(kPartial)).empty());
            if (!pdf.empty()) {
                EXPECT_EQ(pdf.compare(0, 9, "%PDF-1.3\r"), 0);
                EXPECT_EQ(pdf.substr(pdf.size() - 7), "%%EOF\r\n");
                EXPECT_TRUE(Contains(transcript, "Written PDF " + std::to_string(pdf.size())));
            }
            for (int i = 1; i <= kPages; ++i) {
                bool inPdf = Contains(pdf, Page(i));
                bool inSpool = !ReadHostFile(simwin::HostPath(SpoolPath(PageName(i)))).empty();
                bool unreadable = Contains(
                    transcript, "Warning: Can't obtain image dimension from " + PageName(i));
                EXPECT_TRUE(inPdf || inSpool || unreadable) << "page " << i << "\n" << transcript;
            }
        }
    }
    EXPECT_GT(runs, 20);
    std::string error;
    ASSERT_TRUE(simwin::LoadMachine(folder, &error)) << error;
}

} // namespace
