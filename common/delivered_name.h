// The name a delivered PDF gets on the e-reader. A document's name comes from its title (the
// job's name as printed), or is "VellumTransit" when it has none. Nothing on the device is ever
// replaced: the first delivery is "<name>.pdf", and when that name is taken the next free one
// of "<name> (2).pdf" ... "<name> (999).pdf" is used.
#pragma once

#include <cstddef>

#include "common/spool_contract.h"

enum {
    kDeliveredNameLast = 999,
    kDocumentNameCharacters = 100, // characters of a name made from a title, at most
    // and bytes of it: the 8-bit interfaces give a file name 259 bytes, and a copy on its way is
    // "<name> (999).pdf.partial".
    kDocumentNameBytes = 240,
    kDeliveredNameSize = kDocumentNameBytes + 24, // a delivered name and its NUL
};

// The name of a document without a title: the family name of the spool's files.
inline constexpr char kDeliveredPrefix[] = VT_SPOOL_STEM;

// Makes the name of a document of that title (UTF-8, or null for none) into name: every
// character that no Windows file name may hold (\ / : * ? " < > |) and every other control
// character becomes '_', runs of white space (blank, tab, line ends) one blank, a trailing
// ".pdf" in any letters goes (the delivered name adds it once), blanks and dots are trimmed
// from both ends, at most 100 characters and 240 bytes are kept (cut between characters, so
// that every name fits the 8-bit file interfaces), a reserved device
// name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, in any letters, with or without an extension) gets
// a '_' behind it, and a name left empty is "VellumTransit". 1 when it fits, else 0 with name
// emptied; size kDeliveredNameSize always fits.
int MakeDocumentName(const char *title, char *name, size_t size);

// Writes the candidate name number of the document named base (1 for "<base>.pdf", 2 to
// kDeliveredNameLast for "<base> (N).pdf") into buffer. 1 when it fits, else 0 with buffer
// emptied.
int FormatDeliveredName(const char *base, int number, char *buffer, size_t size);

// The number of a delivered name of the document named base, ASCII letters in any case
// ("vellumtransit (3).PDF" is 3 for "VellumTransit"); 0 for any other name.
int ParseDeliveredName(const char *base, const char *name);

// Whether two names are the same, ASCII letters in any case (as the e-reader's file system
// compares them).
int SameDeliveredName(const char *a, const char *b);

// Whether name is a delivered name of some document ("<name>.pdf" or "<name> (N).pdf" with a
// name that MakeDocumentName could have made): only such names may be read from a note.
int IsDeliveredName(const char *name);
