#include "common/win32.h"

#include "common/debug_trace.h"
#include "discovery/device_diagnostics.h"

// Volume characteristics of the native file-system interface (not in the user-mode headers).
#ifndef FILE_REMOVABLE_MEDIA
#define FILE_REMOVABLE_MEDIA 0x00000001
#endif
#ifndef FILE_FLOPPY_DISKETTE
#define FILE_FLOPPY_DISKETTE 0x00000004
#endif
#ifndef STATUS_SUCCESS
#define STATUS_SUCCESS ((NTSTATUS)0)
#endif

namespace {

enum { kVolumeNameSize = 260 };

// The text properties read for a found device, in report order.
struct PropertyLine {
    DWORD property;
    const char *format; // null: the hardware identifier list
};
const PropertyLine kPropertyLines[] = {
    {SPDRP_CLASS, "    Class: \"%s\"\n"},
    {SPDRP_HARDWAREID, nullptr},
    {SPDRP_FRIENDLYNAME, "    Friendly Name: \"%s\"\n"},
    {SPDRP_PHYSICAL_DEVICE_OBJECT_NAME, "    Physical Device Object Name: \"%s\"\n"},
    {SPDRP_DEVICEDESC, "    Device Description: \"%s\"\n"},
};

// What one lookup holds, released on every way out in this order: the interface detail block,
// the interface handle, the device information set.
struct LookupResources {
    HDEVINFO set = INVALID_HANDLE_VALUE;
    SP_DEVICE_INTERFACE_DETAIL_DATA_A *detail = nullptr;
    HANDLE device = INVALID_HANDLE_VALUE;
    ~LookupResources() {
        if (detail)
            LocalFree(detail);
        if (device != INVALID_HANDLE_VALUE)
            CloseHandle(device);
        if (set != INVALID_HANDLE_VALUE)
            SetupDiDestroyDeviceInfoList(set);
    }
    void CloseDevice() {
        CloseHandle(device);
        device = INVALID_HANDLE_VALUE;
    }
};

// The volume search of the volume walk, released on every way out.
struct VolumeSearch {
    HANDLE handle = INVALID_HANDLE_VALUE;
    ~VolumeSearch() {
        if (handle != INVALID_HANDLE_VALUE)
            FindVolumeClose(handle);
    }
};

bool IsIdDelimiter(char c) {
    return c == '\\' || c == '#' || c == '&';
}

// The next token of text from *at: a maximal run of characters outside the delimiters, a
// double-byte character counting as one (its second byte is never taken for a delimiter).
// NUL-terminates the token in place and returns it, or null when no token is left.
char *NextIdToken(char *text, size_t *at) {
    size_t i = *at;
    while (text[i] != '\0' && IsIdDelimiter(text[i]))
        ++i;
    if (text[i] == '\0') {
        *at = i;
        return nullptr;
    }
    size_t start = i;
    while (text[i] != '\0' && !IsIdDelimiter(text[i]))
        i += IsDBCSLeadByte((BYTE)text[i]) && text[i + 1] != '\0' ? 2 : 1;
    if (text[i] != '\0')
        text[i++] = '\0';
    *at = i;
    return text + start;
}

// Reads the found device's removal policy, text properties and parent, and reports them.
void ReportDevice(HDEVINFO set, SP_DEVINFO_DATA *device, DWORD *removalPolicy) {
    DWORD dataType = 0, size = 0, policy = 0;
    if (SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_REMOVAL_POLICY, &dataType,
                                          reinterpret_cast<BYTE *>(&policy), sizeof policy, &size))
        *removalPolicy = policy;

    char property[kDevicePropertySize];
    for (const PropertyLine &line : kPropertyLines) {
        size = 0;
        if (!SetupDiGetDeviceRegistryPropertyA(set, device, line.property, &dataType,
                                               reinterpret_cast<BYTE *>(property), sizeof property,
                                               &size))
            continue;
        if (line.format) {
            TraceTextProperty(line.format, property, size, sizeof property);
        } else {
            DebugTrace("    Hardware IDs:\n");
            TraceHardwareIdList(property, size, sizeof property);
        }
    }

    DEVINST parent = 0;
    char parentId[kDeviceIdSize];
    // An identifier that fills the whole buffer has no terminator in it: no parent line.
    if (CM_Get_Parent(&parent, device->DevInst, 0) == CR_SUCCESS &&
        CM_Get_Device_IDA(parent, parentId, sizeof parentId, 0) == CR_SUCCESS &&
        memchr(parentId, '\0', sizeof parentId)) {
        DebugTrace("    Parent Device Instance ID: %s\n", parentId);
        TraceHardwareIdParts(parentId);
    }
}

// Examines interface index of the lookup's set. Returns 1 when it is the wanted device (and
// reports it), 0 to go on with the next interface.
int ExamineInterface(LookupResources *held, SP_DEVICE_INTERFACE_DATA *interfaceData,
                     DWORD deviceType, DWORD deviceNumber, char *instanceId, DWORD *removalPolicy) {
    DWORD required = 0;
    if (!SetupDiGetDeviceInterfaceDetailA(held->set, interfaceData, nullptr, 0, &required,
                                          nullptr) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return 0;
    // A size with no room for the size field and a path cannot be a detail.
    if (required < offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + 1)
        return 0;

    if (held->detail) {
        LocalFree(held->detail);
        held->detail = nullptr;
    }
    // One byte more than asked for, never handed out: the path always ends inside the block.
    DWORD blockSize = required;
    held->detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(
        LocalAlloc(LMEM_ZEROINIT, (size_t)blockSize + 1));
    if (!held->detail)
        return 0; // no memory for this one; the next may be smaller
    held->detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA device;
    memset(&device, 0, sizeof device);
    device.cbSize = sizeof device;
    if (!SetupDiGetDeviceInterfaceDetailA(held->set, interfaceData, held->detail, blockSize,
                                          &required, &device))
        return 0;

    held->device = CreateFileA(held->detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (held->device == INVALID_HANDLE_VALUE)
        return 0;
    STORAGE_DEVICE_NUMBER number;
    memset(&number, 0, sizeof number);
    DWORD bytesReturned = 0;
    if (!DeviceIoControl(held->device, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                         sizeof number, &bytesReturned, nullptr) ||
        number.DeviceType != deviceType || number.DeviceNumber != deviceNumber) {
        held->CloseDevice();
        return 0;
    }
    DebugTrace("    DevicePath: %s\n", held->detail->DevicePath);

    // An identifier that could not be read, or needs more than the buffer, is not accepted.
    DWORD idSize = 0;
    if (!SetupDiGetDeviceInstanceIdA(held->set, &device, instanceId, kDeviceIdSize, &idSize) ||
        idSize > kDeviceIdSize || !memchr(instanceId, '\0', kDeviceIdSize)) {
        instanceId[0] = '\0';
        held->CloseDevice();
        return 0;
    }
    ReportDevice(held->set, &device, removalPolicy);
    return 1;
}

} // namespace

int QueryVolumeDeviceCharacteristics(HANDLE volumeHandle, DWORD *deviceType,
                                     DWORD *characteristics) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (!ntdll)
        return 0;
    FARPROC entry = GetProcAddress(ntdll, "NtQueryVolumeInformationFile");
    if (!entry)
        return 0;
    NtQueryVolumeInformationFileProc query =
        reinterpret_cast<NtQueryVolumeInformationFileProc>(reinterpret_cast<void (*)()>(entry));
    IO_STATUS_BLOCK status;
    memset(&status, 0, sizeof status);
    FILE_FS_DEVICE_INFORMATION information;
    memset(&information, 0, sizeof information);
    if (query(volumeHandle, &status, &information, sizeof information, FileFsDeviceInformation) !=
        STATUS_SUCCESS)
        return 0;
    *deviceType = information.DeviceType;
    *characteristics = information.Characteristics;
    return 1;
}

void DiagnoseDriveDevice(HANDLE *volumeHandle, char driveLetter, DWORD deviceType,
                         DWORD deviceNumber, int *removable) {
    const GUID *interfaceClass = nullptr;
    if (deviceType == FILE_DEVICE_CD_ROM || deviceType == FILE_DEVICE_DVD) {
        interfaceClass = &GUID_DEVINTERFACE_CDROM;
    } else if (deviceType == FILE_DEVICE_DISK) {
        DWORD volumeType = 0, characteristics = 0;
        if (QueryVolumeDeviceCharacteristics(*volumeHandle, &volumeType, &characteristics)) {
            interfaceClass = (characteristics & FILE_FLOPPY_DISKETTE) ? &GUID_DEVINTERFACE_FLOPPY
                                                                      : &GUID_DEVINTERFACE_DISK;
            if (characteristics & FILE_REMOVABLE_MEDIA)
                *removable = 1;
        }
    }
    if (CloseHandle(*volumeHandle))
        *volumeHandle = INVALID_HANDLE_VALUE;

    char instanceId[kDeviceIdSize];
    DWORD removalPolicy = 0;
    if (!LookupStorageDeviceInstance(interfaceClass, deviceType, deviceNumber, instanceId,
                                     &removalPolicy))
        return;
    if (removalPolicy == CM_REMOVAL_POLICY_EXPECT_SURPRISE_REMOVAL ||
        removalPolicy == CM_REMOVAL_POLICY_EXPECT_ORDERLY_REMOVAL)
        *removable = 1;
    DebugTrace("    DeviceInstanceId: %s\n", instanceId);
    if (*removable)
        DebugTrace("    Drive %c: is removeable\n", driveLetter);
}

int LookupStorageDeviceInstance(const GUID *interfaceClass, DWORD deviceType, DWORD deviceNumber,
                                char *instanceId, DWORD *removalPolicy) {
    instanceId[0] = '\0';
    *removalPolicy = 0;
    LookupResources held;
    DWORD flags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
    if (!interfaceClass)
        flags |= DIGCF_ALLCLASSES;
    held.set = SetupDiGetClassDevsA(interfaceClass, nullptr, nullptr, flags);
    if (held.set == INVALID_HANDLE_VALUE)
        return 0;
    // Interfaces are enumerated by class only: without one the walk has nothing to ask for
    // (an enumeration given no class crashes inside some device installation services).
    if (!interfaceClass)
        return 0;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData;
        memset(&interfaceData, 0, sizeof interfaceData);
        interfaceData.cbSize = sizeof interfaceData;
        if (!SetupDiEnumDeviceInterfaces(held.set, nullptr, interfaceClass, index, &interfaceData))
            return 0;
        if (ExamineInterface(&held, &interfaceData, deviceType, deviceNumber, instanceId,
                             removalPolicy))
            return 1;
    }
}

void TraceHardwareIdList(const char *list, DWORD reportedSize, DWORD bufferSize) {
    DWORD limit = reportedSize < bufferSize ? reportedSize : bufferSize;
    char text[kDevicePropertySize];
    for (DWORD at = 0; at < limit;) {
        size_t length = BoundedLength(list + at, limit - at);
        if (length == 0 || (unsigned long long)at + reportedSize > bufferSize)
            return;
        size_t shown = length < sizeof text ? length : sizeof text - 1;
        memcpy(text, list + at, shown);
        text[shown] = '\0';
        DebugTrace("        \"%s\"\n", text);
        at += (DWORD)length + 1;
    }
}

void TraceTextProperty(const char *format, const char *value, DWORD reportedSize,
                       DWORD bufferSize) {
    char text[kDevicePropertySize + 1];
    size_t limit = reportedSize < bufferSize ? reportedSize : bufferSize;
    if (limit > kDevicePropertySize)
        limit = kDevicePropertySize;
    size_t length = BoundedLength(value, limit);
    memcpy(text, value, length);
    text[length] = '\0';
    DebugTrace(format, text);
}

void TraceHardwareIdParts(const char *deviceId) {
    char copy[kDeviceIdSize];
    size_t length = BoundedLength(deviceId, sizeof copy - 1);
    memcpy(copy, deviceId, length);
    copy[length] = '\0';
    size_t at = 0;
    while (char *token = NextIdToken(copy, &at)) {
        if (strncmp(token, "VID_", 4) == 0)
            DebugTrace("        vid: \"%s\"\n", token + 4);
        else if (strncmp(token, "PID_", 4) == 0)
            DebugTrace("        pid: \"%s\"\n", token + 4);
        else if (strncmp(token, "MI_", 3) == 0)
            DebugTrace("        mi: \"%s\"\n", token + 3);
    }
}

int FindVolumeByDosDevice(const char *ntDevicePath) {
    char volumeName[kVolumeNameSize];
    char volumeTarget[kVolumeNameSize];
    memset(volumeName, 0, sizeof volumeName);
    memset(volumeTarget, 0, sizeof volumeTarget);
    VolumeSearch search;
    search.handle = FindFirstVolumeA(volumeName, sizeof volumeName);
    if (search.handle == INVALID_HANDLE_VALUE)
        return 0;
    for (;;) {
        volumeName[sizeof volumeName - 1] = '\0';
        size_t length = strlen(volumeName);
        if (length < 4 || memcmp(volumeName, "\\\\?\\", 4) != 0 || volumeName[length - 1] != '\\')
            return 0;
        volumeName[length - 1] = '\0';
        DWORD found = QueryDosDeviceA(volumeName + 4, volumeTarget, sizeof volumeTarget);
        volumeName[length - 1] = '\\';
        if (!found)
            return 0;
        volumeTarget[sizeof volumeTarget - 1] = '\0';
        if (lstrcmpA(ntDevicePath, volumeTarget) == 0)
            return 1;
        if (!FindNextVolumeA(search.handle, volumeName, sizeof volumeName))
            return 0;
    }
}

// Counts up to limit bytes: device texts are not trusted to end inside their buffers.
size_t BoundedLength(const char *text, size_t limit) {
    size_t length = 0;
    while (length < limit && text[length] != '\0')
        ++length;
    return length;
}
