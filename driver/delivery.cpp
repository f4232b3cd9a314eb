#include "common/win32.h"

#include "common/ereader_root.h"
#include "discovery/drive_scan.h"
#include "driver/conversion.h"
#include "driver/delivery.h"
#include "removal/safe_removal.h"

// The name on the device is fixed: every delivery replaces documents\VellumTransit.pdf.
void RunDeliveryStage() {
    char destination[MAX_PATH];
    EreaderRoot[0] = '\0';
    FindEreaderDrive();
    printf("%s", EreaderRoot);
    snprintf(destination, sizeof destination, "%sdocuments\\VellumTransit.pdf", EreaderRoot);
    if (EreaderRoot[0] != '\0' && CopyFileA(kOutputFileName, destination, FALSE)) {
        printf("Output copied to Kindle!\n");
        SafelyRemoveDrive(EreaderRoot[0]);
        DeleteFileA(kOutputFileName); // whatever the removal did: the PDF is on the device
        return;
    }
    printf("Kindle must be plugged in!\n");
}
