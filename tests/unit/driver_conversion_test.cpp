// The conversion stage on simulated machines: what it prints and what it leaves in the spool.
#include "tests/support/machine.h"

#include "driver/conversion.h"

#include <fstream>
#include <unistd.h>

namespace {

const std::string kPdf = std::string(kSpool) + "\\VellumTransit.pdf";

std::string Name(int page) {
    return "VellumTransit" + std::to_string(page) + ".jpg";
}
std::string Path(const std::string &name) {
    return std::string(kSpool) + "\\" + name;
}
// A distinct page: its size differs by number, so its bytes can be found in the PDF.
std::string Page(int page) {
    return SyntheticJpeg(100 + page, 200 + page, 3, 50 + page);
}
std::string Added(int page) {
    return "Adding " + Name(page) + " (" + std::to_string(100 + page) + "x" +
           std::to_string(200 + page) + ") into PDF\n";
}

// The first round of a run, as the run begins it: what earlier runs left settled, the spool
// listed, and a waiting PDF delivered before anything is converted.
ConversionOutcome RunConversionStage() {
    ::Spool spool;
    ConversionOutcome outcome = CONVERSION_END_RUN;
    if (!OpenSpool(&spool))
        printf("Could not list the spool folder.\n");
    else
        outcome = IsPdfWaiting() ? CONVERSION_DELIVER : ConvertPages(&spool, 1);
    CloseSpool(&spool);
    return outcome;
}

class Conversion : public MachineTest {
  protected:
    void Spool(int pages) {
        for (int i = 1; i <= pages; ++i)
            WriteFile(Path(Name(i)), Page(i));
    }
    std::string Run(ConversionOutcome expected = CONVERSION_DELIVER) {
        ConversionOutcome outcome = CONVERSION_END_RUN;
        std::string transcript = CaptureStdout([&] { outcome = RunConversionStage(); });
        EXPECT_EQ(outcome, expected) << transcript;
        return transcript;
    }
    std::string Written() {
        std::string size = std::to_string(ReadFile(kPdf).size());
        return "=> Generating PDF File...Done\nWritten PDF " + size + "/" + size + ".\n";
    }
};

TEST_F(Conversion, AWaitingPdfHoldsBackAllConversion) {
    Load();
    Spool(1);
    WriteFile(kPdf, "%PDF-1.3 waiting");
    EXPECT_EQ(Run(), "");
    EXPECT_EQ(ReadFile(kPdf), "%PDF-1.3 waiting");
    EXPECT_EQ(List(kSpool), (std::vector<std::string>{"VellumTransit.pdf", Name(1)}));

    // Even when the check misses it, a waiting PDF is never replaced: its pages are in it only.
    // (The check is a run's second look at a file's attributes: the page is looked at first.)
    simwin::SetFault("GetFileAttributesExA", simwin::CallCounts()["GetFileAttributesExA"] + 2, "");
    EXPECT_EQ(Run(), Added(1) + "=> Generating PDF File...Done\nCould not write PDF.\n");
    EXPECT_EQ(ReadFile(kPdf), "%PDF-1.3 waiting");
    EXPECT_EQ(List(kSpool), (std::vector<std::string>{"VellumTransit.pdf", Name(1)}));
}

TEST_F(Conversion, TheEmptyListingEndsTheRun) {
    Load();
    WriteFile(Path("other.jpg"), Page(1));
    EXPECT_EQ(Run(CONVERSION_END_RUN), "VellumTransit*.jpg\nNo *.jpg files in temp directory!\n");
}

// Good pages become the PDF and leave the spool only once it is written; unusable files are
// dropped; a folder is no page; only unusable files write no PDF at all.
TEST_F(Conversion, GoodPagesBecomeThePdfAndUnusableFilesAreDropped) {
    Load();
    Spool(2);
    WriteFile(Path(Name(3)), "not a picture");
    MakeDirectory(Path(Name(4)));
    std::string transcript = Run();
    EXPECT_EQ(transcript, Added(1) + Added(2) +
                              "Warning: Can't obtain image dimension from VellumTransit3.jpg. "
                              "Skipped.\n" +
                              Written());
    EXPECT_EQ(List(kSpool), (std::vector<std::string>{"VellumTransit.pdf", Name(4)}));
    std::string pdf = ReadFile(kPdf);
    EXPECT_LT(pdf.find(Page(1)), pdf.find(Page(2)));
    std::vector<std::string> events = simwin::Events();
    EXPECT_LT(std::find(events.begin(), events.end(), "DeleteFileA VellumTransit3.jpg ok"),
              std::find(events.begin(), events.end(),
                        "CreateFileA VellumTransit.pdf.partial CREATE_NEW ok"));
    EXPECT_GT(std::find(events.begin(), events.end(), "DeleteFileA VellumTransit1.jpg ok"),
              std::find(events.begin(), events.end(),
                        "MoveFileExA VellumTransit.pdf.partial VellumTransit.pdf ok"));

    ASSERT_EQ(remove(simwin::HostPath(kPdf).c_str()), 0);
    WriteFile(Path(Name(5)), "");
    EXPECT_EQ(Run(CONVERSION_END_RUN),
              "Warning: Can't obtain image dimension from VellumTransit5.jpg. Skipped.\n"
              "No pages to write.\n");
    EXPECT_EQ(List(kSpool), std::vector<std::string>{Name(4)});
}

// A document that holds 256 pages is offered no more: the 257th gets no "Adding" line and no
// limit message, and goes into the next round's PDF.
TEST_F(Conversion, AFullDocumentIsOfferedNoMorePages) {
    Load();
    Spool(257);
    ::Spool spool;
    ASSERT_TRUE(OpenSpool(&spool));
    std::string first =
        CaptureStdout([&] { EXPECT_EQ(ConvertPages(&spool, 1), CONVERSION_DELIVER); });
    EXPECT_EQ(first.find(Added(257)), std::string::npos);
    EXPECT_EQ(first.find("Reached Max Page Number"), std::string::npos);
    EXPECT_NE(first.find(Added(256) + "=> Generating PDF File...Done\n"), std::string::npos);
    EXPECT_EQ(List(kSpool), (std::vector<std::string>{"VellumTransit.pdf", Name(257)}));
    ASSERT_EQ(remove(simwin::HostPath(kPdf).c_str()), 0); // as a delivery would
    std::string second =
        CaptureStdout([&] { EXPECT_EQ(ConvertPages(&spool, 0), CONVERSION_DELIVER); });
    EXPECT_EQ(second, Added(257) + Written());
    ASSERT_EQ(remove(simwin::HostPath(kPdf).c_str()), 0);
    EXPECT_EQ(CaptureStdout([&] { EXPECT_EQ(ConvertPages(&spool, 0), CONVERSION_END_RUN); }), "");
    CloseSpool(&spool);
}

// Whichever step of writing the file fails, no PDF (whole or partial) is left and every page
// stays in the spool.
TEST_F(Conversion, AFailedWriteKeepsEveryPage) {
    const char *cases[][3] = {
        {"CreateFileA", "2", ""},      {"WriteFile", "1", ""},   {"WriteFile", "1", "short"},
        {"FlushFileBuffers", "1", ""}, {"CloseHandle", "1", ""}, {"MoveFileExA", "1", ""},
        {"malloc", "7", ""}, // the output buffer
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c[0]) + " " + c[1] + c[2]);
        Load();
        Spool(2);
        // A stale partial file goes once a write begins (its name found taken by the first
        // create, the second is the one that fails).
        if (strcmp(c[0], "malloc") != 0)
            WriteFile(Path("VellumTransit.pdf.partial"), "left by a run that died");
        simwin::SetFault(c[0], atoi(c[1]), c[2]);
        std::string transcript = Run(CONVERSION_END_RUN); // no PDF: nothing to deliver
        EXPECT_EQ(transcript.substr(transcript.size() - 21), "Could not write PDF.\n");
        EXPECT_EQ(List(kSpool), (std::vector<std::string>{Name(1), Name(2)}));
        EXPECT_EQ(simwin::HeldNow().Total(), 0);
    }
}

// A link planted under the partial name is removed, never written through: its target keeps
// its bytes and the PDF is written. A name that cannot be freed writes no PDF.
TEST_F(Conversion, APlantedLinkIsNeverWrittenThrough) {
    const std::string partial = Path("VellumTransit.pdf.partial");
    for (const char *kind : {"symbolic", "hard", "dangling", "undeletable"}) {
        SCOPED_TRACE(kind);
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
        Load();
        Spool(1);
        std::string target = folder + "/outside", link = simwin::HostPath(partial);
        std::ofstream(target) << "not yours";
        std::string kindText = kind;
        int made = kindText == "hard"       ? ::link(target.c_str(), link.c_str())
                   : kindText == "dangling" ? symlink((folder + "/nowhere").c_str(), link.c_str())
                                            : symlink(target.c_str(), link.c_str());
        ASSERT_EQ(made, 0);
        for (int refusal = 1; kindText == "undeletable" && refusal <= 11; ++refusal)
            simwin::SetFault("DeleteFileA", refusal, "5"); // refused, and on every retry
        std::string transcript =
            Run(kindText == "undeletable" ? CONVERSION_END_RUN : CONVERSION_DELIVER);
        EXPECT_EQ(ReadHostFile(target), "not yours");
        EXPECT_EQ(Exists(partial), kindText == "undeletable"); // never followed, though
        if (kindText == "undeletable") {
            EXPECT_EQ(transcript,
                      Added(1) + "=> Generating PDF File...Done\nCould not write PDF.\n");
            EXPECT_EQ(List(kSpool),
                      (std::vector<std::string>{"VellumTransit.pdf.partial", Name(1)}));
        } else {
            EXPECT_EQ(transcript, Added(1) + Written());
            EXPECT_NE(ReadFile(kPdf).find(Page(1)), std::string::npos);
            EXPECT_EQ(List(kSpool), std::vector<std::string>{"VellumTransit.pdf"});
        }
    }
}

// A listing that fails before its end, or finds no memory to grow, converts nothing: pages
// taken from part of it would come out of order.
TEST_F(Conversion, AListingCutShortConvertsNothing) {
    const char *cases[][2] = {{"_findfirst", "1"},
                              {"_findnext", "1"},
                              {"_findnext", "2"},
                              {"_findnext", "5"},
                              {"realloc", "1"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c[0]) + " " + c[1]);
        Load();
        Spool(12);
        simwin::SetFault(c[0], atoi(c[1]), "");
        EXPECT_EQ(Run(CONVERSION_END_RUN), "Could not list the spool folder.\n");
        EXPECT_EQ(List(kSpool).size(), 12u);
        EXPECT_EQ(simwin::CallCounts().count("DeleteFileA"), 0u);
    }
}

// A Windows directory that leaves no room for the spool folder in its buffer is not used.
TEST_F(Conversion, AWindowsDirectoryTooLongForTheBufferIsNotUsed) {
    for (size_t length : {245u, 246u, 300u}) {
        SCOPED_TRACE(length);
        Load("[machine]\nwindows_dir = C:\\" + std::string(length - 3, 'w') + "\n", false);
        Run(CONVERSION_END_RUN);
        EXPECT_EQ(simwin::CallCounts().count("SetCurrentDirectoryA"), length <= 245 ? 1u : 0u);
    }
}

} // namespace
