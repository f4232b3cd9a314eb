// simwin's crashes and its report of what a run still holds at its end: a planned crash ends
// the process at the call it names, with half the bytes written when asked, and a program that
// exits holding anything says what, kind by kind.
#include "tests/support/machine.h"

#include <csignal>
#include <fstream>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

#include "common/win32.h"

namespace {

class SimwinCrash : public MachineTest {
  protected:
    // Runs body in a child process (stderr into a file) and returns its wait status.
    int InChild(const std::function<void()> &body) {
        fflush(stdout);
        pid_t child = fork();
        if (child == 0) {
            if (!freopen((folder + "/stderr").c_str(), "w", stderr))
                _exit(3);
            body();
            exit(0);
        }
        int status = -1;
        waitpid(child, &status, 0);
        return status;
    }
    bool Killed(int status) { return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL; }
    std::string Host(const std::string &name) { return ReadHostFile(folder + "/" + name); }
};

// A crash acts before the call does, except crash_half, which first writes half the bytes.
TEST_F(SimwinCrash, ACrashEndsTheProcessAtItsCall) {
    Load();
    WriteFile("C:\\from", std::string(1000, 'x'));
    const struct {
        const char *operation, *mode;
        size_t written; // bytes at C:\to after the crash; -1: no file
    } cases[] = {
        {"CopyFileA", "crash", (size_t)-1},
        {"CopyFileA", "crash_half", 500},
        {"WriteFile", "crash", 0},
        {"WriteFile", "crash_half", 500},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.operation) + " " + c.mode);
        remove((folder + "/events.log").c_str());
        remove((folder + "/C/to").c_str());
        simwin::SetFault(c.operation, simwin::CallCounts()[c.operation] + 1, c.mode);
        bool copy = strcmp(c.operation, "CopyFileA") == 0;
        int status = InChild([copy] {
            if (copy) {
                CopyFileA("C:\\from", "C:\\to", TRUE);
                return;
            }
            HANDLE file = CreateFileA("C:\\to", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            DWORD done = 0;
            ::WriteFile(file, std::string(1000, 'y').data(), 1000, &done, nullptr);
        });
        EXPECT_TRUE(Killed(status));
        std::string events = Host("events.log");
        EXPECT_EQ(events.substr(events.rfind('\n', events.size() - 2) + 1),
                  "crash at " + std::string(c.operation) + "\n");
        EXPECT_EQ(Exists("C:\\to") ? Host("C/to").size() : (size_t)-1, c.written);
        if (Exists("C:\\to"))
            remove((folder + "/C/to").c_str()); // the child wrote past what the parent knows
        std::string error;
        ASSERT_TRUE(simwin::LoadMachine(folder, &error)) << error;
    }
    simwin::Held held = simwin::HeldNow();
    EXPECT_EQ(held.Total(), 0);
}

// Half a write exists only where bytes are written; a crash is no short write.
TEST_F(SimwinCrash, CrashModesAreCheckedByTheMachineFile) {
    const std::pair<const char *, bool> cases[] = {
        {"CopyFileA = 1:crash_half", true},    {"IStream::Write = 2:crash_half", true},
        {"DeleteFileA = 1:crash", true},       {"IPortableDevice::Open = 1:crash", true},
        {"DeleteFileA = 1:crash_half", false}, {"MoveFileExA = 1:crashed", false},
    };
    for (const auto &[line, loads] : cases) {
        SCOPED_TRACE(line);
        std::ofstream(folder + "/machine.ini") << "[faults]\n" << line << "\n";
        std::string error;
        EXPECT_EQ(simwin::LoadMachine(folder, &error), loads) << error;
    }
    Load("[machine]\n");
}

// A program's run that ends holding things says so, one line per kind, and still exits with 0;
// one that holds nothing says nothing.
TEST_F(SimwinCrash, WhatARunHoldsAtItsEndIsReported) {
    Load();
    for (bool leak : {false, true}) {
        SCOPED_TRACE(leak);
        remove((folder + "/events.log").c_str());
        std::string machine = folder;
        int status = InChild([machine, leak] {
            simwin::UnloadMachine(); // as a program starts: the machine from the environment
            setenv("VELLUMTRANSIT_MACHINE", machine.c_str(), 1);
            void *block = SimMalloc(16);
            HANDLE file = CreateFileA("C:\\held", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            if (!leak) {
                SimFree(block);
                CloseHandle(file);
                DeleteFileA("C:\\held");
            }
        });
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        std::string expected =
            leak ? "held at exit: 1 heap blocks\nheld at exit: 1 file handles\n" : "";
        std::string events = Host("events.log"), report;
        for (size_t at = events.find("held at exit"); at != std::string::npos;
             at = events.find("held at exit", at + 1))
            report += events.substr(at, events.find('\n', at) + 1 - at);
        EXPECT_EQ(report, expected);
        std::string errors = Host("stderr");
        EXPECT_EQ(errors.find("simwin: held at exit: 1 heap blocks\n") != std::string::npos, leak)
            << errors;
    }
}

} // namespace
