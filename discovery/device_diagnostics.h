// The device diagnostics of the drive scan: the storage device behind a drive, found among the
// present device interfaces of its kind, with its instance identifier, registry properties,
// parent device and removable verdict. Everything found goes to DebugTrace only; nothing here
// changes which drive the scan chooses or whether its walk goes on.
#pragma once

#include "common/win32.h"

enum {
    kDeviceIdSize = 200,        // device instance identifiers, terminator included
    kDevicePropertySize = 4096, // one registry property value
};

// Reports the device behind one drive and closes its volume handle (setting *volumeHandle to
// INVALID_HANDLE_VALUE when the close succeeds). *removable may be raised to 1, never cleared.
void DiagnoseDriveDevice(HANDLE *volumeHandle, char driveLetter, DWORD deviceType,
                         DWORD deviceNumber, int *removable);

// Asks the file system for the volume's device type and characteristics, through
// NtQueryVolumeInformationFile looked up in ntdll at each call. 1 and both outputs on success;
// 0 with the outputs untouched otherwise.
int QueryVolumeDeviceCharacteristics(HANDLE volumeHandle, DWORD *deviceType,
                                     DWORD *characteristics);

// Finds the present device interface of interfaceClass (or none) whose storage device number
// has deviceType and deviceNumber, and reports it. instanceId (kDeviceIdSize characters)
// receives its instance identifier and *removalPolicy its removal policy; both are empty and 0
// whenever nothing is found. Returns 1 when the device was found.
int LookupStorageDeviceInstance(const GUID *interfaceClass, DWORD deviceType, DWORD deviceNumber,
                                char *instanceId, DWORD *removalPolicy);

// Sends the vid, pid and mi lines of the tokens of a device instance identifier.
void TraceHardwareIdParts(const char *deviceId);

// Walks the system's volumes for the one whose NT device path is ntDevicePath. Returns 1 when
// found; sends no line.
int FindVolumeByDosDevice(const char *ntDevicePath);

// Sends one line per text of a hardware identifier list: reportedSize is the byte count its
// read reported, bufferSize the bytes that exist at list. Reads nothing outside either.
void TraceHardwareIdList(const char *list, DWORD reportedSize, DWORD bufferSize);

// Sends one text property's line with format ("...%s..."): the value is read only inside its
// reported size and the bufferSize bytes that exist, and a value without its terminator there is
// cut at their end.
void TraceTextProperty(const char *format, const char *value, DWORD reportedSize, DWORD bufferSize);

// The length of the text at text, looking at no more than limit bytes.
size_t BoundedLength(const char *text, size_t limit);
