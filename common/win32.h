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
