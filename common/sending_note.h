// The sending note: which copy of which PDF a run is making, on which e-reader. It is written
// beside the PDF and flushed before the copy begins, and removed only once the PDF is gone, so
// the next run can tell an earlier copy of this very PDF (it counts as the delivery) from a copy
// cut short (removed) and from a document that merely has the same bytes (a reprint is a new
// document). The page pattern cannot match its name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/delivered_name.h"

// What a note says. A note of an earlier version holds the name only (known is 0).
struct SendingNote {
    char name[kDeliveredNameSize]; // the delivered name being sent, "" when it names none
    int number; // its number as a name of an untitled document ("VellumTransit (N).pdf"), or 0
    int known;  // the PDF and the device below were noted
    uint64_t pdfSize; // the PDF it copies: its size and last-write time
    long long pdfTime;
    char device[1024]; // the e-reader: its drive root, or the portable device's identifier
};

// The note holds one such entry per e-reader: a copy cut short on one e-reader stays noted
// while a PDF goes to another, until that e-reader is seen again and its entry settled there.
// Each call below works on the entry of one device and keeps the others as they are.

// Writes note as its device's entry; 1 when the note is on the disk, else 0 with the note as it
// was.
int WriteSendingNote(const SendingNote &note);

// Reads device's entry into *note: 1 when one waits, 0 when none waits, -1 when the note could
// not be read. An entry of an earlier version names no device and is taken for any device's.
int ReadSendingNote(const char *device, SendingNote *note);

// Whether the note was written for the PDF of size bytes last written at time, on device.
int NotesThisCopy(const SendingNote &note, uint64_t size, long long time, const char *device);

// Removes device's entry (settled), and the note with the last entry; 1 when it is gone (a
// delete refused for a moment is retried).
int DeleteSendingNote(const char *device);
