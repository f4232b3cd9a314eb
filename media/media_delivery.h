// Delivery to a media e-reader: one that Windows lists only as a portable device (Windows
// Portable Devices over MTP) and that never gets a drive letter. The delivery stage turns here
// when the drive scan found no e-reader.
#pragma once

#include <cstddef>

// What a delivery to a media e-reader came to.
enum MediaDeliveryResult {
    MEDIA_NO_EREADER = 0, // no media e-reader is attached (nothing printed)
    MEDIA_FAILED = 1,     // the e-reader's line says why; fileName waits for a later run
    MEDIA_COPIED = 2,     // a new object holds fileName, committed and its size read back
    MEDIA_ALREADY = 3,    // an earlier run's copy holds fileName's bytes: nothing was copied
};

// Finds the first e-reader among the portable devices (its description begins with "Kindle",
// or it comes from USB vendor 1949 and reports a model beginning with "Kindle") and copies
// fileName (relative to the current directory) into the "documents" folder at the root of one
// of its storages, under the first free delivered name; nothing on the device is replaced, and
// a failed copy leaves nothing there. Prints the device's console lines, but not that it can be
// unplugged: the caller says so after its last delivery. name gets the device's console name.
// fileName is left for the caller to delete.
MediaDeliveryResult DeliverToMediaEreader(const char *fileName, char *name, size_t nameSize);
