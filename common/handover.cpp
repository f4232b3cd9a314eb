#include "common/win32.h"

#include "common/handover.h"

#include <cerrno>

#include "common/debug_trace.h"
#include "common/durable_file.h"
#include "common/file_delete.h"
#include "common/spool_contract.h"

namespace {

const size_t kLargestNote = 4u << 20; // far more than a job of the most pages the printer takes

std::string In(const std::string &folder, const std::string &name) {
    return folder.empty() ? name : folder + "\\" + name;
}

// Reads the note's pairs; 1 when it is a whole note of ours, 0 when there is none, 2 when it is
// not one of ours, -1 when it could not be read.
int ReadHandOverNote(const std::string &folder, std::vector<HandOverPage> *pages) {
    FILE *file = fopen(In(folder, kHandOverNote).c_str(), "rb");
    if (!file)
        return errno == ENOENT ? 0 : -1;
    std::string text;
    char block[16384];
    size_t got;
    while ((got = fread(block, 1, sizeof block, file)) > 0 && text.size() <= kLargestNote)
        text.append(block, got);
    bool failed = ferror(file) != 0;
    fclose(file);
    if (failed)
        return -1;
    size_t at = 0, end;
    bool first = true;
    while ((end = text.find('\n', at)) != std::string::npos) {
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (first) {
            if (line != kHandOverFirstLine)
                return 2;
            first = false;
        } else if (line == "end") {
            return at == text.size() ? 1 : 2;
        } else {
            size_t space = line.find(' ');
            HandOverPage page;
            if (space != std::string::npos) {
                page.waiting = line.substr(0, space);
                page.page = line.substr(space + 1);
            }
            if (!IsWaitingPageName(page.waiting.c_str()) || !IsPageName(page.page.c_str()))
                return 2;
            pages->push_back(page);
        }
    }
    return 2; // cut before "end"
}

} // namespace

int WriteHandOverNote(const std::string &folder, const std::vector<HandOverPage> &pages) {
    std::string text = std::string(kHandOverFirstLine) + "\n";
    for (const HandOverPage &page : pages)
        text += page.waiting + " " + page.page + "\n";
    text += "end\n";
    return WriteFileAnew(In(folder, kHandOverNote).c_str(), text.data(), text.size()) ==
           ERROR_SUCCESS;
}

void DeleteHandOverNote(const std::string &folder) {
    DeleteFileRetrying(In(folder, kHandOverNote).c_str());
}

int CompleteHandOver(const std::string &folder) {
    std::vector<HandOverPage> pages;
    int read = ReadHandOverNote(folder, &pages);
    if (read <= 0)
        return read == 0;
    if (read == 2) {
        DeleteHandOverNote(folder); // not the printer's: it names nothing to trust
        return 1;
    }
    for (const HandOverPage &page : pages) {
        // Renamed already (by the printer, or by another who found the note), or gone with a job
        // that was undone: either way nothing is left to do for it.
        if (!MoveFileExA(In(folder, page.waiting).c_str(), In(folder, page.page).c_str(),
                         MOVEFILE_WRITE_THROUGH) &&
            GetLastError() != ERROR_FILE_NOT_FOUND) {
            DebugTrace("Hand-over: %s not renamed (error %u)\n", page.waiting.c_str(),
                       (unsigned)GetLastError());
            return 0;
        }
    }
    DeleteHandOverNote(folder);
    return 1;
}
