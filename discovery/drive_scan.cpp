#include "common/win32.h"

#include "common/debug_trace.h"
#include "common/ereader_root.h"
#include "discovery/device_diagnostics.h"
#include "discovery/drive_scan.h"

namespace {

const char *const kBusTypeNames[16] = {"Unknown",
                                       "SCSI",
                                       "ATAPI",
                                       "ATA",
                                       "IEEE-1394",
                                       "SSA",
                                       "Fibre Channel",
                                       "USB",
                                       "RAID",
                                       "iSCSI",
                                       "Serial Attached SCSI (SAS)",
                                       "SATA",
                                       "SD",
                                       "MMC",
                                       "Virtual",
                                       "FileBackedVirtual"};

enum {
    kNtDevicePathSize = 261,
    kVolumeLabelSize = 261,
    kFileSystemNameSize = 261,
    kDescriptorSize = 4096,
    kVendorTextSize = 1024,
};

const char kEreaderVendor[] = "Kindle";
const size_t kEreaderVendorLength = 6;

// What the scan holds, released on every way out: the drive list and a volume still open.
struct ScanResources {
    char *driveList = nullptr;
    HANDLE volume = INVALID_HANDLE_VALUE;
    ~ScanResources() {
        if (driveList)
            LocalFree(driveList);
        if (volume != INVALID_HANDLE_VALUE)
            CloseHandle(volume);
    }
};

// Sends one descriptor text's line when the descriptor has that text.
void TraceDescriptorText(const char *format, const void *descriptor, DWORD bytesReturned,
                         DWORD offset) {
    char text[kDescriptorSize];
    if (CopyDescriptorText(descriptor, bytesReturned, offset, text, sizeof text))
        DebugTrace(format, text);
}

// Examines one drive: its report, the e-reader check and the diagnostics. A drive whose volume
// cannot be opened or numbered is given up (its handle closed) so that the walk goes on: such
// drives (network, cloud-storage and RAM drives, card readers) must not hide an e-reader.
void ExamineDrive(const char *driveText, HANDLE *volume) {
    char letter = driveText[0];
    char volumePath[7] = {'\\', '\\', '.', '\\', letter, ':', '\0'};
    int mediaReady = 0;
    int removable = 0;
    DebugTrace("Drive %c:\n", letter);

    char ntDevicePath[kNtDevicePathSize];
    if (QueryDosDeviceA(volumePath + 4, ntDevicePath, sizeof ntDevicePath)) {
        ntDevicePath[sizeof ntDevicePath - 1] = '\0';
        DebugTrace("    Dos Device Name: %s\n", ntDevicePath);
        FindVolumeByDosDevice(ntDevicePath); // a diagnostic walk: what it finds decides nothing
    }

    char label[kVolumeLabelSize];
    char fileSystemName[kFileSystemNameSize];
    DWORD serialNumber = 0, maxComponentLength = 0, fileSystemFlags = 0;
    if (GetVolumeInformationA(driveText, label, sizeof label, &serialNumber, &maxComponentLength,
                              &fileSystemFlags, fileSystemName, sizeof fileSystemName)) {
        label[sizeof label - 1] = '\0';
        DebugTrace("    Volume Name: \"%s\"\n", label);
    }

    *volume = CreateFileA(volumePath, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, nullptr);
    if (*volume == INVALID_HANDLE_VALUE)
        return;

    DWORD bytesReturned = 0;
    if (DeviceIoControl(*volume, IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0, nullptr, 0,
                        &bytesReturned, nullptr)) {
        mediaReady = 1;
        DebugTrace("    the device media are accessible\n");
    } else if (GetLastError() == ERROR_NOT_READY) {
        DebugTrace("    the device media are not accessible\n");
    }

    STORAGE_PROPERTY_QUERY query;
    memset(&query, 0, sizeof query);
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    unsigned char descriptor[kDescriptorSize];
    bytesReturned = 0;
    if (DeviceIoControl(*volume, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, descriptor,
                        sizeof descriptor, &bytesReturned, nullptr)) {
        if (bytesReturned > sizeof descriptor)
            bytesReturned = sizeof descriptor;
        if (ReadStorageDescriptor(descriptor, bytesReturned, &removable) && mediaReady) {
            EreaderRoot[0] = letter;
            EreaderRoot[1] = ':';
            EreaderRoot[2] = '\\';
            EreaderRoot[3] = '\0';
        }
    }

    STORAGE_DEVICE_NUMBER number;
    memset(&number, 0, sizeof number);
    if (!DeviceIoControl(*volume, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                         sizeof number, &bytesReturned, nullptr)) {
        if (CloseHandle(*volume))
            *volume = INVALID_HANDLE_VALUE;
        return;
    }
    DebugTrace("    DeviceType: %d, DeviceNumber: %d, PartitionNumber: %d\n",
               (int)number.DeviceType, (int)number.DeviceNumber, (int)number.PartitionNumber);
    DiagnoseDriveDevice(volume, letter, number.DeviceType, number.DeviceNumber, &removable);
}

} // namespace

const char *GetBusTypeName(int busType) {
    if (busType < 0 || busType >= (int)(sizeof kBusTypeNames / sizeof kBusTypeNames[0]))
        return nullptr;
    return kBusTypeNames[busType];
}

int CopyDescriptorText(const void *descriptor, DWORD bytesReturned, DWORD offset, char *text,
                       DWORD textSize) {
    if (offset == 0 || offset >= bytesReturned || textSize == 0)
        return 0;
    const char *start = static_cast<const char *>(descriptor) + offset;
    size_t length = BoundedLength(start, bytesReturned - offset);
    if (length > textSize - 1)
        length = textSize - 1;
    memcpy(text, start, length);
    text[length] = '\0';
    return 1;
}

int ReadStorageDescriptor(const void *descriptor, DWORD bytesReturned, int *removable) {
    // Fields past the bytes returned read as 0: no bus type, no texts, not removable.
    STORAGE_DEVICE_DESCRIPTOR header;
    memset(&header, 0, sizeof header);
    memcpy(&header, descriptor, bytesReturned < sizeof header ? bytesReturned : sizeof header);

    // The bus type is read as the number it is: a device may report one its enumeration lacks.
    DWORD busType = 0;
    memcpy(&busType,
           reinterpret_cast<const char *>(&header) + offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType),
           sizeof busType);
    const char *busName = GetBusTypeName((int)busType);
    if (busName)
        DebugTrace("    Bus Type: %s\n", busName);
    else
        DebugTrace("    Bus Type: Unknown (%d)\n", (int)busType);

    int isEreader = 0;
    char vendorLine[kDescriptorSize];
    if (CopyDescriptorText(descriptor, bytesReturned, header.VendorIdOffset, vendorLine,
                           sizeof vendorLine)) {
        DebugTrace("    VendorId: \"%s\"\n", vendorLine);
        char vendor[kVendorTextSize];
        size_t length = BoundedLength(vendorLine, sizeof vendor - 1);
        memcpy(vendor, vendorLine, length);
        vendor[length] = '\0';
        isEreader = strncmp(vendor, kEreaderVendor, kEreaderVendorLength) == 0;
    }
    TraceDescriptorText("    ProductId: \"%s\"\n", descriptor, bytesReturned,
                        header.ProductIdOffset);
    TraceDescriptorText("    ProductRevision: \"%s\"\n", descriptor, bytesReturned,
                        header.ProductRevisionOffset);
    if (header.RemovableMedia)
        *removable = 1;
    return isEreader;
}

void FindEreaderDrive() {
    ScanResources held;
    DWORD size = GetLogicalDriveStringsA(0, nullptr);
    if (size == 0)
        return; // nothing to walk
    // One byte more than asked for, never handed out: the last text always ends in the block.
    held.driveList = static_cast<char *>(LocalAlloc(LMEM_ZEROINIT, (size_t)size + 1));
    if (!held.driveList)
        return;
    GetLogicalDriveStringsA(size, held.driveList);
    for (DWORD at = 0; at < size && held.driveList[at] != '\0';
         at += (DWORD)lstrlenA(held.driveList + at) + 1)
        ExamineDrive(held.driveList + at, &held.volume);
}
