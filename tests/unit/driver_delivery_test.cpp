// Whole runs in-process: conversion and delivery on machines with and without an e-reader. (The
// sweeps and the long job are in driver_sweep_test.cpp, for every route.)
#include "tests/support/runs.h"

#include <fstream>

#include "driver/run.h"

namespace {

const std::string kPdf = std::string(kSpool) + "\\VellumTransit.pdf";

std::string Ereader(const std::string &driveKeys = "") {
    return DriveEreader(driveKeys);
}
std::string Page(int page) {
    return JobPage(page);
}
std::string PagePath(int page) {
    return JobPagePath(page);
}
bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

const char kDelivered[] = "E:\\Output copied to Kindle!\nGet drive type...\nE:\\ - Removable\r\n";
const char kEjected[] = "Media in Drive E has been ejected safely.\n";

class Delivery : public MachineTest {
  protected:
    // A machine, its documents folder when it has an e-reader, and pages 1..pages spooled.
    void Prepare(const std::string &ini, int pages) {
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
        Load(ini);
        if (Contains(ini, "[drive E]") && !Contains(ini, "no documents"))
            MakeDirectory("E:\\documents");
        for (int i = 1; i <= pages; ++i)
            WriteFile(PagePath(i), Page(i));
    }
    // Plugs the e-reader in between runs, keeping the files.
    void PlugIn(const std::string &ini) {
        std::ofstream(folder + "/machine.ini") << ini;
        std::string error;
        ASSERT_TRUE(simwin::LoadMachine(folder, &error)) << error;
        MakeDirectory("E:\\documents");
    }
    std::string Run() { return RunProgram(); }
    // The PDF on the e-reader, read past simwin: once ejected, the drive's media are gone.
    std::string OnDevice(const std::string &name = "VellumTransit.pdf") {
        return ReadHostFile(folder + "/E/documents/" + name);
    }
};

// The road of one print job: two pages in, one PDF on the e-reader, nothing left behind.
TEST_F(Delivery, OnePrintJobReachesTheEreader) {
    Prepare(Ereader(), 2);
    std::string transcript = Run(), pdf = OnDevice(), size = std::to_string(pdf.size());
    EXPECT_EQ(transcript, "Adding VellumTransit1.jpg (1275x1650) into PDF\n"
                          "Adding VellumTransit2.jpg (1275x1650) into PDF\n"
                          "=> Generating PDF File...Done\nWritten PDF " +
                              size + "/" + size + ".\n" + kDelivered + kEjected);
    EXPECT_LT(pdf.find(Page(1)), pdf.find(Page(2)));
    EXPECT_TRUE(List(kSpool).empty());
    std::vector<std::string> events = simwin::Events();
    auto at = events.begin();
    for (const char *line :
         {"MoveFileExA VellumTransit.pdf.partial VellumTransit.pdf ok",
          "CopyFileA VellumTransit.pdf E:\\documents\\VellumTransit.pdf.partial ok",
          "FlushFileBuffers E:\\documents\\VellumTransit.pdf.partial ok",
          "MoveFileExA E:\\documents\\VellumTransit.pdf.partial "
          "E:\\documents\\VellumTransit.pdf ok",
          "DeleteFileA VellumTransit.pdf ok",
          "DeviceIoControl IOCTL_STORAGE_EJECT_MEDIA \\\\.\\E: ok", "CloseHandle \\\\.\\E: ok"})
        ASSERT_NE(at = std::find(at, events.end(), line), events.end()) << line;
}

// Without an e-reader the PDF waits. The next run delivers it beside an older document on the
// device, then the three jobs printed behind it in one more PDF, and removes the drive once,
// after the last copy; the PDFs are deleted even when the removal fails.
TEST_F(Delivery, AWaitingPdfAndTheJobsBehindItGoInOneRun) {
    const std::pair<const char *, std::string> removals[] = {
        {"", kEjected},
        {"eject = fail\n", "Media in Drive E can be safely removed.\n"},
        {"lock_refusals = always\n", ""},
    };
    for (const auto &removal : removals) {
        SCOPED_TRACE(removal.first);
        Prepare("", 1);
        EXPECT_TRUE(Contains(Run(), ".\nKindle must be plugged in!\n"));
        std::string waiting = ReadFile(kPdf);
        for (int job = 7; job <= 9; ++job)
            WriteFile(PagePath(job), Page(job));
        PlugIn(Ereader(removal.first));
        WriteFile("E:\\documents\\VellumTransit.pdf", "an older document");
        std::string transcript = Run();
        std::string size = std::to_string(OnDevice("VellumTransit (3).pdf").size());
        EXPECT_EQ(transcript, "E:\\Output copied to Kindle!\n"
                              "Adding VellumTransit7.jpg (1275x1650) into PDF\n"
                              "Adding VellumTransit8.jpg (1275x1650) into PDF\n"
                              "Adding VellumTransit9.jpg (1275x1650) into PDF\n"
                              "=> Generating PDF File...Done\nWritten PDF " +
                                  size + "/" + size + ".\n" + kDelivered + removal.second);
        EXPECT_EQ(OnDevice(), "an older document");
        EXPECT_EQ(OnDevice("VellumTransit (2).pdf"), waiting);
        std::string jobs = OnDevice("VellumTransit (3).pdf");
        EXPECT_TRUE(Contains(jobs, Page(7)) && jobs.find(Page(7)) < jobs.find(Page(8)) &&
                    jobs.find(Page(8)) < jobs.find(Page(9)));
        EXPECT_TRUE(List(kSpool).empty());
        EXPECT_EQ(simwin::CallCounts()["GetDriveTypeA"], 1); // one removal, after the last copy
    }

    // A listing cut short still lets the waiting PDF go; the pages behind it wait.
    Prepare("", 1);
    Run();
    WriteFile(PagePath(7), Page(7));
    PlugIn(Ereader());
    simwin::SetFault("_findfirst", 1, "");
    EXPECT_EQ(Run(), "E:\\Output copied to Kindle!\nCould not list the spool folder.\n"
                     "Get drive type...\nE:\\ - Removable\r\n" +
                         std::string(kEjected));
    EXPECT_EQ(List(kSpool), std::vector<std::string>{"VellumTransit7.jpg"});
}

// A copy that fails keeps the PDF waiting and tries no removal; its reason comes first, so that
// a full e-reader does not look like a missing one.
TEST_F(Delivery, AFailedCopyKeepsThePdf) {
    const std::pair<std::string, const char *> cases[] = {
        {Ereader("; no documents folder\n"), "3"},
        {Ereader("free_bytes = 100\n"), "112"},
        {Ereader() + "[faults]\nCopyFileA = 1:5\n", "5"},
        {Ereader() + "[faults]\nFlushFileBuffers = 4\n", "112"},
    };
    for (const auto &[ini, error] : cases) {
        SCOPED_TRACE(ini);
        Prepare(ini, 1);
        std::string transcript = Run();
        EXPECT_TRUE(Contains(transcript, std::string(".\nE:\\: Could not copy the PDF (error ") +
                                             error + ").\nKindle must be plugged in!\n"))
            << transcript;
        EXPECT_TRUE(Exists(kPdf));
        EXPECT_TRUE(OnDevice().empty());
        EXPECT_EQ(simwin::CallCounts().count("GetDriveTypeA"), 0u);
    }
}

// Nothing on the device is replaced: the PDF goes under the first free name, names compared
// without regard to case; with every name taken it waits, as on a full device.
TEST_F(Delivery, NoDocumentOnTheEreaderIsReplaced) {
    std::vector<std::string> all;
    for (int n = 2; n <= 999; ++n)
        all.push_back("VellumTransit (" + std::to_string(n) + ").pdf");
    const struct {
        std::vector<std::string> before;
        const char *delivered; // null: no name free
    } cases[] = {
        {{"VellumTransit.pdf"}, "VellumTransit (2).pdf"},
        {{"vellumtransit.PDF", "VELLUMTRANSIT (2).pdf", "VellumTransit (4).pdf"},
         "VellumTransit (3).pdf"},
        {{"VellumTransit (2).pdf"}, "VellumTransit.pdf"},
        {all, "VellumTransit.pdf"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.before.front());
        Prepare(Ereader(), 1);
        for (const std::string &name : c.before)
            WriteFile("E:\\documents\\" + name, "older " + name);
        EXPECT_TRUE(Contains(Run(), kDelivered));
        EXPECT_TRUE(Contains(OnDevice(c.delivered), "%%EOF"));
        for (const std::string &name : c.before)
            EXPECT_EQ(OnDevice(name), "older " + name);
    }
    all.push_back("VellumTransit.pdf");
    Prepare(Ereader(), 1);
    for (const std::string &name : all)
        WriteFile("E:\\documents\\" + name, "older");
    EXPECT_TRUE(Contains(Run(), ".\nE:\\: Could not copy the PDF (error 80).\nKindle must be "
                                "plugged in!\n"));
    EXPECT_TRUE(Exists(kPdf));
    EXPECT_EQ(List("E:\\documents").size(), 999u);
}

// One run at a time: a run that cannot have its turn touches nothing; one whose predecessor
// died holding the turn goes on.
TEST_F(Delivery, RunsTakeTurns) {
    Prepare(Ereader(), 1);
    simwin::SetFault("WaitForSingleObject", 1, "");
    EXPECT_EQ(Run(), "Another run is still working.\n");
    EXPECT_EQ(List(kSpool), std::vector<std::string>{"VellumTransit1.jpg"});
    EXPECT_EQ(simwin::CallCounts().count("GetWindowsDirectoryA"), 0u);

    std::ofstream(folder + "/mutex/Global_VellumTransit.Spool") << "1"; // left by a dead run
    EXPECT_TRUE(Contains(Run(), kDelivered));
    std::vector<std::string> events = simwin::Events();
    EXPECT_NE(std::find(events.begin(), events.end(),
                        "WaitForSingleObject Global\\VellumTransit.Spool abandoned"),
              events.end());
    EXPECT_EQ(events.back(), "CloseHandle Global\\VellumTransit.Spool ok");
}

TEST_F(Delivery, TheEmptyListingScansNoDrive) {
    Prepare(Ereader(), 0);
    EXPECT_EQ(Run(), "VellumTransit*.jpg\nNo *.jpg files in temp directory!\n");
    EXPECT_EQ(simwin::CallCounts().count("GetLogicalDriveStringsA"), 0u);
}

// A delete refused for as long as the run lasts (a scanner holding every file): the PDF is
// delivered but its pages and the PDF stay. The next run deletes the pages, sees the document
// already on the e-reader, and deletes the PDF without a second copy.
TEST_F(Delivery, RefusedDeletesDeliverNothingTwice) {
    Prepare(Ereader(), 2);
    for (int nth = 1; nth <= 200; ++nth)
        simwin::SetFault("DeleteFileA", nth, "32");
    EXPECT_TRUE(Contains(Run(), kDelivered));
    EXPECT_EQ(List(kSpool), (std::vector<std::string>{"VellumTransit.pages", "VellumTransit.pdf",
                                                      "VellumTransit.pdf.sending",
                                                      "VellumTransit1.jpg", "VellumTransit2.jpg"}));
    EXPECT_EQ(simwin::ClockMilliseconds() % 1000, 0u); // ten retries of 100 ms for each delete
    PlugIn(Ereader());
    EXPECT_EQ(Run(), "E:\\Output already on Kindle!\nGet drive type...\nE:\\ - Removable\r\n" +
                         std::string(kEjected));
    EXPECT_TRUE(List(kSpool).empty());
    EXPECT_EQ(HostFiles(folder + "/E/documents").size(), 1u); // ejected: past simwin
}

} // namespace
