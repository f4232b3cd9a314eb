// The hand-over note: a job's pages reach the spool all or none. The printer writes the note
// (which waiting file becomes which page), flushed, before its first rename, and deletes it after
// the last; a kill or a power loss in between leaves the note, and whoever finds it next (the
// printer at its start, a run before it lists the spool) completes the renames, so that part of
// a job never passes for the whole of it.
#pragma once

#include <string>
#include <vector>

// One page of the job: its waiting name and its page name, both bare names in the spool folder.
struct HandOverPage {
    std::string waiting;
    std::string page;
};

// Writes the note into folder ("" for the current directory); 1 when it is on the disk, else 0
// with nothing left.
int WriteHandOverNote(const std::string &folder, const std::vector<HandOverPage> &pages);

// Deletes the note once its renames are done or undone.
void DeleteHandOverNote(const std::string &folder);

// Completes the hand-over that a note in folder names, if one waits: each waiting file still
// there is renamed to its page, then the note goes. A note that is not whole, or names anything
// but the spool's own waiting and page names, was not written by the printer: it is deleted and
// nothing it names is touched. 0 when a rename failed: the note stays, and nothing may be
// converted until it is completed.
int CompleteHandOver(const std::string &folder);
