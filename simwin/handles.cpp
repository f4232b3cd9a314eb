// simwin's ordinary file handles (CreateFileA, WriteFile, FlushFileBuffers) and named mutexes
// (CreateMutexExA, WaitForSingleObject, ReleaseMutex). A mutex is a lock file in the machine
// folder under flock, so that separate processes on one machine folder exclude each other as
// processes on one Windows machine would; the kernel drops the lock when its holder dies.
#include "simwin/simwin_internal.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using simwin::Current;
using simwin::Enter;
using simwin::Event;
using simwin::FaultError;

namespace {

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

std::string Result(BOOL ok) {
    return ok ? "ok" : "fail " + std::to_string(Current().lastError);
}

DWORD ErrorOf(int error) {
    switch (error) {
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case ENOSPC:
        return ERROR_DISK_FULL;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// The byte at the start of a mutex's lock file: '1' while an owner holds it. Finding it set
// when the lock is granted means the last owner died holding it: the mutex was abandoned.
bool MarkOwned(int descriptor, bool owned, bool *wasOwned) {
    char before = '0', now = owned ? '1' : '0';
    if (wasOwned)
        *wasOwned = pread(descriptor, &before, 1, 0) == 1 && before == '1';
    return pwrite(descriptor, &now, 1, 0) == 1;
}

} // namespace

HANDLE simwin::NewHandleValue() {
    return (HANDLE)(Current().nextHandle += 4);
}

HANDLE simwin::OpenFileHandle(const char *name, DWORD access, DWORD creation, bool injected,
                              const std::string &mode) {
    std::string absolute, host;
    int flags = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    int descriptor = -1;
    if (injected)
        SetLastError(FaultError(mode, ERROR_ACCESS_DENIED));
    else if (!name || !AbsolutePath(name, &absolute) || !HostPathOf(absolute, &host))
        SetLastError(ERROR_PATH_NOT_FOUND);
    else if (creation != CREATE_NEW && creation != OPEN_EXISTING)
        SetLastError(ERROR_INVALID_PARAMETER); // the only two the program needs
    else {
        // CREATE_NEW fails on any existing name, a dangling link included, and follows none.
        if (creation == CREATE_NEW)
            flags |= O_CREAT | O_EXCL | O_NOFOLLOW;
        descriptor = open(host.c_str(), flags | O_CLOEXEC, 0644);
        if (descriptor < 0) {
            struct stat parent;
            std::string folder = host.substr(0, host.find_last_of('/'));
            SetLastError(errno == ENOENT &&
                                 (stat(folder.c_str(), &parent) != 0 || !S_ISDIR(parent.st_mode))
                             ? ERROR_PATH_NOT_FOUND
                             : ErrorOf(errno));
        }
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (descriptor >= 0) {
        handle = NewHandleValue();
        bool made = creation == CREATE_NEW;
        if (made)
            NoteNewFile(descriptor);
        Current().fileHandles[handle] =
            FileHandle{descriptor, name, (access & GENERIC_WRITE) != 0, made};
    }
    Event(std::string("CreateFileA ") + (name ? name : "(null)") +
          (creation == CREATE_NEW ? " CREATE_NEW " : " OPEN_EXISTING ") +
          Result(handle != INVALID_HANDLE_VALUE));
    return handle;
}

bool simwin::CloseFileOrMutex(HANDLE handle, bool injected, const std::string &mode, BOOL *ok) {
    Machine &machine = Current();
    int descriptor;
    std::string name;
    if (auto file = machine.fileHandles.find(handle); file != machine.fileHandles.end()) {
        descriptor = file->second.descriptor;
        name = file->second.name;
        machine.fileHandles.erase(file);
    } else if (auto mutex = machine.mutexHandles.find(handle);
               mutex != machine.mutexHandles.end()) {
        // Closing does not release ownership: an owner that closes without releasing leaves
        // the mutex abandoned, as when it dies.
        descriptor = mutex->second.descriptor;
        name = mutex->second.name;
        machine.mutexHandles.erase(mutex);
    } else {
        return simwin::CloseProcessHandle(handle, injected, mode, ok);
    }
    // The handle is gone whatever the result: nothing the program could do would free it later.
    *ok = close(descriptor) == 0 ? TRUE : Fail(ERROR_INVALID_HANDLE);
    if (injected)
        *ok = Fail(FaultError(mode, ERROR_INVALID_HANDLE));
    Event("CloseHandle " + name + " " + Result(*ok));
    return true;
}

BOOL WriteFile(HANDLE file, const void *buffer, DWORD count, LPDWORD written,
               LPOVERLAPPED overlapped) {
    std::string mode;
    bool injected = Enter("WriteFile", &mode);
    auto found = Current().fileHandles.find(file);
    if (written)
        *written = 0;
    if (found == Current().fileHandles.end() || overlapped)
        return Fail(found == Current().fileHandles.end() ? ERROR_INVALID_HANDLE
                                                         : ERROR_INVALID_PARAMETER);
    if (!buffer && count > 0)
        return Fail(ERROR_INVALID_USER_BUFFER);
    // A planned fault writes nothing, or half when it is "short" (a full disk part way through)
    // or a crash part way through.
    bool half = mode == "short" || mode == "crash_half";
    size_t wanted = injected ? (half ? count / 2 : 0) : count;
    if (wanted > 0 && !found->second.noted) {
        simwin::NoteChange(found->second.descriptor);
        found->second.noted = true;
    }
    size_t done = 0;
    const char *bytes = static_cast<const char *>(buffer);
    while (done < wanted) {
        ssize_t step = write(found->second.descriptor, bytes + done, wanted - done);
        if (step <= 0)
            break;
        done += (size_t)step;
    }
    if (mode == "crash_half")
        simwin::Crash("WriteFile");
    BOOL ok = !injected && done == count;
    if (!ok)
        SetLastError(injected ? FaultError(mode, ERROR_DISK_FULL) : ErrorOf(errno));
    if (written)
        *written = (DWORD)done;
    Event("WriteFile " + found->second.name + " " + std::to_string(done) + " of " +
          std::to_string(count));
    return ok;
}

BOOL FlushFileBuffers(HANDLE file) {
    std::string mode;
    bool injected = Enter("FlushFileBuffers", &mode);
    auto found = Current().fileHandles.find(file);
    if (found == Current().fileHandles.end())
        return Fail(ERROR_INVALID_HANDLE);
    // The simulated disk's durability is the machine's own model (simwin/disk.cpp), not the
    // host's: no fsync, which would make a printer job of 10,000 pages take minutes.
    BOOL ok = injected ? Fail(FaultError(mode, ERROR_DISK_FULL)) : TRUE;
    if (ok) {
        simwin::NoteFlushed(found->second.descriptor);
        found->second.noted = false; // a later write changes the flushed bytes
    }
    Event("FlushFileBuffers " + found->second.name + " " + Result(ok));
    return ok;
}

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR *descriptor,
                                                          ULONG *size) {
    std::string mode;
    if (Enter("ConvertStringSecurityDescriptorToSecurityDescriptorA", &mode))
        return Fail(FaultError(mode, ERROR_NOT_ENOUGH_MEMORY));
    if (!text || !descriptor || revision != SDDL_REVISION_1 || strncmp(text, "D:", 2) != 0)
        return Fail(ERROR_INVALID_PARAMETER);
    size_t length = strlen(text) + 1;
    *descriptor = LocalAlloc(0, length);
    if (!*descriptor)
        return FALSE;
    memcpy(*descriptor, text, length);
    if (size)
        *size = (ULONG)length;
    return TRUE;
}

// One machine has one account, so a descriptor changes nothing here; the access asked for
// decides what the handle may do, as it does on Windows.
HANDLE CreateMutexExA(LPSECURITY_ATTRIBUTES security, LPCSTR name, DWORD flags, DWORD access) {
    std::string mode;
    bool injected = Enter("CreateMutexExA", &mode);
    HANDLE handle = nullptr;
    if (injected)
        SetLastError(FaultError(mode, ERROR_ACCESS_DENIED));
    else if (security && (security->nLength != sizeof *security || !security->lpSecurityDescriptor))
        SetLastError(ERROR_INVALID_PARAMETER);
    else if (!name || !*name || flags != 0)
        SetLastError(ERROR_NOT_SUPPORTED); // the program names its mutex and waits for it
    else {
        std::string folder = Current().folder + "/mutex", file = name;
        for (char &c : file)
            c = c == '\\' || c == '/' ? '_' : c;
        mkdir(folder.c_str(), 0755);
        int descriptor = open((folder + "/" + file).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (descriptor < 0)
            SetLastError(ERROR_ACCESS_DENIED);
        else {
            handle = simwin::NewHandleValue();
            Current().mutexHandles[handle] = simwin::MutexHandle{descriptor, name, access, 0};
            SetLastError(ERROR_SUCCESS);
        }
    }
    Event(std::string("CreateMutexExA ") + (name ? name : "(null)") + " " +
          Result(handle != nullptr));
    return handle;
}

// Waits in real time, since the owner may be another process; simwin looks every 10 ms, where
// Windows would wake the waiter when the owner lets go.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    std::string mode;
    bool injected = Enter("WaitForSingleObject", &mode);
    DWORD processResult;
    if (simwin::WaitProcess(handle, milliseconds, injected, mode, &processResult))
        return processResult;
    auto found = Current().mutexHandles.find(handle);
    if (found == Current().mutexHandles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    simwin::MutexHandle &mutex = found->second;
    DWORD result = WAIT_OBJECT_0;
    bool waited = false, abandoned = false;
    // A planned fault is the wait running out; with an error code, the wait failing.
    if (injected && mode.empty())
        result = WAIT_TIMEOUT;
    else if (injected)
        SetLastError(FaultError(mode, ERROR_INVALID_HANDLE)), result = WAIT_FAILED;
    else if (!(mutex.access & SYNCHRONIZE))
        SetLastError(ERROR_ACCESS_DENIED), result = WAIT_FAILED;
    else if (mutex.owned == 0) {
        auto start = std::chrono::steady_clock::now();
        while (flock(mutex.descriptor, LOCK_EX | LOCK_NB) != 0) {
            auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            if (errno != EWOULDBLOCK && errno != EINTR) {
                SetLastError(ERROR_ACCESS_DENIED);
                result = WAIT_FAILED;
                break;
            }
            if ((unsigned long long)spent.count() >= milliseconds) {
                result = WAIT_TIMEOUT;
                break;
            }
            waited = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (result == WAIT_OBJECT_0 && !MarkOwned(mutex.descriptor, true, &abandoned)) {
            flock(mutex.descriptor, LOCK_UN);
            SetLastError(ERROR_ACCESS_DENIED);
            result = WAIT_FAILED;
        }
        if (result == WAIT_OBJECT_0 && abandoned)
            result = WAIT_ABANDONED;
    }
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
        ++mutex.owned;
    static const std::map<DWORD, const char *> kResults = {{WAIT_OBJECT_0, "ok"},
                                                           {WAIT_ABANDONED, "abandoned"},
                                                           {WAIT_TIMEOUT, "timeout"},
                                                           {WAIT_FAILED, "fail"}};
    Event("WaitForSingleObject " + mutex.name + (waited ? " after waiting " : " ") +
          kResults.at(result));
    return result;
}

BOOL ReleaseMutex(HANDLE handle) {
    std::string mode;
    bool injected = Enter("ReleaseMutex", &mode);
    auto found = Current().mutexHandles.find(handle);
    if (found == Current().mutexHandles.end())
        return Fail(ERROR_INVALID_HANDLE);
    simwin::MutexHandle &mutex = found->second;
    BOOL ok = TRUE;
    if (injected)
        ok = Fail(FaultError(mode, ERROR_NOT_OWNER));
    else if (!(mutex.access & MUTEX_MODIFY_STATE))
        ok = Fail(ERROR_ACCESS_DENIED);
    else if (mutex.owned == 0)
        ok = Fail(ERROR_NOT_OWNER);
    else if (--mutex.owned == 0) {
        MarkOwned(mutex.descriptor, false, nullptr);
        flock(mutex.descriptor, LOCK_UN);
    }
    Event("ReleaseMutex " + mutex.name + " " + Result(ok));
    return ok;
}
