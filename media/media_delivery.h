// Delivery to a media e-reader: one that Windows lists only as a portable device (Windows
// Portable Devices over MTP) and that never gets a drive letter. The delivery stage turns here
// when the drive scan found no e-reader: it finds the e-reader once for the run, delivers each
// round's PDF to it, and closes it at the end.
#pragma once

#include <cstddef>

// What a delivery to a media e-reader came to.
enum MediaDeliveryResult {
    MEDIA_FAILED = 1,  // the e-reader's line says why; the PDF waits for a later run
    MEDIA_COPIED = 2,  // a new object holds the PDF, committed and its size read back
    MEDIA_ALREADY = 3, // an earlier run's copy holds the PDF's bytes: nothing was copied
};

// The e-reader found for the run (see media_device.h).
struct MediaEreader;

// Finds the first e-reader among the portable devices (its description begins with "Kindle", or
// it comes from USB vendor 1949 and reports a model beginning with "Kindle") and opens it. Null
// when none is attached, or portable devices cannot be had (nothing printed); otherwise close it
// with CloseMediaEreader. A device that is an e-reader but cannot be opened is returned too: its
// delivery says so.
MediaEreader *FindMediaEreader();

// Copies fileName (relative to the current directory) into the "documents" folder at the root of
// one of the e-reader's storages, under the first free delivered name of the document named
// base (null: its name could not be read, and the copy fails); nothing on the device is
// replaced, and a failed copy leaves nothing there. Prints the device's console lines, but not
// that it can be unplugged: the caller says so after its last delivery. fileName is left for the
// caller to delete.
MediaDeliveryResult DeliverToMediaEreader(MediaEreader *ereader, const char *fileName,
                                          const char *base);

// The e-reader's console name: its friendly name, else its description, else its model.
const char *MediaEreaderName(const MediaEreader *ereader);

// The e-reader's identifier, as its sending note names it.
const char *MediaEreaderId(const MediaEreader *ereader);

// Closes the e-reader and leaves what FindMediaEreader set up; null is fine.
void CloseMediaEreader(MediaEreader *ereader);
