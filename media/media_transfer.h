// The transfer and its check on a media e-reader: the comparison of the survey's candidates with
// the PDF (an earlier run's whole copy, or the start of the one a killed run was sending), the
// new object sent in pieces and committed, its size read back, and the removal of whatever
// carries a name after a failed copy.
#pragma once

#include "common/document_survey.h"
#include "media/wpd_objects.h"

// Compares the objects that carry the name the sending note gives (the survey's documents) with
// the PDF. *delivered gets 1 + the index of one that holds the PDF whole (0 for none): an
// earlier run copied it and was stopped before it deleted the PDF. *cut gets 1 + the index of
// one that holds only the start of the PDF (0 for none, and always 0 with a delivery): a copy
// cut short. When the note was written for another PDF (otherPdfSize, its size, is not 0), the
// object is never the delivery, and it is cut short when smaller than that PDF. The failure to
// compare it ends the delivery: a copy that cannot be checked is not taken for the PDF.
HRESULT CompareCandidates(const OpenDevice &open, const DocumentSurvey &survey,
                          const char *fileName, uint64_t otherPdfSize, int *delivered, int *cut);

// Creates the new object in folder under name with the local file's bytes and commits it;
// *newId gets its identifier, and *created says whether the create call succeeded (from then
// on, on some devices, the object is there). Before the commit every failure reverts the stream.
HRESULT SendFile(const OpenDevice &open, LPCWSTR folder, const char *name, const char *fileName,
                 const ULONGLONG *size, HeldId *newId, bool *created);

// Reads the committed object's size back: the file's size, or the copy failed.
HRESULT VerifySize(const OpenDevice &open, LPWSTR id, ULONGLONG size);

// After a failure that followed the create call: deletes whatever in folder carries name. The
// name was free a moment before, so it can only be the new object, whole or in part (a device
// may make it at the create call and keep it after a Revert). Only a failing search or delete
// leaves it, and the report says so. True when nothing carries the name any more.
bool RemoveNewObject(const OpenDevice &open, LPCWSTR folder, const char *name);
