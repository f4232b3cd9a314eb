// simwin's crashes and its report of what a run still holds at its end: a planned crash ends
// the process at the call it names, with half the bytes written when asked, a power loss also
// forgets what was not flushed, and a program that exits holding anything says what, kind by
// kind.
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
        {"CopyFileA = 1:crash_half", true},       {"IStream::Write = 2:crash_half", true},
        {"DeleteFileA = 1:crash", true},          {"IPortableDevice::Open = 1:crash", true},
        {"DeleteFileA = 1:crash_half", false},    {"MoveFileExA = 1:crashed", false},
        {"Sleep = 1:power_loss", true},           {"IStream::Commit = 3:power_loss", true},
        {"WriteFile = 1:power_loss_half", false},
    };
    for (const auto &[line, loads] : cases) {
        SCOPED_TRACE(line);
        std::ofstream(folder + "/machine.ini") << "[faults]\n" << line << "\n";
        std::string error;
        EXPECT_EQ(simwin::LoadMachine(folder, &error), loads) << error;
    }
    Load("[machine]\n");
}

HANDLE Create(const char *name) {
    return CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void Write(HANDLE file, const std::string &bytes) {
    DWORD done = 0;
    ::WriteFile(file, bytes.data(), (DWORD)bytes.size(), &done, nullptr);
}

// A power loss keeps what was flushed, every rename and delete, and the names of files never
// flushed (empty); the rest of the data goes, whichever process of the machine wrote it, and a
// mutex held then is free afterwards, not abandoned.
TEST_F(SimwinCrash, APowerLossKeepsWhatWasFlushed) {
    Load();
    WriteFile("C:\\clean", "on the disk");
    WriteFile("C:\\rewritten", "on the disk");
    WriteFile("C:\\deleted", "on the disk");
    WriteFile("C:\\source", "copied");
    // An earlier run, ended in good order: its unflushed bytes are still only in the cache.
    HANDLE earlier = Create("C:\\earlier");
    Write(earlier, "never flushed");
    CloseHandle(earlier);
    int status = InChild([] {
        HANDLE flushed = Create("C:\\flushed");
        Write(flushed, "flushed");
        FlushFileBuffers(flushed);
        Write(flushed, " and more");
        CloseHandle(flushed);
        MoveFileExA("C:\\flushed", "C:\\moved", 0);
        FILE *stream = SimFopen("C:\\rewritten", "wb");
        SimFwrite("new", 1, 3, stream);
        SimFclose(stream);
        stream = SimFopen("C:\\committed", "wb");
        SimFwrite("committed", 1, 9, stream);
        SimFflush(stream);
        _commit(_fileno(stream));
        SimFclose(stream);
        CopyFileA("C:\\source", "C:\\copy", TRUE);
        CopyFileA("C:\\source", "C:\\copy flushed", TRUE);
        HANDLE copy = CreateFileA("C:\\copy flushed", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        FlushFileBuffers(copy);
        CloseHandle(copy);
        DeleteFileA("C:\\deleted");
        HANDLE mutex = CreateMutexExA(nullptr, "Global\\Test", 0, SYNCHRONIZE);
        WaitForSingleObject(mutex, 0);
        simwin::SetFault("Sleep", 1, "power_loss");
        Sleep(1);
    });
    EXPECT_TRUE(Killed(status));
    std::string events = Host("events.log");
    EXPECT_EQ(events.substr(events.rfind('\n', events.size() - 2) + 1), "power loss at Sleep\n");
    std::string error;
    ASSERT_TRUE(simwin::LoadMachine(folder, &error)) << error;
    const std::pair<const char *, const char *> kept[] = {
        {"clean", "on the disk"},   {"rewritten", "on the disk"}, {"earlier", ""},
        {"moved", "flushed"},       {"committed", "committed"},   {"copy", ""},
        {"copy flushed", "copied"},
    };
    for (const auto &[name, bytes] : kept) {
        EXPECT_TRUE(Exists(std::string("C:\\") + name)) << name;
        EXPECT_EQ(Host(std::string("C/") + name), bytes) << name;
    }
    EXPECT_FALSE(Exists("C:\\flushed"));
    EXPECT_FALSE(Exists("C:\\deleted"));
    HANDLE mutex = CreateMutexExA(nullptr, "Global\\Test", 0, SYNCHRONIZE);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    CloseHandle(mutex);
    // Nothing is left to forget: a second power loss changes nothing.
    EXPECT_TRUE(Killed(InChild([] {
        simwin::SetFault("Sleep", 1, "power_loss");
        Sleep(1);
    })));
    for (const auto &[name, bytes] : kept)
        EXPECT_EQ(Host(std::string("C/") + name), bytes) << name;
    ASSERT_TRUE(simwin::LoadMachine(folder, &error)) << error;
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
