// The printer's platform calls on the spool folder and the program.
#include "common/win32.h"

#include "printer/spool.h"

#include "common/durable_file.h"
#include "common/file_delete.h"
#include "common/handover.h"
#include "common/spool_contract.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <set>
#include <thread>

namespace {

const char kProgramName[] = "vellumtransit.exe";
const auto kPollInterval = std::chrono::milliseconds(50);
// Only the end of the program's output is kept: its last line is what the job reports.
const size_t kOutputTail = 4096;
const int kDeleteAttempts = 40;

// The last non-empty line of text, without its line end.
std::string LastLine(const std::string &text) {
    size_t end = text.find_last_not_of("\r\n");
    if (end == std::string::npos)
        return "";
    size_t start = text.find_last_of("\r\n", end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start + 1) + 1);
}

// Job numbers stay below this: the printer counts them in an int.
const int kLargestJobNumber = 1000000000;
const int kLargestJobPages = 10000;

// Text made one line: a job's name and user come from its client, and each is one line of a note.
std::string OneLine(std::string text) {
    for (char &c : text)
        if ((unsigned char)c < 0x20)
            c = ' ';
    return text.substr(0, 1024);
}

// Reads a small file whole into text; false when it cannot be read (or is not small).
bool ReadSmallFile(const std::string &path, std::string *text) {
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char block[4096];
    size_t got = fread(block, 1, sizeof block, file);
    bool whole = !ferror(file) && got < sizeof block;
    fclose(file);
    text->assign(block, got);
    return whole;
}

// The decimal number that line holds after prefix, from 1 to largest, else 0. Call with the
// rest of the text: the number's line must end in a line end.
int ParseNumber(const std::string &text, const std::string &prefix, int largest) {
    size_t end = text.find('\n');
    if (end == std::string::npos || text.compare(0, prefix.size(), prefix) != 0)
        return 0;
    std::string digits = text.substr(prefix.size(), end - prefix.size());
    if (digits.empty() || digits.size() > 10 || digits[0] == '0' ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    long long number = std::stoll(digits);
    return number <= largest ? (int)number : 0;
}

// The bare names in folder that pattern matches.
std::vector<std::string> List(const std::string &folder, const std::string &pattern) {
    std::vector<std::string> names;
    _finddata_t entry;
    intptr_t search = _findfirst((folder + "\\" + pattern).c_str(), &entry);
    if (search == -1)
        return names;
    do
        names.push_back(entry.name);
    while (_findnext(search, &entry) == 0);
    _findclose(search);
    return names;
}

// Reads the accepted job's note named name; true when it is a whole note of ours for the job its
// name gives. The note's waiting pages follow from the id: no name in it is read.
bool ReadAcceptedJob(const std::string &folder, const std::string &name, AcceptedJob *job) {
    std::string text;
    if (!ReadSmallFile(folder + "\\" + name, &text))
        return false;
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at + 1));
    if (at != text.size() || lines.size() != 6 ||
        lines[0] != std::string(kAcceptedJobFirstLine) + "\n" || lines[5] != "end\n" ||
        lines[3].compare(0, 5, "name ") != 0 || lines[4].compare(0, 5, "user ") != 0)
        return false;
    job->id = ParseNumber(lines[1], "id ", kLargestJobNumber);
    job->pages = ParseNumber(lines[2], "pages ", kLargestJobPages);
    job->name = lines[3].substr(5, lines[3].size() - 6);
    job->user = lines[4].substr(5, lines[4].size() - 6);
    char expected[64];
    FormatAcceptedJobName(job->id, expected, sizeof expected);
    return job->id > 0 && job->pages > 0 && name == expected;
}

// Keeps number as the last job number handed over: written anew beside the old one, then put
// in its place, so that a kill or a power loss leaves the old number or the new one.
DWORD KeepJobNumber(const std::string &folder, int number) {
    std::string text = std::string(kJobNumberFirstLine) + "\n" + std::to_string(number) + "\n";
    std::string partial = folder + "\\" + kJobNumberPartialName;
    DWORD error = WriteFileAnew(partial.c_str(), text.data(), text.size());
    if (error != ERROR_SUCCESS)
        return error;
    if (MoveFileExA(partial.c_str(), (folder + "\\" + kJobNumberName).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return ERROR_SUCCESS;
    error = GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED;
    DeleteFileA(partial.c_str());
    return error;
}

} // namespace

std::mutex &PlatformLock() {
    static std::mutex lock;
    return lock;
}

int FindSpoolFolder(std::string *folder) {
    std::lock_guard<std::mutex> guard(PlatformLock());
    char path[MAX_PATH];
    if (!SpoolFolderPath(path, sizeof path))
        return 0;
    *folder = path;
    // A listing of the folder itself says whether it is there (and is a folder).
    _finddata_t entry;
    intptr_t search = _findfirst(folder->c_str(), &entry);
    if (search == -1)
        return 0;
    _findclose(search);
    return (entry.attrib & _A_SUBDIR) != 0;
}

std::string AcceptedJobPath(const std::string &folder, int id) {
    char name[64];
    FormatAcceptedJobName(id, name, sizeof name);
    return folder + "\\" + name;
}

DWORD NoteAcceptedJob(const std::string &folder, const AcceptedJob &job) {
    std::string text = std::string(kAcceptedJobFirstLine) + "\n" + "id " + std::to_string(job.id) +
                       "\n" + "pages " + std::to_string(job.pages) + "\n" + "name " +
                       OneLine(job.name) + "\n" + "user " + OneLine(job.user) + "\n" + "end\n";
    std::lock_guard<std::mutex> guard(PlatformLock());
    return WriteFileAnew(AcceptedJobPath(folder, job.id).c_str(), text.data(), text.size());
}

int LastJobNumber(const std::string &folder) {
    std::lock_guard<std::mutex> guard(PlatformLock());
    std::string text;
    if (!ReadSmallFile(folder + "\\" + kJobNumberName, &text))
        return 0;
    std::string first = std::string(kJobNumberFirstLine) + "\n";
    if (text.compare(0, first.size(), first) != 0)
        return 0;
    return ParseNumber(text.substr(first.size()), "", kLargestJobNumber);
}

void DeleteStalePages(const std::string &folder, std::vector<AcceptedJob> *accepted) {
    std::vector<std::string> stale;
    accepted->clear();
    {
        std::lock_guard<std::mutex> guard(PlatformLock());
        CompleteHandOver(folder); // a job half handed over is a whole job, not stale pages
        std::vector<std::string> notes =
            List(folder, std::string(kWaitingPagePrefix) + "*" + kAcceptedJobSuffix);
        std::vector<std::string> waiting =
            List(folder, std::string(kWaitingPagePrefix) + "*" + kWaitingPageSuffix);
        const std::set<std::string> there(waiting.begin(), waiting.end());
        std::set<std::string> kept;
        for (const std::string &note : notes) {
            AcceptedJob job;
            bool whole = ReadAcceptedJob(folder, note, &job);
            for (int page = 1; whole && page <= job.pages; ++page) {
                char name[64];
                FormatWaitingPageName(job.id, page, name, sizeof name);
                whole = there.count(name) != 0;
            }
            if (!whole) {
                // Never whole, or handed over already: its pages are the hand-over's or stale.
                stale.push_back(folder + "\\" + note);
                continue;
            }
            for (int page = 1; page <= job.pages; ++page) {
                char name[64];
                FormatWaitingPageName(job.id, page, name, sizeof name);
                kept.insert(name);
            }
            accepted->push_back(job);
        }
        for (const std::string &name : waiting)
            if (!kept.count(name))
                stale.push_back(folder + "\\" + name);
        for (const std::string &name :
             List(folder, std::string(kRunOutputPrefix) + "*" + kRunOutputSuffix))
            stale.push_back(folder + "\\" + name);
        for (const std::string &name : List(folder, kJobNumberPartialName))
            stale.push_back(folder + "\\" + name);
    }
    std::sort(accepted->begin(), accepted->end(),
              [](const AcceptedJob &a, const AcceptedJob &b) { return a.id < b.id; });
    DeletePages(stale);
}

std::string WaitingPageName(const std::string &folder, int jobId, int page) {
    char name[64];
    FormatWaitingPageName(jobId, page, name, sizeof name);
    return folder + "\\" + name;
}

DWORD WriteWaitingPage(const std::string &path, const std::string &jpeg) {
    std::lock_guard<std::mutex> guard(PlatformLock());
    // Flushed before it is ever renamed into the spool: a page whose bytes never reached the disk
    // would come back empty after a power loss and be dropped as unusable.
    return WriteFileAnew(path.c_str(), jpeg.data(), jpeg.size());
}

DWORD OpenWaitingPage(WaitingPageWriter *page, const std::string &path) {
    std::lock_guard<std::mutex> guard(PlatformLock());
    HANDLE file = CreateFileAnew(path.c_str(), 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED;
    page->path = path;
    page->file = file;
    return ERROR_SUCCESS;
}

DWORD AppendWaitingPage(WaitingPageWriter *page, const std::string &bytes) {
    DWORD error = ERROR_SUCCESS;
    {
        std::lock_guard<std::mutex> guard(PlatformLock());
        DWORD written = 0;
        if (!WriteFile(page->file, bytes.data(), (DWORD)bytes.size(), &written, nullptr) ||
            written != bytes.size())
            error = GetLastError() ? GetLastError() : ERROR_DISK_FULL;
    }
    if (error != ERROR_SUCCESS)
        CloseWaitingPage(page, false);
    return error;
}

DWORD CloseWaitingPage(WaitingPageWriter *page, bool keep) {
    if (page->file == INVALID_HANDLE_VALUE)
        return ERROR_SUCCESS;
    std::lock_guard<std::mutex> guard(PlatformLock());
    DWORD error = ERROR_SUCCESS;
    // A page kept is flushed, as WriteWaitingPage's are, before it can be renamed into the spool.
    if (keep && !FlushFileBuffers(page->file))
        error = GetLastError() ? GetLastError() : ERROR_DISK_FULL;
    if (!CloseHandle(page->file) && error == ERROR_SUCCESS)
        error = GetLastError() ? GetLastError() : ERROR_DISK_FULL;
    page->file = INVALID_HANDLE_VALUE;
    if (!keep || error != ERROR_SUCCESS)
        DeleteFileA(page->path.c_str());
    return error;
}

int ReadWaitingPage(const std::string &path, size_t max, std::string *bytes) {
    std::lock_guard<std::mutex> guard(PlatformLock());
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return 0;
    bytes->assign(max, '\0');
    size_t got = fread(&(*bytes)[0], 1, max, file);
    bytes->resize(got);
    fclose(file);
    return 1;
}

void DeletePages(const std::vector<std::string> &paths) {
    // The lock is taken for each file: a delete refused for a moment is retried for up to a
    // second, and other platform calls may come between two files.
    for (const std::string &path : paths) {
        std::lock_guard<std::mutex> guard(PlatformLock());
        DeleteFileRetrying(path.c_str());
    }
}

int TakeRunTurn(RunTurn *turn, bool (*stopNow)(void *context), void *context) {
    {
        std::lock_guard<std::mutex> guard(PlatformLock());
        if (!OpenRunTurn(turn))
            return 0;
    }
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(PlatformLock());
            if (WaitRunTurn(turn, 0))
                return 1;
        }
        if (stopNow(context))
            return 0;
        std::this_thread::sleep_for(kPollInterval);
    }
}

void ReleaseRunTurn(RunTurn *turn) {
    std::lock_guard<std::mutex> guard(PlatformLock());
    EndRunTurn(turn);
}

DWORD HandOverPages(const std::string &folder, const std::vector<std::string> &waiting,
                    int acceptedId, int *job) {
    unsigned long long highest = (unsigned long long)LastJobNumber(folder);
    std::unique_lock<std::mutex> guard(PlatformLock());
    _finddata_t entry;
    intptr_t search = _findfirst((folder + "\\" + kPagePattern).c_str(), &entry);
    // A listing that fails part way could hide a higher job number.
    DWORD error = search == -1 && errno != ENOENT ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    if (search != -1) {
        do {
            unsigned long long number = PageJobNumber(entry.name);
            highest = number > highest ? number : highest;
        } while (_findnext(search, &entry) == 0);
        if (errno != ENOENT)
            error = ERROR_ACCESS_DENIED;
        _findclose(search);
    }
    if (error == ERROR_SUCCESS && highest >= (unsigned long long)kLargestJobNumber)
        error = ERROR_FILENAME_EXCED_RANGE;
    *job = error == ERROR_SUCCESS ? (int)highest + 1 : 0;
    if (error == ERROR_SUCCESS)
        error = KeepJobNumber(folder, *job);
    // The job's pages reach the spool all or none: the note of the renames goes to the disk
    // before the first of them, so that whoever finds it after a kill completes them.
    std::vector<HandOverPage> pages;
    for (size_t page = 0; page < waiting.size(); ++page) {
        char pageName[64];
        FormatPageName((unsigned long long)*job, page + 1, pageName, sizeof pageName);
        pages.push_back({waiting[page].substr(waiting[page].find_last_of('\\') + 1), pageName});
    }
    bool noted = error == ERROR_SUCCESS && WriteHandOverNote(folder, pages);
    if (error == ERROR_SUCCESS && !noted)
        error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    // The hand-over note now carries the job: its acceptance note has served.
    if (noted && acceptedId > 0)
        DeleteFileRetrying(AcceptedJobPath(folder, acceptedId).c_str());
    std::vector<std::string> done;
    for (size_t page = 0; page < waiting.size() && error == ERROR_SUCCESS; ++page) {
        std::string name = folder + "\\" + pages[page].page;
        // Never over a page already there: MoveFileExA without MOVEFILE_REPLACE_EXISTING.
        if (MoveFileExA(waiting[page].c_str(), name.c_str(), MOVEFILE_WRITE_THROUGH))
            done.push_back(name);
        else
            error = GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED;
    }
    if (error != ERROR_SUCCESS) {
        // Part of a job would print as a whole one: none of it stays (while the turn is still
        // held, so that no run sees it), and only then does the note go.
        guard.unlock();
        done.insert(done.end(), waiting.begin() + (long)done.size(), waiting.end());
        if (acceptedId > 0)
            done.push_back(AcceptedJobPath(folder, acceptedId));
        DeletePages(done);
        guard.lock();
    }
    if (noted)
        DeleteHandOverNote(folder);
    return error;
}

DWORD RunProgram(const std::string &folder, int run, std::string *lastLine) {
    char outputName[64];
    FormatRunOutputName(run, outputName, sizeof outputName);
    std::string output = folder + "\\" + outputName;
    PROCESS_INFORMATION process = {};
    {
        std::lock_guard<std::mutex> guard(PlatformLock());
        char self[MAX_PATH] = "";
        DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return length ? ERROR_FILENAME_EXCED_RANGE : GetLastError();
        std::string program = self;
        program = program.substr(0, program.find_last_of("\\/") + 1) + kProgramName;
        std::string commandLine = "\"" + program + "\"";
        // The program's output goes to a new file that it inherits as its standard output.
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE file = CreateFileAnew(output.c_str(), FILE_SHARE_READ, &inherit);
        if (file == INVALID_HANDLE_VALUE)
            return GetLastError();
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nullptr;
        startup.hStdOutput = file;
        startup.hStdError = file;
        BOOL started = CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
        DWORD error = started ? ERROR_SUCCESS : GetLastError();
        CloseHandle(file); // the program has its own handle now
        if (!started) {
            DeleteFileA(output.c_str());
            return error;
        }
        CloseHandle(process.hThread);
    }
    // The exit code is only a sign of the end (the program always exits with 0); when it cannot
    // be had, the process handle is looked at instead. Each look returns at once: the lock is
    // never held while the program runs.
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(PlatformLock());
            DWORD code = 0;
            if (GetExitCodeProcess(process.hProcess, &code)
                    ? code != STILL_ACTIVE
                    : WaitForSingleObject(process.hProcess, 0) != WAIT_TIMEOUT)
                break;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    std::string tail;
    {
        std::lock_guard<std::mutex> guard(PlatformLock());
        WaitForSingleObject(process.hProcess, 0); // the end, seen: it returns at once
        CloseHandle(process.hProcess);
        if (FILE *file = fopen(output.c_str(), "rb")) {
            char buffer[4096];
            size_t got;
            while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) {
                tail.append(buffer, got);
                if (tail.size() > 2 * kOutputTail)
                    tail.erase(0, tail.size() - kOutputTail);
            }
            fclose(file);
        }
    }
    *lastLine = LastLine(tail);
    // The program's handle on its output may close a moment after its process is signalled
    // (Wine does so), and until then the file cannot go: it is tried again for a while.
    for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
        {
            std::lock_guard<std::mutex> guard(PlatformLock());
            if (DeleteFileA(output.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND)
                break;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return ERROR_SUCCESS;
}

int CountWaitingDocuments(const std::string &folder) {
    std::lock_guard<std::mutex> guard(PlatformLock());
    int documents = 0;
    _finddata_t entry;
    intptr_t search = _findfirst((folder + "\\" + kOutputFileName).c_str(), &entry);
    if (search != -1) {
        ++documents;
        _findclose(search);
    } else if (errno != ENOENT) {
        return -1;
    }
    search = _findfirst((folder + "\\" + kPagePattern).c_str(), &entry);
    if (search == -1)
        return errno == ENOENT ? documents : -1;
    std::set<unsigned long long> jobs; // 0 for the pages of no job
    do {
        // A job's page is VellumTransit<J>-<P>.jpg; any other name belongs to no job.
        const char *rest = entry.name + strlen(kPagePrefix);
        unsigned long long job = PageJobNumber(entry.name);
        while (*rest >= '0' && *rest <= '9')
            ++rest;
        jobs.insert(*rest == '-' && rest[1] >= '0' && rest[1] <= '9' ? job : 0);
    } while (_findnext(search, &entry) == 0);
    bool whole = errno == ENOENT; // a listing cut short could hide a job
    _findclose(search);
    return whole ? documents + (int)jobs.size() : -1;
}
