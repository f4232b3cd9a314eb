// Crash sweeps over the road of a print job to a drive e-reader: the run is killed at the nth
// call of an operation, for every operation and every n, then runs clean until nothing is left
// to do. Every page reaches the e-reader exactly once, nothing broken or partial is left there,
// the older document stays as it was, and the spool ends empty.
#include "tests/support/runs.h"

#include <fstream>

namespace {

const int kPages = 12;
const char kOlder[] = "%PDF-1.3\r\n% an older document of ours\r\n%%EOF\r\n";

class CrashSweep : public MachineTest {
  protected:
    void Prepare() {
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
        Load(DriveEreader());
        WriteFile("E:\\documents\\VellumTransit.pdf", kOlder);
        for (int page = 1; page <= kPages; ++page)
            WriteFile(JobPagePath(page), JobPage(page));
    }
    // A page of the next print job, spooled after the killed run: a PDF made again of the killed
    // run's pages would then differ from the one already delivered, and show as pages twice.
    // Then clean runs until the spool is empty (at most three), and the check of everything.
    void RunCleanAndCheck(const std::string &transcript) {
        WriteFile(JobPagePath(kPages + 1), JobPage(kPages + 1));
        for (int run = 0; run < 3 && !List(kSpool).empty(); ++run) {
            std::string error;
            ASSERT_TRUE(simwin::LoadMachine(folder, &error)) << error; // the e-reader back in
            RunProgram();
        }
        EXPECT_TRUE(List(kSpool).empty()) << transcript;
        std::map<std::string, std::string> device = HostFiles(folder + "/E/documents");
        EXPECT_EQ(device["VellumTransit.pdf"], kOlder);
        for (const auto &[name, bytes] : device)
            EXPECT_TRUE(IsWholePdf(bytes) && name.find(".partial") == std::string::npos) << name;
        for (int page = 1; page <= kPages + 1; ++page) {
            int copies = 0;
            for (const auto &file : device)
                copies += Occurrences(file.second, JobPage(page));
            EXPECT_EQ(copies, 1) << "page " << page;
        }
    }
};

TEST_F(CrashSweep, EveryPageOnceWhereverTheRunIsKilled) {
    Prepare();
    RunProgram();
    const std::map<std::string, int> calls = simwin::CallCounts();
    int crashes = 0;
    for (const auto &[operation, count] : calls) {
        bool writes = operation == "WriteFile" || operation == "CopyFileA";
        for (int nth = 1; nth <= count; ++nth) {
            for (const char *mode : {"crash", "crash_half"}) {
                if (std::string(mode) == "crash_half" && !writes)
                    continue;
                SCOPED_TRACE(operation + " #" + std::to_string(nth) + " " + mode);
                Prepare();
                ASSERT_TRUE(RunKilledAt(folder, operation, nth, mode));
                std::string events = ReadHostFile(folder + "/events.log");
                EXPECT_NE(events.find("crash at " + operation + "\n"), std::string::npos);
                RunCleanAndCheck(events);
                ++crashes;
            }
        }
    }
    std::cout << "[ sweep    ] " << crashes << " crashes over " << calls.size() << " operations\n";
    EXPECT_GT(crashes, 100);
}

} // namespace
