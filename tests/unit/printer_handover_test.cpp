// The printer's hand-over killed, or its power lost, at the nth call of every operation: a job
// reaches the e-reader whole and exactly once when its hand-over began (its note on the disk),
// never in part, and nothing broken is left there, after the printer starts again and clean runs.
#include "tests/support/runs.h"

#include "printer/spool.h"

#include <cerrno>
#include <sys/prctl.h>
#include <sys/wait.h>

namespace {

const int kPages = 3;

bool Never(void *) {
    return false;
}

void HandOverJob(int id, const std::vector<std::string> &waiting);

// A job as the printer's spool thread takes it: the pages written as they came (the last piece
// by piece, as a large JPEG document arrives), the run turn, the hand-over, the program's run.
void PrintJob() {
    std::vector<std::string> waiting;
    for (int page = 1; page <= kPages; ++page) {
        waiting.push_back(WaitingPageName(kSpool, 1, page));
        std::string jpeg = JobPage(page);
        if (page < kPages && WriteWaitingPage(waiting.back(), jpeg) != ERROR_SUCCESS)
            return;
        WaitingPageWriter writer;
        if (page == kPages && (OpenWaitingPage(&writer, waiting.back()) != ERROR_SUCCESS ||
                               AppendWaitingPage(&writer, jpeg.substr(0, 100)) != ERROR_SUCCESS ||
                               AppendWaitingPage(&writer, jpeg.substr(100)) != ERROR_SUCCESS ||
                               CloseWaitingPage(&writer, true) != ERROR_SUCCESS))
            return;
    }
    // Answered with success once its note is on the disk.
    if (NoteAcceptedJob(kSpool, {1, kPages, "a job", "someone"}) != ERROR_SUCCESS)
        return;
    HandOverJob(1, waiting);
}

// The spool thread's work on an accepted job: the run turn, the hand-over, the program.
void HandOverJob(int id, const std::vector<std::string> &waiting) {
    RunTurn turn;
    if (!TakeRunTurn(&turn, Never, nullptr))
        return;
    int job = 0;
    DWORD error = HandOverPages(kSpool, waiting, id, &job);
    ReleaseRunTurn(&turn);
    std::string line;
    if (error == ERROR_SUCCESS)
        RunProgram(kSpool, 1, &line);
}

class HandOver : public MachineTest, public ::testing::WithParamInterface<const char *> {
  protected:
    // A program that the killed printer started runs on; it is this process's to wait for.
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    }
    void WaitForOrphans() {
        while (waitpid(-1, nullptr, 0) > 0 || errno == EINTR)
            continue;
    }
    void Prepare() {
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
        Load(DriveEreader());
        MakeDirectory("E:\\documents");
    }
    // The printer starts again (its stale pages go), a page of the next job comes, and clean
    // runs follow: each page on the e-reader as often as expected (by page, from 1).
    void RestartAndCheck(const std::vector<int> &expected, const std::string &context) {
        std::vector<AcceptedJob> accepted;
        DeleteStalePages(kSpool, &accepted);
        // The restarted printer hands over what it finds accepted, as its spool thread does.
        for (const AcceptedJob &job : accepted) {
            std::vector<std::string> waiting;
            for (int page = 1; page <= job.pages; ++page)
                waiting.push_back(WaitingPageName(kSpool, job.id, page));
            HandOverJob(job.id, waiting);
        }
        WriteFile(std::string(kSpool) + "\\VellumTransit2-1.jpg", JobPage(kPages + 1));
        for (int run = 0; run < 3 && !SpoolLeft().empty(); ++run) {
            std::string error;
            ASSERT_TRUE(simwin::LoadMachine(folder, &error)) << error;
            ::RunProgram();
        }
        EXPECT_TRUE(SpoolLeft().empty()) << context;
        std::map<std::string, std::string> device = HostFiles(folder + "/E/documents");
        for (const auto &[name, bytes] : device)
            EXPECT_TRUE(IsWholePdf(bytes) && name.find(".partial") == std::string::npos)
                << name << "\n"
                << context;
        for (int page = 1; page <= kPages + 1; ++page) {
            int copies = 0;
            for (const auto &file : device)
                copies += Occurrences(file.second, JobPage(page));
            EXPECT_EQ(copies, expected[page - 1]) << "page " << page << "\n" << context;
        }
    }
};

TEST_P(HandOver, EveryPageHandedOverArrivesOnce) {
    const std::string mode = GetParam();
    Prepare();
    PrintJob();
    const std::map<std::string, int> calls = simwin::CallCounts();
    RestartAndCheck(std::vector<int>(kPages + 1, 1), "a clean job");
    int stops = 0;
    for (const auto &[operation, count] : calls) {
        for (int nth = 1; nth <= count; ++nth) {
            SCOPED_TRACE(operation + " #" + std::to_string(nth) + " " + mode);
            Prepare();
            bool stopped = RunKilledAt(folder, operation, nth, mode, PrintJob);
            WaitForOrphans();
            // The printer looks at the program's end as often as it takes: a later look may
            // not come.
            if (!stopped && operation == "GetExitCodeProcess" && nth > 1)
                continue;
            ASSERT_TRUE(stopped);
            std::string events = ReadHostFile(folder + "/events.log");
            // All or none: the job is whole once it was accepted (its note on the disk: written,
            // or flushed when the power goes), and never in part.
            const std::string note = std::string(kSpool) + "\\PrinterJob1.job";
            bool whole = mode == "crash"
                             ? events.find("WriteFile " + note + " ") != std::string::npos
                             : events.find("FlushFileBuffers " + note + " ok") != std::string::npos;
            std::vector<int> expected(kPages + 1, 1);
            for (int page = 1; page <= kPages; ++page)
                expected[page - 1] = whole;
            RestartAndCheck(expected, events);
            ++stops;
        }
    }
    std::cout << "[ sweep    ] " << stops << " stops over " << calls.size() << " operations\n";
    EXPECT_GT(stops, 30);
}

std::string ModeName(const ::testing::TestParamInfo<const char *> &info) {
    return info.param;
}

INSTANTIATE_TEST_SUITE_P(Ends, HandOver, ::testing::Values("crash", "power_loss"), ModeName);

} // namespace
