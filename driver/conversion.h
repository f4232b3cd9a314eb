// The conversion stage of a run: makes the spool directory current, settles what earlier runs
// left, lists the spooled pages once, and turns them into "VellumTransit.pdf", at most 256
// pages a round, in page order.
#pragma once

#include <cstddef>

#include "common/spool_contract.h"
#include "driver/page_record.h"
#include "pdf/jpeg_intake.h"

// What became of the listing of the spool.
enum ListingResult {
    LISTING_WHOLE = 0, // every matching file listed
    LISTING_EMPTY = 1, // nothing matches
    LISTING_CUT = 2,   // the listing failed before its end, or no memory was left for it
};

// One spooled file as the listing saw it, and what became of it in this run.
struct SpoolEntry {
    RecordedPage page;
    PageIntakeResult outcome;
};

// The spool as the run found it: the pages listed when it began, in page order (the pages that
// belong to no job first, then job by job). Pages that arrive while the run works belong to the
// next run. entries[next] is the first page not yet offered to a document.
struct Spool {
    SpoolEntry *entries;
    size_t count;
    size_t next;
    ListingResult listed;
    PageRecord left;            // pages inside a PDF whose delete was refused: never offered again
    unsigned long long lastJob; // the job of the latest document made (see PageJob), and
    int lastPart;               // which part of it that document was
};

// The job a page belongs to: J + 1 for "VellumTransit<J>-<P>.jpg" (letters in any case), 0 for
// a page of no job. *page gets P (0 for none) when given.
unsigned long long PageJob(const char *name, unsigned long long *page = nullptr);

// What the run does after a conversion round.
enum ConversionOutcome {
    CONVERSION_DELIVER = 0, // a PDF waits to be delivered
    CONVERSION_END_RUN = 1, // nothing to deliver: no page left, or no PDF could be written
};

// Makes the spool directory current, settles the page record and lists the spool. 0 when what
// earlier runs left cannot be settled: then nothing may be converted or delivered, and the run
// ends after saying so. Release the spool with CloseSpool in every case.
int OpenSpool(Spool *spool);

// Releases what the spool holds.
void CloseSpool(Spool *spool);

// Whether a PDF waits in the spool directory.
int IsPdfWaiting();

// Converts the next pages of the listing, until a document holds 256 pages, the next page is of
// another job, or none are left, and writes the PDF. A job's title (that of its first page)
// becomes the document's, "Title (part N)" for the parts after the first of a job past 256
// pages. A cut listing is reported, and so is an empty one in the first round of
// a run; later rounds end quietly when no page is left.
ConversionOutcome ConvertPages(Spool *spool, int firstRound);
