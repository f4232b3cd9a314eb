#include "common/win32.h"

#include "common/delivered_name.h"
#include "common/ereader_root.h"
#include "discovery/drive_scan.h"
#include "driver/conversion.h"
#include "driver/delivery.h"
#include "media/media_delivery.h"
#include "removal/safe_removal.h"

namespace {

// Copies the PDF into the e-reader's documents folder under the first free delivered name.
// Each copy refuses to replace a file, so a document not yet read is never lost to the next,
// even one that appears between two attempts. False when no name is free or a copy fails.
bool CopyToEreader() {
    for (int number = 1; number <= kDeliveredNameLast; ++number) {
        char name[MAX_PATH];
        char destination[MAX_PATH];
        FormatDeliveredName(number, name, sizeof name);
        int length =
            snprintf(destination, sizeof destination, "%sdocuments\\%s", EreaderRoot, name);
        if (length <= 0 || (size_t)length >= sizeof destination)
            return false; // never a cut-off path
        if (CopyFileA(kOutputFileName, destination, TRUE))
            return true;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false; // as on a full device
}

} // namespace

void RunDeliveryStage() {
    EreaderRoot[0] = '\0';
    FindEreaderDrive();
    printf("%s", EreaderRoot);
    if (EreaderRoot[0] != '\0' && CopyToEreader()) {
        printf("Output copied to Kindle!\n");
        SafelyRemoveDrive(EreaderRoot[0]);
        DeleteFileA(kOutputFileName); // whatever the removal did: the PDF is on the device
        return;
    }
    if (EreaderRoot[0] == '\0' && DeliverToMediaEreader(kOutputFileName))
        return; // no e-reader drive, but one that is only a portable device
    printf("Kindle must be plugged in!\n");
}
