// The printer's spool side on simulated machines: waiting pages, the hand-over and its job
// number, what a failure leaves (nothing of the job), the turn, and the program's run.
#include "tests/support/machine.h"

#include "common/spool_contract.h"
#include "printer/spool.h"

#include <tuple>

namespace {

std::string In(const std::string &name) {
    return std::string(kSpool) + "\\" + name;
}

class Spool : public MachineTest {
  protected:
    // Writes n waiting pages of job 1, each with its own bytes; returns their names.
    std::vector<std::string> Waiting(int n) {
        std::vector<std::string> names;
        for (int page = 1; page <= n; ++page) {
            names.push_back(WaitingPageName(kSpool, 1, page));
            EXPECT_EQ(WriteWaitingPage(names.back(), SyntheticJpeg(100, 100 + page)),
                      (DWORD)ERROR_SUCCESS);
        }
        return names;
    }
};

TEST_F(Spool, PagesAreHandedOverAsTheJobAboveEveryJobInTheSpool) {
    Load();
    for (const char *name : {"VellumTransit7-2.jpg", "VellumTransit12.jpg", "VellumTransit.pdf",
                             "VellumTransitX.jpg", "Other99.jpg"})
        WriteFile(In(name), "x");
    std::vector<std::string> waiting = Waiting(3);
    int job = 0;
    EXPECT_EQ(HandOverPages(kSpool, waiting, 0, &job), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(job, 13);
    for (int page = 1; page <= 3; ++page)
        EXPECT_EQ(ReadFile(In("VellumTransit13-" + std::to_string(page) + ".jpg")),
                  SyntheticJpeg(100, 100 + page));
    EXPECT_EQ(List(kSpool).size(), 9u); // the five, the three pages, the number, nothing waiting
    // A number is never used twice, even once the spool is empty again; a number file that is
    // not the printer's counts for nothing.
    for (const std::string &name : List(kSpool))
        if (name != kJobNumberName)
            DeletePages({In(name)});
    EXPECT_EQ(HandOverPages(kSpool, Waiting(1), 0, &job), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(job, 14);
    WriteFile(In(kJobNumberName), "VellumTransit last job 1\n99x\n");
    EXPECT_EQ(HandOverPages(kSpool, Waiting(1), 0, &job), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(job, 15); // one above the spool's highest
    EXPECT_EQ(ReadFile(In(kJobNumberName)), "VellumTransit last job 1\n15\n");
}

TEST_F(Spool, AFailedHandOverLeavesNothingOfTheJob) {
    const std::tuple<const char *, int, const char *> cases[] = {
        // The first MoveFileExA puts the job's number in place, the others rename its pages.
        // Flushes 1 to 4 are the pages' and the job's note, 5 the number's, 6 the hand-over's.
        {"MoveFileExA", 1, ""},        {"MoveFileExA", 2, ""}, {"MoveFileExA", 4, "80"},
        {"_findfirst", 1, ""},         {"_findnext", 1, ""},   {"FlushFileBuffers", 5, "29"},
        {"FlushFileBuffers", 6, "29"},
    };
    for (const auto &entry : cases) {
        Load();
        WriteFile(In("VellumTransit4-1.jpg"), "older job");
        std::vector<std::string> waiting = Waiting(3);
        simwin::SetFault(std::get<0>(entry), std::get<1>(entry), std::get<2>(entry));
        int job = 0;
        NoteAcceptedJob(kSpool, {1, 3, "job", "user"});
        EXPECT_NE(HandOverPages(kSpool, waiting, 1, &job), (DWORD)ERROR_SUCCESS)
            << std::get<0>(entry);
        EXPECT_EQ(SpoolLeft(), std::vector<std::string>{"VellumTransit4-1.jpg"})
            << std::get<0>(entry) << " " << std::get<1>(entry);
        EXPECT_EQ(simwin::HeldNow().Total(), 0);
    }
}

// A delete refused for a moment (a scanner has the file open) is tried again: a failed job's
// pages go, and so does the part of a job already renamed when a later rename fails.
TEST_F(Spool, ADeleteRefusedForAMomentIsTriedAgain) {
    Load();
    std::vector<std::string> waiting = Waiting(2);
    simwin::SetFault("DeleteFileA", simwin::CallCounts()["DeleteFileA"] + 1, "32");
    DeletePages(waiting);
    EXPECT_TRUE(List(kSpool).empty());
    waiting = Waiting(3);
    simwin::SetFault("MoveFileExA", simwin::CallCounts()["MoveFileExA"] + 4, "");
    simwin::SetFault("DeleteFileA", simwin::CallCounts()["DeleteFileA"] + 1, "32");
    int job = 0;
    EXPECT_NE(HandOverPages(kSpool, waiting, 0, &job), (DWORD)ERROR_SUCCESS);
    EXPECT_TRUE(SpoolLeft().empty());
}

TEST_F(Spool, AWaitingPageIsANewFileOrNothing) {
    Load();
    std::string name = WaitingPageName(kSpool, 4, 2);
    EXPECT_EQ(name, In("PrinterJob4-2.tmp"));
    WriteFile(name, "left by a printer that was stopped");
    EXPECT_EQ(WriteWaitingPage(name, "page"), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(ReadFile(name), "page");
    for (const char *operation : {"CreateFileA", "WriteFile", "CloseHandle"}) {
        DeletePages({name});
        simwin::SetFault(operation, simwin::CallCounts()[operation] + 1, "112");
        EXPECT_EQ(WriteWaitingPage(name, "page"), (DWORD)112) << operation;
        EXPECT_FALSE(Exists(name)) << operation;
    }
    simwin::SetFault("WriteFile", simwin::CallCounts()["WriteFile"] + 1, "short");
    EXPECT_NE(WriteWaitingPage(name, "page"), (DWORD)ERROR_SUCCESS);
    EXPECT_FALSE(Exists(name));
}

TEST_F(Spool, StalePagesGoAndTheSpoolFolderIsFound) {
    Load();
    for (const char *name : {"PrinterJob3-1.tmp", "PrinterJob9-12.tmp", "PrinterRun4.txt",
                             "VellumTransit1-1.jpg", "other.tmp"})
        WriteFile(In(name), "x");
    std::string folder;
    EXPECT_TRUE(FindSpoolFolder(&folder));
    EXPECT_EQ(folder, kSpool);
    std::vector<AcceptedJob> accepted;
    DeleteStalePages(folder, &accepted);
    EXPECT_EQ(List(kSpool), (std::vector<std::string>{"VellumTransit1-1.jpg", "other.tmp"}));
}

TEST_F(Spool, NoSpoolFolderIsFoundWhereThereIsNone) {
    Load("", false);
    std::string folder;
    EXPECT_FALSE(FindSpoolFolder(&folder));
    WriteFile(kSpool, "a file, not a folder");
    EXPECT_FALSE(FindSpoolFolder(&folder));
}

bool StopAfterThree(void *context) {
    return ++*static_cast<int *>(context) >= 3;
}

bool Never(void *) {
    return false;
}

// The turn is polled: the printer gives up when told to, and has it once it is free.
TEST_F(Spool, TheTurnIsWaitedForUntilFreeOrGivenUp) {
    Load();
    RunTurn run;
    ASSERT_TRUE(OpenRunTurn(&run));
    ASSERT_TRUE(WaitRunTurn(&run, 0));
    RunTurn printer;
    int polls = 0;
    EXPECT_FALSE(TakeRunTurn(&printer, StopAfterThree, &polls));
    EXPECT_EQ(polls, 3);
    ReleaseRunTurn(&printer);
    EndRunTurn(&run);
    EXPECT_TRUE(TakeRunTurn(&printer, Never, nullptr));
    EXPECT_TRUE(printer.owned);
    ReleaseRunTurn(&printer);
}

// The host program beside the test binary runs on the same machine and its last line comes
// back; its captured output does not stay. Its end is seen also when its exit code cannot be
// asked for.
TEST_F(Spool, TheProgramRunsAndItsLastLineComesBack) {
    for (bool exitCodeFails : {false, true}) {
        Load();
        for (int call = 1; exitCodeFails && call <= 1000; ++call)
            simwin::SetFault("GetExitCodeProcess", call, "");
        int job = 0;
        ASSERT_EQ(HandOverPages(kSpool, Waiting(2), 0, &job), (DWORD)ERROR_SUCCESS);
        std::string line;
        EXPECT_EQ(RunProgram(kSpool, 1, &line), (DWORD)ERROR_SUCCESS);
        EXPECT_EQ(line, "Kindle must be plugged in!") << exitCodeFails;
        EXPECT_EQ(SpoolLeft(), std::vector<std::string>{"VellumTransit.pdf"});
        std::vector<std::string> events = simwin::Events();
        EXPECT_NE(std::find(events.begin(), events.end(), "CreateProcessA vellumtransit.exe ok"),
                  events.end());
        EXPECT_NE(
            std::find(events.begin(), events.end(), "WaitForSingleObject vellumtransit.exe ok"),
            events.end());
        DeletePages({In("VellumTransit.pdf")});
    }
}

TEST_F(Spool, AProgramThatCannotStartLeavesThePagesWaiting) {
    const std::tuple<const char *, const char *, DWORD> cases[] = {
        {"CreateProcessA", "", ERROR_FILE_NOT_FOUND},
        {"CreateProcessA", "5", ERROR_ACCESS_DENIED},
        {"GetModuleFileNameA", "", ERROR_ACCESS_DENIED},
        {"CreateFileA", "", ERROR_ACCESS_DENIED},
    };
    for (const auto &entry : cases) {
        Load();
        int job = 0;
        ASSERT_EQ(HandOverPages(kSpool, Waiting(1), 0, &job), (DWORD)ERROR_SUCCESS);
        simwin::SetFault(std::get<0>(entry), simwin::CallCounts()[std::get<0>(entry)] + 1,
                         std::get<1>(entry));
        std::string line = "unchanged";
        EXPECT_EQ(RunProgram(kSpool, 1, &line), std::get<2>(entry)) << std::get<0>(entry);
        EXPECT_EQ(line, "unchanged");
        EXPECT_EQ(SpoolLeft(), std::vector<std::string>{"VellumTransit1-1.jpg"})
            << std::get<0>(entry);
        EXPECT_EQ(simwin::HeldNow().Total(), 0);
        DeletePages({In("VellumTransit1-1.jpg"), In(kJobNumberName)});
    }
}

} // namespace
