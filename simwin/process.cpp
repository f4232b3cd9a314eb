// simwin's processes: CreateProcessA runs the host build of the program it names as a real
// process on the same machine folder (VELLUMTRANSIT_MACHINE passed on), its standard output
// and error in the file handles of the start-up record; the process and thread handles it
// returns are waited for, asked for the exit code and closed like Windows' own.
#include "simwin/simwin_internal.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

using simwin::Current;
using simwin::Enter;
using simwin::Event;
using simwin::FaultError;

namespace {

// A process or thread handle of CreateProcessA. The thread handle only needs closing.
struct ProcessRecord {
    pid_t pid = -1;
    std::string name; // the program's file name, as events name it
    bool thread = false;
    bool exited = false;
    DWORD exitCode = STILL_ACTIVE;
};
std::map<HANDLE, ProcessRecord> gProcesses;

// Sets the last error and returns FALSE.
BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

// Collects the exit status if the process has ended; with wait, waits for it.
void Reap(ProcessRecord *process, bool wait) {
    if (process->exited || process->pid < 0)
        return;
    int status = 0;
    pid_t done;
    do
        done = waitpid(process->pid, &status, wait ? 0 : WNOHANG);
    while (done < 0 && errno == EINTR);
    if (done == process->pid) {
        process->exited = true;
        // A process ended by a signal ends as TerminateProcess would leave it: code 1.
        process->exitCode = WIFEXITED(status) ? (DWORD)WEXITSTATUS(status) : 1;
    }
}

// The descriptor behind a file handle, or -1 for none (the child gets /dev/null).
int DescriptorOf(HANDLE handle) {
    auto found = Current().fileHandles.find(handle);
    return found == Current().fileHandles.end() ? -1 : found->second.descriptor;
}

} // namespace

BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                    LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                    BOOL inheritHandles, DWORD creationFlags, LPVOID environment,
                    LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                    LPPROCESS_INFORMATION processInformation) {
    (void)commandLine, (void)processAttributes, (void)threadAttributes, (void)creationFlags;
    std::string mode;
    bool injected = Enter("CreateProcessA", &mode);
    std::string name = applicationName ? simwin::BaseName(applicationName) : "(null)";
    std::string host = applicationName ? applicationName : "";
    if (host.size() > 4 && strcasecmp(host.c_str() + host.size() - 4, ".exe") == 0)
        host.resize(host.size() - 4);
    BOOL ok = FALSE;
    bool redirect = startupInfo && (startupInfo->dwFlags & STARTF_USESTDHANDLES);
    if (injected)
        Fail(FaultError(mode, ERROR_FILE_NOT_FOUND));
    else if (!applicationName || !processInformation || !startupInfo ||
             startupInfo->cb != sizeof *startupInfo || environment || currentDirectory ||
             (redirect && !inheritHandles))
        Fail(ERROR_INVALID_PARAMETER); // the only way the printer starts the program
    else if (access(host.c_str(), X_OK) != 0)
        Fail(ERROR_FILE_NOT_FOUND);
    else {
        // Everything the child needs is made before fork: a threaded parent's child may only
        // make async-signal-safe calls until exec.
        std::vector<std::string> texts;
        for (char **entry = environ; *entry; ++entry)
            if (strncmp(*entry, "VELLUMTRANSIT_MACHINE=", 22) != 0)
                texts.push_back(*entry);
        texts.push_back("VELLUMTRANSIT_MACHINE=" + Current().folder);
        std::vector<char *> envp;
        for (std::string &text : texts)
            envp.push_back(&text[0]);
        envp.push_back(nullptr);
        char *argv[] = {&host[0], nullptr};
        int out = redirect ? DescriptorOf(startupInfo->hStdOutput) : -1;
        int err = redirect ? DescriptorOf(startupInfo->hStdError) : -1;
        fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            int none = open("/dev/null", O_RDWR);
            dup2(none, 0);
            dup2(out >= 0 ? out : none, 1);
            dup2(err >= 0 ? err : none, 2);
            for (int descriptor = 3; descriptor < 1024; ++descriptor)
                close(descriptor);
            execve(argv[0], argv, envp.data());
            _exit(127);
        }
        if (pid < 0)
            Fail(ERROR_NOT_ENOUGH_MEMORY);
        else {
            HANDLE process = simwin::NewHandleValue(), thread = simwin::NewHandleValue();
            gProcesses[process] = ProcessRecord{pid, name, false, false, STILL_ACTIVE};
            gProcesses[thread] = ProcessRecord{-1, name, true, false, STILL_ACTIVE};
            processInformation->hProcess = process;
            processInformation->hThread = thread;
            processInformation->dwProcessId = (DWORD)pid;
            processInformation->dwThreadId = (DWORD)pid;
            ok = TRUE;
        }
    }
    Event("CreateProcessA " + name + " " +
          (ok ? std::string("ok") : "fail " + std::to_string(Current().lastError)));
    return ok;
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    std::string mode;
    bool injected = Enter("GetExitCodeProcess", &mode);
    auto found = gProcesses.find(process);
    if (found == gProcesses.end() || found->second.thread)
        return Fail(ERROR_INVALID_HANDLE);
    if (injected)
        return Fail(FaultError(mode, ERROR_ACCESS_DENIED));
    if (!exitCode)
        return Fail(ERROR_INVALID_PARAMETER);
    Reap(&found->second, false);
    *exitCode = found->second.exitCode;
    return TRUE;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
    std::string mode;
    if (Enter("GetModuleFileNameA", &mode)) {
        SetLastError(FaultError(mode, ERROR_ACCESS_DENIED));
        return 0;
    }
    char path[4096];
    ssize_t length = module ? -1 : readlink("/proc/self/exe", path, sizeof path - 1);
    if (length < 0 || !fileName || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // Cut short and terminated when the buffer is too small, as Windows does.
    DWORD copied = (DWORD)length < size ? (DWORD)length : size - 1;
    memcpy(fileName, path, copied);
    fileName[copied] = '\0';
    SetLastError((DWORD)length < size ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER);
    return (DWORD)length < size ? copied : size;
}

bool simwin::WaitProcess(HANDLE handle, DWORD milliseconds, bool injected, const std::string &mode,
                         DWORD *result) {
    auto found = gProcesses.find(handle);
    if (found == gProcesses.end())
        return false;
    ProcessRecord &process = found->second;
    if (injected && mode.empty())
        *result = WAIT_TIMEOUT;
    else if (injected || process.thread) {
        SetLastError(FaultError(mode, ERROR_INVALID_HANDLE));
        *result = WAIT_FAILED;
    } else {
        auto start = std::chrono::steady_clock::now();
        for (Reap(&process, milliseconds == INFINITE); !process.exited; Reap(&process, false)) {
            auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            if ((unsigned long long)spent.count() >= milliseconds)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        *result = process.exited ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }
    Event("WaitForSingleObject " + process.name + " " +
          (*result == WAIT_OBJECT_0  ? "ok"
           : *result == WAIT_TIMEOUT ? "timeout"
                                     : "fail"));
    return true;
}

bool simwin::CloseProcessHandle(HANDLE handle, bool injected, const std::string &mode, BOOL *ok) {
    auto found = gProcesses.find(handle);
    if (found == gProcesses.end())
        return false;
    std::string name = found->second.name + (found->second.thread ? " thread" : "");
    // Closing forgets the process; it runs on, as on Windows, and the system reaps it.
    if (!found->second.thread && !found->second.exited)
        Reap(&found->second, false);
    gProcesses.erase(found);
    *ok = injected ? Fail(FaultError(mode, ERROR_INVALID_HANDLE)) : TRUE;
    Event("CloseHandle " + name + " " +
          (*ok ? std::string("ok") : "fail " + std::to_string(Current().lastError)));
    return true;
}

int simwin::ProcessHandlesHeld() {
    return (int)gProcesses.size();
}

void simwin::KillStartedProcesses() {
    for (auto &[handle, process] : gProcesses) {
        (void)handle;
        if (process.thread || process.pid < 0 || process.exited)
            continue;
        kill(process.pid, SIGKILL);
        Reap(&process, true);
    }
}
