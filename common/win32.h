// The one door to the platform. Every product source reaches Windows (or, in the host build,
// the simulated machine) and the C runtime's file, listing and heap calls through this header
// and nothing else. Include it before any other header.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#ifdef _WIN32

#include <windows.h>
#include <initguid.h> // so that the device interface GUIDs below are defined, not only declared
#include <winioctl.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <dbt.h>
#include <winternl.h>
#include <io.h>
#include <share.h>
#include <sddl.h>
#include <objbase.h>
#include <propidl.h>
#include <propkeydef.h>
#include <portabledevicetypes.h>

#else

#include "simwin/simwin.h"

// Route the C runtime calls of the product code to the simulated machine.
#define fopen SimFopen
#define _fsopen SimFsopen
#define fread SimFread
#define fwrite SimFwrite
#define fflush SimFflush
#define fclose SimFclose
#define malloc SimMalloc
#define calloc SimCalloc
#define realloc SimRealloc
#define free SimFree

#endif

// The native entry point that the characteristics query looks up at run time in ntdll.
typedef NTSTATUS(WINAPI *NtQueryVolumeInformationFileProc)(HANDLE fileHandle,
                                                           IO_STATUS_BLOCK *ioStatusBlock,
                                                           void *fsInformation, ULONG length,
                                                           FS_INFORMATION_CLASS fsInformationClass);

#include "common/wpd.h"

// Device arrival notifications of the configuration manager (Windows 8 and later). MinGW-w64 10
// declares their records but neither function, and Wine 8's cfgmgr32 exports neither, so both
// are looked up by name at run time, with these types written from the published prototypes.
// Nor does MinGW-w64 define the portable devices' interface class. The published definitions
// are checked here (the records' layout in a 64-bit process) and in
// tests/unit/printer_arrival_test.cpp (the class's value, the types against simwin's calls).
typedef CONFIGRET(WINAPI *CM_Register_NotificationProc)(PCM_NOTIFY_FILTER pFilter, PVOID pContext,
                                                        PCM_NOTIFY_CALLBACK pCallback,
                                                        PHCMNOTIFICATION pNotifyContext);
typedef CONFIGRET(WINAPI *CM_Unregister_NotificationProc)(HCMNOTIFICATION NotifyContext);
DEFINE_GUID(GUID_DEVINTERFACE_WPD, 0x6ac27878, 0xa6fa, 0x4155, 0xba, 0x85, 0xf9, 0x8f, 0x49, 0x1d,
            0x4f, 0x33);
#ifdef _WIN32
static_assert(sizeof(CM_NOTIFY_FILTER) == 416 && offsetof(CM_NOTIFY_FILTER, u) == 16,
              "CM_NOTIFY_FILTER as published: four DWORDs, then a union of 200 WCHARs");
static_assert(offsetof(CM_NOTIFY_EVENT_DATA, u.DeviceInterface.SymbolicLink) == 24,
              "CM_NOTIFY_EVENT_DATA as published: the link after two DWORDs and the class");
static_assert(sizeof(DEV_BROADCAST_VOLUME) == 20 &&
                  offsetof(DEV_BROADCAST_VOLUME, dbcv_flags) == 16,
              "DEV_BROADCAST_VOLUME as published");
#endif
