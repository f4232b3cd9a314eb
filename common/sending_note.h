// The sending note: the delivered name a run is about to send to a media e-reader, written beside
// the PDF and flushed before the copy begins, so that a copy cut short by a kill is found and
// removed by the next run. The page pattern cannot match its name.
#pragma once

#include <cstddef>

// Writes the note naming name; 1 when it is on the disk, else 0 with nothing left.
int WriteSendingNote(const char *name);

// Reads the note into name: 1 when one waits (name emptied when it names no delivered name), 0
// when none waits, -1 when it could not be read.
int ReadSendingNote(char *name, size_t size);

// Removes the note (a delete refused for a moment is retried).
void DeleteSendingNote();
