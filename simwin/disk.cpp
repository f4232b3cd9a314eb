// simwin's disk cache: what was written to the simulated disks and devices but not yet flushed,
// and the power loss that forgets it.
//
// MACHINE/unflushed/journal has a line for each change of a file's state, the file named by its
// inode so that the line follows it through renames, and every process on the machine folder
// appends to it: "n KEY" for a file made (it comes back empty: its name was journalled by the
// file system, its data never reached the disk), "o KEY" for a file changed since it was last
// on the disk (its bytes then are kept in MACHINE/unflushed/KEY), and "c KEY" once it is clean
// again (flushed, committed or deleted). A power loss puts every file that is not clean back as
// its state says, forgets the named mutexes and empties the cache: what survives is what was
// flushed, with every rename and delete.
#include "simwin/simwin_internal.h"

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace simwin {
namespace {

std::string Notes(const Machine &machine) {
    return machine.folder + "/unflushed";
}

std::string KeyOf(const struct stat &info) {
    return std::to_string((unsigned long long)info.st_dev) + "-" +
           std::to_string((unsigned long long)info.st_ino);
}

bool CopyBytes(int from, int to) {
    char buffer[1 << 16];
    ssize_t got;
    while ((got = read(from, buffer, sizeof buffer)) > 0)
        for (ssize_t done = 0, step; done < got; done += step)
            if ((step = write(to, buffer + done, (size_t)(got - done))) <= 0)
                return false;
    return got == 0;
}

// The journal, opened (and made) on first use.
int Journal(Machine &machine) {
    if (machine.journal < 0) {
        mkdir(Notes(machine).c_str(), 0755);
        machine.journal = open((Notes(machine) + "/journal").c_str(),
                               O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    }
    return machine.journal;
}

// Reads what the machine's processes added to the journal since this one last looked.
void Catch(Machine &machine) {
    int journal = Journal(machine);
    struct stat info;
    if (journal < 0 || fstat(journal, &info) != 0)
        return;
    if (info.st_size < machine.journalRead) { // emptied by a power loss: all is on the disk
        machine.unflushed.clear();
        machine.journalRead = 0;
    }
    std::string text((size_t)(info.st_size - machine.journalRead), '\0');
    ssize_t got = text.empty() ? 0 : pread(journal, &text[0], text.size(), machine.journalRead);
    text.resize(got > 0 ? (size_t)got : 0);
    // A line another process is still writing has no line end yet: it waits for the next look.
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        machine.journalRead += (long long)(end - at + 1);
        if (end - at < 3)
            continue;
        std::string key = text.substr(at + 2, end - at - 2);
        if (text[at] == 'c')
            machine.unflushed.erase(key);
        else
            machine.unflushed[key] = text[at];
    }
}

void Append(Machine &machine, char state, const std::string &key) {
    std::string line = std::string(1, state) + " " + key + "\n";
    int journal = Journal(machine);
    if (journal < 0 || write(journal, line.data(), line.size()) != (ssize_t)line.size())
        fprintf(stderr, "simwin: the disk cache's journal cannot be written\n");
}

// Notes a file that is about to change: its bytes now are the ones on the disk, unless the
// journal already says otherwise.
void NoteChangeOf(const struct stat &info, const std::string &readable) {
    Machine &machine = Current();
    Catch(machine);
    std::string key = KeyOf(info);
    if (machine.unflushed.count(key))
        return;
    mkdir(Notes(machine).c_str(), 0755);
    int in = open(readable.c_str(), O_RDONLY | O_CLOEXEC);
    int out =
        open((Notes(machine) + "/" + key).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in >= 0 && out >= 0)
        CopyBytes(in, out);
    close(in);
    close(out);
    Append(machine, 'o', key);
}

void NoteCleanOf(Machine &machine, const struct stat &info) {
    Catch(machine);
    auto found = machine.unflushed.find(KeyOf(info));
    if (found == machine.unflushed.end())
        return;
    if (found->second == 'o')
        unlink((Notes(machine) + "/" + found->first).c_str());
    Append(machine, 'c', found->first);
}

// Every regular file below folder, by its key, but those below skip (the cache, the mutexes).
void FindFiles(const std::string &folder, const std::set<std::string> &skip,
               std::map<std::string, std::string> *files) {
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return;
    while (dirent *entry = readdir(dir)) {
        std::string name = entry->d_name, path = folder + "/" + name;
        struct stat info;
        if (name == "." || name == ".." || skip.count(path) || lstat(path.c_str(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode))
            FindFiles(path, skip, files);
        else if (S_ISREG(info.st_mode))
            (*files)[KeyOf(info)] = path;
    }
    closedir(dir);
}

void RemoveFiles(const std::string &folder) {
    if (DIR *dir = opendir(folder.c_str())) {
        while (dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.')
                unlink((folder + "/" + entry->d_name).c_str());
        closedir(dir);
    }
}

} // namespace

Machine::~Machine() {
    if (journal >= 0)
        close(journal);
}

void NoteNewFile(int descriptor) {
    struct stat info;
    if (fstat(descriptor, &info) == 0)
        Append(Current(), 'n', KeyOf(info));
}

void NoteChange(int descriptor) {
    struct stat info;
    // Read through a descriptor of its own: the writer's may be open for writing only.
    if (fstat(descriptor, &info) == 0)
        NoteChangeOf(info, "/proc/self/fd/" + std::to_string(descriptor));
}

void NoteChange(const std::string &host) {
    struct stat info;
    if (stat(host.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        NoteChangeOf(info, host);
}

void NoteFlushed(int descriptor) {
    struct stat info;
    if (fstat(descriptor, &info) == 0)
        NoteCleanOf(Current(), info);
}

void NoteFlushed(const std::string &host) {
    struct stat info;
    if (stat(host.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        NoteCleanOf(Current(), info);
}

void NoteGone(Machine &machine, const std::string &host) {
    struct stat info;
    if (lstat(host.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        NoteCleanOf(machine, info);
}

void NoteGone(const std::string &host) {
    NoteGone(Current(), host);
}

void PowerLoss(const std::string &operation) {
    Event("power loss at " + operation);
    KillStartedProcesses(); // every process of the machine stops with it
    Machine &machine = Current();
    Catch(machine);
    std::string notes = Notes(machine);
    std::map<std::string, std::string> files;
    FindFiles(machine.folder, {notes, machine.folder + "/mutex"}, &files);
    for (const auto &[key, state] : machine.unflushed) {
        auto file = files.find(key);
        if (file == files.end())
            continue; // deleted behind simwin's back
        int out = open(file->second.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        int in = state == 'o' ? open((notes + "/" + key).c_str(), O_RDONLY | O_CLOEXEC) : -1;
        if (out >= 0 && in >= 0)
            CopyBytes(in, out);
        close(in);
        close(out);
    }
    RemoveFiles(notes);
    RemoveFiles(machine.folder + "/mutex"); // a named mutex lives in memory only
    raise(SIGKILL);
    abort(); // not reached
}

} // namespace simwin
