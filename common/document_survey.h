// What delivery finds in the e-reader's documents folder, the same on both routes. Each route
// lists the folder its own way (a drive's files, a portable device's objects) and notes here each
// document of ours it finds; the free name and the recognition of an earlier copy by its bytes
// are then one rule for both.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/delivered_name.h"

// The document that the sending note names: an earlier copy of the PDF, whole or cut short.
struct SurveyedDocument {
    void *id;      // the route's way back to it (a path, an object identifier): a heap copy
    int number;    // its delivered name as one of base's, or 0 (a note of another document's)
    uint64_t size; // as the folder's listing gives it
};

// The documents folder as one delivery found it, for the PDF whose document is named base.
struct DocumentSurvey {
    bool taken[kDeliveredNameLast + 1]; // base's delivered names already there, by number
    uint64_t localSize;                 // the PDF's size
    const char *base;                   // the document's name (see delivered_name.h)
    const char *notedName;       // the name the sending note gives a copy on this e-reader, or null
    SurveyedDocument *documents; // a heap array of count: the documents that carry notedName
    int count;
};

// Notes number (base's delivered name, 0 for none) as taken, and keeps the document (idBytes of
// id, copied) when it carries the name the note gives: only a copy that a run of ours began may
// count as the delivery, not any document with the PDF's bytes (a reprint is a new document).
// 0 without memory.
int NoteDocument(DocumentSurvey *survey, int number, bool noted, uint64_t size, const void *id,
                 size_t idBytes);

// Writes the first of base's delivered names that no document carries into name: its number,
// or 0 when every name is taken.
int ChooseFreeName(const DocumentSurvey &survey, char *name, size_t size);

// Frees the kept documents and empties the survey's list.
void ReleaseDocumentSurvey(DocumentSurvey *survey);

// Releases a survey on every way out.
struct DocumentSurveyGuard {
    DocumentSurvey *survey;
    ~DocumentSurveyGuard() { ReleaseDocumentSurvey(survey); }
};

// Reads up to count bytes of a document on the e-reader, however the device splits them, into
// bytes; *got may fall short only at the document's end. 0 on success; otherwise the route keeps
// its own failure in context.
typedef int (*DocumentReader)(void *context, unsigned char *bytes, size_t count, size_t *got);

// What a document on the e-reader is to the PDF.
enum Likeness {
    LIKE_WHOLE = 0,     // it holds the PDF's first size bytes
    LIKE_DIFFERENT = 1, // its bytes differ from the PDF's
    LIKE_START = 2,     // it ends before size bytes, all of them the PDF's: a copy cut short
    LIKE_NO_PDF = 3,    // the local PDF could not be read that far
    LIKE_NO_COPY = 4,   // the document could not be read (the reader's failure)
};

// Compares the first size bytes of the local file with the document that read reads, block by
// block, the document's bytes first.
Likeness CompareWithPdf(const char *fileName, uint64_t size, DocumentReader read, void *context);
