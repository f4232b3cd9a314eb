// The delivery stage of a run: finds the attached e-reader once, copies each round's PDF into
// its documents folder (never over a file already there) and deletes the local PDF; after the
// last round removes the drive safely. Without an e-reader the PDF keeps waiting in the spool
// directory for a later run.
#pragma once

#include <cstddef>

struct MediaEreader;

// What delivery knows across the rounds of one run. The e-reader is looked for once, in the first
// round: among the drives, then, when no drive is one, among the portable devices.
struct DeliveryState {
    int found;           // looked for: EreaderRoot names the e-reader drive, or is empty
    int copied;          // a PDF reached the e-reader drive: it is removed safely at the end
    MediaEreader *media; // the media e-reader found when no drive is one, or null
    int mediaCopied;     // a PDF reached it: it is told at the end that it can be unplugged
};

// The name of the document the waiting PDF is (see common/delivered_name.h), from the title in
// its own Info dictionary: "VellumTransit" without one. 0 when the PDF could not be read.
int ReadWaitingDocumentName(char *name, size_t size);

// Delivers the waiting PDF and reports it on the console. 1 when the delivery completed: the
// PDF is on the e-reader and the local one is gone.
int DeliverPdf(DeliveryState *state);

// Ends delivery after the last round: the e-reader drive, if a PDF reached it, is removed
// safely; a media e-reader is closed, and if a PDF reached it, it can be unplugged.
void FinishDelivery(DeliveryState *state);
