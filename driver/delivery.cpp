#include "common/win32.h"

#include "common/ereader_root.h"
#include "discovery/drive_scan.h"
#include "driver/conversion.h"
#include "driver/delivery.h"
#include "media/media_delivery.h"
#include "removal/safe_removal.h"

// The name on the device is fixed: every delivery replaces documents\VellumTransit.pdf.
void RunDeliveryStage() {
    char destination[MAX_PATH];
    EreaderRoot[0] = '\0';
    FindEreaderDrive();
    printf("%s", EreaderRoot);
    int length =
        snprintf(destination, sizeof destination, "%sdocuments\\VellumTransit.pdf", EreaderRoot);
    bool fits = length > 0 && (size_t)length < sizeof destination; // never a cut-off path
    if (EreaderRoot[0] != '\0' && fits && CopyFileA(kOutputFileName, destination, FALSE)) {
        printf("Output copied to Kindle!\n");
        SafelyRemoveDrive(EreaderRoot[0]);
        DeleteFileA(kOutputFileName); // whatever the removal did: the PDF is on the device
        return;
    }
    if (EreaderRoot[0] == '\0' && DeliverToMediaEreader(kOutputFileName))
        return; // no e-reader drive, but one that is only a portable device
    printf("Kindle must be plugged in!\n");
}
