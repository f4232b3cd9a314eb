// Which e-reader: the first portable device that the manager lists and our rules call an
// e-reader (its description begins with "Kindle", or it comes from USB vendor 1949 and reports a
// model beginning with "Kindle"), found and opened once for a whole run.
#pragma once

#include "media/media_delivery.h"
#include "media/wpd_objects.h"

// The e-reader found for the run, with the COM session and the manager it was found through.
struct MediaEreader {
    HRESULT com = E_FAIL; // CoInitializeEx's result: COM is left at the end only where it succeeded
    ComRelease<IPortableDeviceManager> manager;
    OpenDevice open;
    HRESULT opened = S_FALSE;         // S_OK, or the failure to open a device that is an e-reader
    char name[kConsoleTextSize] = ""; // the friendly name, else the description, else the model
    char id[kConsoleTextSize] = "";   // the manager's identifier of the device (its PnP id)
};
