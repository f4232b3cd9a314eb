// The spool's state files trust nothing: anyone who prints may write to the spool folder, so a
// record that a run did not write deletes nothing and lets nothing print twice, and a folder in
// the way of one of the program's files is named.
#include "tests/support/runs.h"

#include <sys/stat.h>

#include "common/spool_contract.h"

namespace {

const std::string kRecord = std::string(kSpool) + "\\VellumTransit.pages";
const char kRefused[] = "The page record VellumTransit.pages is not one this program wrote: "
                        "nothing is converted or delivered until it is removed.\n"
                        "Could not list the spool folder.\n";

class SpoolState : public MachineTest {
  protected:
    // An e-reader holding one delivered document, and pages 1 and 2 in the spool.
    void Prepare() {
        Load(DriveEreader());
        MakeDirectory("E:\\documents");
        WriteFile("E:\\documents\\VellumTransit.pdf", "%PDF-1.3 a document not yet read");
        for (int page = 1; page <= 2; ++page)
            WriteFile(JobPagePath(page), JobPage(page));
    }
    // A record line for the file at host path, under name, with its true size and full
    // last-write time (off by ticks of 100 ns), or its time in whole seconds.
    std::string Line(const std::string &hostPath, const std::string &name, long long ticks = 0,
                     bool seconds = false) {
        struct stat info = {};
        EXPECT_EQ(stat(hostPath.c_str(), &info), 0) << hostPath;
        long long time = seconds ? (long long)info.st_mtim.tv_sec
                                 : ((long long)info.st_mtim.tv_sec + 11644473600ll) * 10000000 +
                                       info.st_mtim.tv_nsec / 100 + ticks;
        return "page " + std::to_string(info.st_size) + " " + std::to_string(time) + " " + name +
               "\n";
    }
    std::string Spooled(int page) {
        return folder + "/C/Windows/VellumTransit/VellumTransit" + std::to_string(page) + ".jpg";
    }
    std::string Record(const std::string &pages) {
        return std::string(kRecordFirstLine) + "\npdf 100\n" + pages + "end\n";
    }
};

// A planted record naming a device's document and a spooled page, with their true sizes and
// times, deletes neither; nor does one naming the page under any name that is not a bare page
// name. The same page under its own name in other letters is one of ours: the run settles it.
TEST_F(SpoolState, ARecordNamingAnyOtherFileIsRefused) {
    const char *const planted[] = {"E:\\documents\\VellumTransit.pdf",
                                   "..\\VellumTransit\\VellumTransit1.jpg",
                                   "C:VellumTransit1.jpg",
                                   "VellumTransit1.jpg:stream",
                                   "VELLUM~1.JPG",
                                   "VellumTransit1.jpeg",
                                   "VellumTransit/../VellumTransit1.jpg"};
    for (const char *name : planted) {
        SCOPED_TRACE(name);
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
        Prepare();
        std::string device = folder + "/E/documents/VellumTransit.pdf";
        WriteFile(kRecord, Record(Line(device, name) + Line(Spooled(1), "VellumTransit1.jpg")));
        EXPECT_EQ(RunProgram(), kRefused);
        EXPECT_EQ(ReadFile("E:\\documents\\VellumTransit.pdf"), "%PDF-1.3 a document not yet read");
        EXPECT_EQ(List(kSpool),
                  (std::vector<std::string>{"VellumTransit.pages", "VellumTransit1.jpg",
                                            "VellumTransit2.jpg"}));
        EXPECT_EQ(RunProgram(), kRefused); // and so on every run while it is there
    }
    ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
    Prepare();
    WriteFile(kRecord, Record(Line(Spooled(1), "vellumtransit1.JPG")));
    std::string transcript = RunProgram();
    EXPECT_EQ(Occurrences(transcript, "Adding "), 1) << transcript; // page 2 only
    EXPECT_TRUE(List(kSpool).empty()) << transcript;
}

// A recorded page is known by its name, size and full last-write time: a new page of the same
// name and size written a moment later is no recorded page, and stays to be printed. A record
// of the earlier version, which knew the time to the second, is still honoured.
TEST_F(SpoolState, ARecordedPageIsKnownByItsFullTime) {
    const struct {
        long long ticks;
        bool seconds;
        int added; // pages converted: the recorded one was deleted unless it is 2
    } cases[] = {{0, false, 1}, {1, false, 2}, {-1, false, 2}, {0, true, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.ticks) + (c.seconds ? " s" : ""));
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
        Prepare();
        std::string pages = Line(Spooled(1), "VellumTransit1.jpg", c.ticks, c.seconds);
        WriteFile(kRecord, c.seconds
                               ? std::string(kRecordFirstLineV1) + "\npdf 100\n" + pages + "end\n"
                               : Record(pages));
        std::string transcript = RunProgram();
        EXPECT_EQ(Occurrences(transcript, "Adding "), c.added) << transcript;
        EXPECT_TRUE(List(kSpool).empty()) << transcript;
    }
}

// A page that a record of version 1 holds back (its delete refused) stays held back when the
// record is written again in this version: it is never converted a second time.
TEST_F(SpoolState, APageHeldBackByAnOlderRecordStaysHeldBack) {
    Prepare();
    WriteFile(kRecord, std::string(kRecordFirstLineV1) + "\npdf 100\n" +
                           Line(Spooled(1), "VellumTransit1.jpg", 0, true) + "end\n");
    for (int nth = 1; nth <= 400; ++nth)
        simwin::SetFault("DeleteFileA", nth, "32");
    std::string transcript = RunProgram();
    EXPECT_EQ(Occurrences(transcript, "Adding "), 1) << transcript; // page 2 only
    EXPECT_NE(ReadFile(kRecord).find("\nsecond "), std::string::npos) << ReadFile(kRecord);
    Load(DriveEreader());
    transcript = RunProgram();
    EXPECT_EQ(Occurrences(transcript, "Adding "), 0) << transcript;
    EXPECT_TRUE(List(kSpool).empty()) << transcript;
}

// Garbage written over a real record (one that holds back pages whose delete was refused) does
// not let those pages print again: nothing is converted while it is there.
TEST_F(SpoolState, GarbageOverARecordLetsNothingPrintTwice) {
    for (const std::string &garbage :
         {std::string("not a record"), Record("page 12 x VellumTransit1.jpg\n"),
          std::string(kRecordFirstLine) + "\npdf 100\n" + "page 1 1 VellumTransit1.jpg\n"}) {
        SCOPED_TRACE(garbage);
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
        Prepare();
        WriteFile(kRecord, garbage);
        EXPECT_EQ(RunProgram(), kRefused);
        EXPECT_EQ(List(kSpool).size(), 3u);
        EXPECT_EQ(ReadFile(kRecord), garbage);
    }
}

// A job the printer was stopped in the middle of handing over is completed by the run that finds
// its note, so that it prints whole; a note that is not the printer's (not whole, or naming
// anything but a waiting page and a page) is deleted, and nothing it names is touched.
TEST_F(SpoolState, AHandOverNoteIsCompletedOrRefused) {
    const std::string note = std::string(kSpool) + "\\VellumTransit.handover";
    const std::string first = std::string(kHandOverFirstLine) + "\n";
    Load();
    WriteFile(JobPagePath(1), JobPage(1)); // renamed before the printer was stopped
    WriteFile(std::string(kSpool) + "\\PrinterJob7-2.tmp", JobPage(2));
    WriteFile(note, first + "PrinterJob7-1.tmp VellumTransit1.jpg\n" +
                        "PrinterJob7-2.tmp VellumTransit2.jpg\nend\n");
    std::string transcript = RunProgram();
    EXPECT_EQ(Occurrences(transcript, "Adding "), 2) << transcript;
    EXPECT_EQ(List(kSpool), std::vector<std::string>{"VellumTransit.pdf"});

    const std::string planted[] = {
        first + "PrinterJob7-2.tmp VellumTransit2.jpg\n",              // cut before its end
        first + "..\\PrinterJob7-2.tmp VellumTransit2.jpg\nend\n",     // not a bare name
        first + "PrinterJob7-2.tmp ..\\..\\VellumTransit2.jpg\nend\n", // nor this
        first + "PrinterJob7-2.tmp VellumTransit.pdf\nend\n",          // not a page
        "not a note\n"};
    for (const std::string &text : planted) {
        SCOPED_TRACE(text);
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
        Load();
        WriteFile(std::string(kSpool) + "\\PrinterJob7-2.tmp", "waiting");
        WriteFile(note, text);
        EXPECT_EQ(RunProgram(), "VellumTransit*.jpg\nNo *.jpg files in temp directory!\n");
        EXPECT_EQ(List(kSpool), std::vector<std::string>{"PrinterJob7-2.tmp"});
    }
}

// A folder under the name of one of the program's files stops the runs: the run names it.
TEST_F(SpoolState, AFolderInTheWayIsNamed) {
    const std::pair<const char *, const char *> cases[] = {
        {"VellumTransit.pages", "Could not list the spool folder.\n"},
        {"VellumTransit.pdf.partial", "Could not write PDF.\n"},
    };
    for (const auto &[name, line] : cases) {
        SCOPED_TRACE(name);
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
        Load();
        WriteFile(JobPagePath(1), JobPage(1));
        MakeDirectory(std::string(kSpool) + "\\" + name);
        std::string transcript = RunProgram();
        std::string named =
            std::string("A folder is in the way of the program's file ") + name + ": remove it.\n";
        EXPECT_NE(transcript.find(named + line), std::string::npos) << transcript;
        EXPECT_TRUE(Exists(JobPagePath(1)));
    }
}

} // namespace
