// Delivery to a media e-reader: one that Windows lists only as a portable device (Windows
// Portable Devices over MTP) and that never gets a drive letter. The delivery stage turns here
// when the drive scan found no e-reader.
#pragma once

// Finds the first e-reader among the portable devices (its description begins with "Kindle",
// or it comes from USB vendor 1949 and reports a model beginning with "Kindle") and copies
// fileName (relative to the current directory) into the "documents" folder at the root of one
// of its storages, under the first free delivered name; nothing on the device is replaced, and
// a failed copy leaves nothing there. fileName is deleted only once the new object is committed
// and its size read back. Prints the device's console lines. 1 when delivered; 0 when no such
// device is attached or the copy failed (fileName then stays for the next run).
int DeliverToMediaEreader(const char *fileName);
