// The spool contract: every name and rule that the printer, the program and the front-end recipe
// (tools/frontend/print-to-spool.sh reads the stem from this file) share about the spool
// folder, %WINDIR%\VellumTransit. Each name is built from the one stem below, so none of them
// can drift from the others.
//
// - Pages: "VellumTransit*.jpg", gathered in natural order. A front end that knows jobs names
//   them "VellumTransit<J>-<P>.jpg" (job J, page P, both from 1), J one above every job in the
//   spool, so that a job never lands on the pages of one still waiting.
// - The printer writes a job's pages under waiting names ("PrinterJob<id>-<P>.tmp"), which
//   neither the page pattern nor its 8.3 short form can match, and renames them into the spool
//   holding the run turn; the program's captured output is "PrinterRun<N>.txt".
// - The program's own files beside the pages, none of which the page pattern matches: the PDF
//   that waits for delivery, its partial name while it is written, the record of its pages
//   (prepared, then committed), and the note of a media copy being sent.
// - A page's title travels inside the page, as a comment segment of the JPEG (below).
// - The run turn: the named mutex that a run holds for its whole length and the printer while
//   it hands a job over; every account may wait for it and hand it back, and nothing more.
#pragma once

#include <cstddef>

#define VT_SPOOL_STEM "VellumTransit"

// The spool folder's name inside the Windows directory.
inline constexpr char kSpoolFolderName[] = VT_SPOOL_STEM;
// What the program gathers, and the start of every page name.
inline constexpr char kPagePattern[] = VT_SPOOL_STEM "*.jpg";
inline constexpr char kPagePrefix[] = VT_SPOOL_STEM;

// The program's files in the spool folder.
inline constexpr char kOutputFileName[] = VT_SPOOL_STEM ".pdf";
inline constexpr char kPartialFileName[] = VT_SPOOL_STEM ".pdf.partial";
inline constexpr char kRecordName[] = VT_SPOOL_STEM ".pages";
inline constexpr char kPreparedName[] = VT_SPOOL_STEM ".pages.partial";
// The record's first line: version 2 records full last-write times (100-ns), version 1 (written
// by earlier versions, still read) whole seconds.
inline constexpr char kRecordFirstLine[] = VT_SPOOL_STEM " page record 2";
inline constexpr char kRecordFirstLineV1[] = VT_SPOOL_STEM " page record 1";
inline constexpr char kSendingNote[] = VT_SPOOL_STEM ".pdf.sending";
// The printer's note of a job being handed over: which waiting files become which pages.
inline constexpr char kHandOverNote[] = VT_SPOOL_STEM ".handover";
inline constexpr char kHandOverFirstLine[] = VT_SPOOL_STEM " hand-over 1";

// A page's title: the printer writes its job's title (UTF-8, at most kPageTitleBytes bytes, as
// IPP's names are) into every page as a JPEG comment segment (after the JFIF segment, which
// stays first), its text this prefix and the title, so that a page and its title never part.
inline constexpr char kPageTitlePrefix[] = VT_SPOOL_STEM " title: ";
enum { kPageTitleBytes = 255 };

// The printer's files in the spool folder: find patterns and the parts of their names.
inline constexpr char kWaitingPagePrefix[] = "PrinterJob";
inline constexpr char kWaitingPageSuffix[] = ".tmp";
inline constexpr char kRunOutputPrefix[] = "PrinterRun";
inline constexpr char kRunOutputSuffix[] = ".txt";
// A job the printer answered with success but has not handed over yet: its note
// ("PrinterJob<id>.job") says how many waiting pages it has, so that it outlives the printer.
inline constexpr char kAcceptedJobSuffix[] = ".job";
inline constexpr char kAcceptedJobFirstLine[] = VT_SPOOL_STEM " accepted job 1";
// The last job number the printer handed over, kept so that a number is never used twice.
inline constexpr char kJobNumberName[] = "PrinterJobNumber.txt";
inline constexpr char kJobNumberPartialName[] = "PrinterJobNumber.txt.partial";
inline constexpr char kJobNumberFirstLine[] = VT_SPOOL_STEM " last job 1";

// The run turn, and the printer's one-per-machine mutex. "Global" so that runs and printers of
// different sessions (a service's and a user's) see the same ones.
inline constexpr char kRunMutexName[] = "Global\\" VT_SPOOL_STEM ".Spool";
inline constexpr char kPrinterMutexName[] = "Global\\" VT_SPOOL_STEM ".Printer";
// Every account may wait for either mutex and hand it back, and nothing more: a mutex of the
// default security would refuse every account but its creator's.
inline constexpr char kMutexSecurity[] = "D:(A;;0x00100001;;;WD)"; // SYNCHRONIZE|MUTEX_MODIFY_STATE

// The spool folder's full path (the Windows directory's VellumTransit) into path. 1 when it
// fits, else 0 with path emptied.
int SpoolFolderPath(char *path, size_t size);

// Writes the name of page (from 1) of job (from 1), "VellumTransit<J>-<P>.jpg", into name. 1
// when it fits, else 0 with name emptied.
int FormatPageName(unsigned long long job, unsigned long long page, char *name, size_t size);

// The job number a page name begins with (the digits after the stem, capped at 10^11), or 0 when
// it begins with none.
unsigned long long PageJobNumber(const char *name);

// Whether name is a bare name that the page pattern matches: the stem first and ".jpg" last,
// letters in any case, and no drive, separator, stream, wildcard or control character. (A name
// that begins with the whole stem is no 8.3 alias: those are at most eight characters and a
// tilde before the dot.) Only such names may be read from the spool's state files.
int IsPageName(const char *name);

// Whether name is a bare waiting name of the printer's ("PrinterJob...tmp", no drive, separator,
// stream, wildcard or control character).
int IsWaitingPageName(const char *name);

// Writes the waiting name of page (from 1) of the printer's job jobId into name. 1 when it
// fits, else 0 with name emptied.
int FormatWaitingPageName(int jobId, int page, char *name, size_t size);

// Writes the name of the note of the printer's accepted job jobId into name. 1 when it fits.
int FormatAcceptedJobName(int jobId, char *name, size_t size);

// Writes the name of the captured output of the printer's run into name. 1 when it fits.
int FormatRunOutputName(int run, char *name, size_t size);
