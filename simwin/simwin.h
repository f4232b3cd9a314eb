// simwin: the simulated Windows machine of the host build.
//
// Declares the subset of the Win32 API, setupapi, cfgmgr32 and the C runtime that the program
// calls, with the platform's own names, values and record layouts (as in a 64-bit process), so
// that the product code compiles unchanged against it. Product code never includes this file
// directly: it includes common/win32.h, which picks <windows.h> or this.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

// ---- Basic types -------------------------------------------------------------------------
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned char BOOLEAN;
typedef char CHAR;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef int32_t NTSTATUS;
typedef uintptr_t ULONG_PTR;
typedef void *HANDLE;
typedef void *HMODULE;
typedef void *HLOCAL;
typedef void *HDEVINFO;
typedef void *HWND;
typedef void *LPVOID;
typedef DWORD *LPDWORD;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef DWORD DEVINST;
typedef DWORD *PDEVINST;
typedef DWORD CONFIGRET;
typedef intptr_t (*FARPROC)();

#define WINAPI
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define MAX_COMPUTERNAME_LENGTH 15
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
inline bool operator==(const GUID &a, const GUID &b) {
    return memcmp(&a, &b, sizeof a) == 0;
}
typedef const GUID *LPCGUID;

typedef void *PSECURITY_DESCRIPTOR;
struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES *LPSECURITY_ATTRIBUTES;
struct OVERLAPPED;
typedef OVERLAPPED *LPOVERLAPPED;

// ---- Error codes -------------------------------------------------------------------------
#define ERROR_SUCCESS 0
#define ERROR_INVALID_FUNCTION 1
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_DATA 13
#define ERROR_NO_MORE_FILES 18
#define ERROR_NOT_READY 21
#define ERROR_BAD_LENGTH 24
#define ERROR_WRITE_FAULT 29
#define ERROR_READ_FAULT 30
#define ERROR_SHARING_VIOLATION 32
#define ERROR_HANDLE_DISK_FULL 39
#define ERROR_NOT_SUPPORTED 50
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_BUFFER_OVERFLOW 111
#define ERROR_DISK_FULL 112
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_INVALID_NAME 123
#define ERROR_MOD_NOT_FOUND 126
#define ERROR_PROC_NOT_FOUND 127
#define ERROR_ALREADY_EXISTS 183
#define ERROR_NOT_OWNER 288
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_NO_MORE_ITEMS 259
#define ERROR_DIRECTORY 267
#define ERROR_UNRECOGNIZED_VOLUME 1005
#define ERROR_INVALID_USER_BUFFER 1784

// ---- Files and system --------------------------------------------------------------------
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_READ_ATTRIBUTES 0x80u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define CREATE_NEW 1u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define MOVEFILE_REPLACE_EXISTING 0x1u
#define MOVEFILE_WRITE_THROUGH 0x8u

#define DRIVE_UNKNOWN 0u
#define DRIVE_NO_ROOT_DIR 1u
#define DRIVE_REMOVABLE 2u
#define DRIVE_FIXED 3u
#define DRIVE_REMOTE 4u
#define DRIVE_CDROM 5u
#define DRIVE_RAMDISK 6u

#define LMEM_ZEROINIT 0x40u

DWORD GetLastError();
void SetLastError(DWORD code);
UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);
// The machine's [machine] computer_name (VELLUM-PC unless it says).
BOOL GetComputerNameA(LPSTR buffer, LPDWORD size);
// The process's ANSI code page: CP_UTF8, as the simulated machine's names are UTF-8 bytes (and
// as Windows 10 1903 and later give a program whose manifest asks for it), or 1252 when
// [machine] code_page = 1252 plays an older Windows.
UINT GetACP();
BOOL SetCurrentDirectoryA(LPCSTR path);
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);
BOOL DeleteFileA(LPCSTR path);
BOOL CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists);
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
// A file's attributes, size and times (100-ns intervals since 1601, from the host file's times to
// the nanosecond, so two writes a moment apart differ).
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard = 0 };
struct WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
};
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
BOOL GetFileAttributesExA(LPCSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID information);
void Sleep(DWORD milliseconds);

// The machine's local time: a fixed day, moved on by Sleep's virtual clock, so runs repeat.
struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
void GetLocalTime(SYSTEMTIME *time);

// Ordinary files through handles (CreateFileA below opens them too), and named mutexes, which
// are shared by every process on the same machine folder.
#define WAIT_OBJECT_0 0u
#define WAIT_ABANDONED 0x80u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
//
// The simulated disks keep a cache, as Windows does: what is written reaches the disk only when
// the file is flushed (FlushFileBuffers, _commit; on a media device, an object's Commit). A
// fault "N:power_loss" ends the process at that call as a crash does and first forgets what
// never reached the disk, as NTFS after a power cut: every file comes back with the bytes of
// its last flush; a file never flushed keeps its name but comes back empty (that of a copy or
// of a media object not committed too); renames and deletes stay as they were made; the
// processes started by CreateProcessA stop and the named mutexes are gone. It forgets the
// writes of every process on the machine folder since the last power loss, not only its own.
BOOL WriteFile(HANDLE file, const void *buffer, DWORD count, LPDWORD written,
               LPOVERLAPPED overlapped);
BOOL FlushFileBuffers(HANDLE file);
#define SECURITY_IMPERSONATION 0x00020000u // SecurityImpersonation << 16
#define SYNCHRONIZE 0x00100000u
#define MUTEX_MODIFY_STATE 0x0001u
#define SDDL_REVISION_1 1u
HANDLE CreateMutexExA(LPSECURITY_ATTRIBUTES security, LPCSTR name, DWORD flags, DWORD access);
// The descriptor is a LocalAlloc block, released with LocalFree; simwin keeps the text.
BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR *descriptor,
                                                          ULONG *size);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL ReleaseMutex(HANDLE mutex);
HLOCAL LocalAlloc(UINT flags, size_t bytes);
HLOCAL LocalFree(HLOCAL block);
int lstrlenA(LPCSTR text);
int lstrcmpA(LPCSTR a, LPCSTR b);
int wsprintfA(LPSTR buffer, LPCSTR format, ...);
BOOL IsDBCSLeadByte(BYTE testChar); // the simulated machine's code page is single-byte

// ---- Volumes and devices -----------------------------------------------------------------
DWORD GetLogicalDriveStringsA(DWORD size, LPSTR buffer);
DWORD QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD size);
BOOL GetVolumeInformationA(LPCSTR rootPath, LPSTR volumeName, DWORD volumeNameSize,
                           LPDWORD serialNumber, LPDWORD maxComponentLength,
                           LPDWORD fileSystemFlags, LPSTR fileSystemName, DWORD fileSystemNameSize);
UINT GetDriveTypeA(LPCSTR rootPath);
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD creation, DWORD flags, HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer,
                     DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped);
HANDLE FindFirstVolumeA(LPSTR volumeName, DWORD size);
BOOL FindNextVolumeA(HANDLE search, LPSTR volumeName, DWORD size);
BOOL FindVolumeClose(HANDLE search);
HMODULE GetModuleHandleA(LPCSTR moduleName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);

#define FILE_DEVICE_CD_ROM 0x2u
#define FILE_DEVICE_DISK 0x7u
#define FILE_DEVICE_DVD 0x33u
#define FILE_REMOVABLE_MEDIA 0x1u
#define FILE_FLOPPY_DISKETTE 0x4u

#define IOCTL_STORAGE_CHECK_VERIFY2 0x2D0800u
#define IOCTL_STORAGE_QUERY_PROPERTY 0x2D1400u
#define IOCTL_STORAGE_GET_DEVICE_NUMBER 0x2D1080u
#define IOCTL_STORAGE_MEDIA_REMOVAL 0x2D4804u
#define IOCTL_STORAGE_EJECT_MEDIA 0x2D4808u
#define FSCTL_LOCK_VOLUME 0x90018u
#define FSCTL_DISMOUNT_VOLUME 0x90020u

enum STORAGE_PROPERTY_ID { StorageDeviceProperty = 0 };
enum STORAGE_QUERY_TYPE { PropertyStandardQuery = 0 };
enum STORAGE_BUS_TYPE { BusTypeUnknown = 0, BusTypeUsb = 7, BusTypeMax = 0x7F };

struct STORAGE_PROPERTY_QUERY {
    STORAGE_PROPERTY_ID PropertyId;
    STORAGE_QUERY_TYPE QueryType;
    BYTE AdditionalParameters[1];
};

struct STORAGE_DEVICE_DESCRIPTOR {
    DWORD Version;
    DWORD Size;
    BYTE DeviceType;
    BYTE DeviceTypeModifier;
    BOOLEAN RemovableMedia;
    BOOLEAN CommandQueueing;
    DWORD VendorIdOffset;
    DWORD ProductIdOffset;
    DWORD ProductRevisionOffset;
    DWORD SerialNumberOffset;
    STORAGE_BUS_TYPE BusType;
    DWORD RawPropertiesLength;
    BYTE RawDeviceProperties[1];
};

struct STORAGE_DEVICE_NUMBER {
    DWORD DeviceType;
    DWORD DeviceNumber;
    DWORD PartitionNumber;
};

struct PREVENT_MEDIA_REMOVAL {
    BOOLEAN PreventMediaRemoval;
};

// ---- Native system library ---------------------------------------------------------------
#define STATUS_SUCCESS 0
#define STATUS_INVALID_INFO_CLASS ((NTSTATUS)0xC0000003)
#define STATUS_INFO_LENGTH_MISMATCH ((NTSTATUS)0xC0000004)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008)
#define STATUS_INVALID_DEVICE_REQUEST ((NTSTATUS)0xC0000010)
enum FS_INFORMATION_CLASS { FileFsDeviceInformation = 4 };

struct IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        void *Pointer;
    };
    ULONG_PTR Information;
};

struct FILE_FS_DEVICE_INFORMATION {
    DWORD DeviceType;
    ULONG Characteristics;
};

// ---- Device installation services and configuration manager ------------------------------
#define DIGCF_PRESENT 0x2u
#define DIGCF_ALLCLASSES 0x4u
#define DIGCF_DEVICEINTERFACE 0x10u

#define SPDRP_DEVICEDESC 0x0u
#define SPDRP_HARDWAREID 0x1u
#define SPDRP_CLASS 0x7u
#define SPDRP_FRIENDLYNAME 0xCu
#define SPDRP_PHYSICAL_DEVICE_OBJECT_NAME 0xEu
#define SPDRP_REMOVAL_POLICY 0x1Fu

#define CM_REMOVAL_POLICY_EXPECT_NO_REMOVAL 1u
#define CM_REMOVAL_POLICY_EXPECT_ORDERLY_REMOVAL 2u
#define CM_REMOVAL_POLICY_EXPECT_SURPRISE_REMOVAL 3u

#define REG_SZ 1u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u
#define SPINT_ACTIVE 0x1u

#define CR_SUCCESS 0u
#define CR_INVALID_POINTER 0x3u
#define CR_INVALID_FLAG 0x4u
#define CR_INVALID_DEVNODE 0x5u
#define CR_NO_SUCH_DEVNODE 0xDu
#define CR_BUFFER_SMALL 0x1Au

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};
typedef SP_DEVICE_INTERFACE_DATA *PSP_DEVICE_INTERFACE_DATA;

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
typedef SP_DEVINFO_DATA *PSP_DEVINFO_DATA;

#pragma pack(push, 8)
struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    CHAR DevicePath[1];
};
#pragma pack(pop)
typedef SP_DEVICE_INTERFACE_DETAIL_DATA_A *PSP_DEVICE_INTERFACE_DETAIL_DATA_A;

extern const GUID GUID_DEVINTERFACE_DISK;
extern const GUID GUID_DEVINTERFACE_CDROM;
extern const GUID GUID_DEVINTERFACE_FLOPPY;

HDEVINFO SetupDiGetClassDevsA(const GUID *classGuid, LPCSTR enumerator, HWND parent, DWORD flags);
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device, const GUID *classGuid,
                                 DWORD index, PSP_DEVICE_INTERFACE_DATA data);
BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                      LPDWORD requiredSize, PSP_DEVINFO_DATA device);
BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO set, PSP_DEVINFO_DATA device, LPSTR id, DWORD size,
                                 LPDWORD requiredSize);
BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property,
                                       LPDWORD dataType, BYTE *buffer, DWORD size,
                                       LPDWORD requiredSize);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);
CONFIGRET CM_Get_Parent(PDEVINST parent, DEVINST device, ULONG flags);
CONFIGRET CM_Get_Device_IDA(DEVINST device, LPSTR buffer, ULONG size, ULONG flags);

// ---- C runtime: files, wildcard listing, heap ---------------------------------------------
// The product code's calls are routed here by common/win32.h, so that simwin can place them
// in the machine folder, count what is held and fail any call on purpose.
#define _A_ARCH 0x20u
#define _A_SUBDIR 0x10u
typedef uint32_t _fsize_t; // 32-bit, as on Windows
struct _finddata_t {
    unsigned attrib;
    time_t time_create;
    time_t time_access;
    time_t time_write;
    _fsize_t size;
    char name[260];
};
intptr_t _findfirst(const char *pattern, _finddata_t *entry);
int _findnext(intptr_t search, _finddata_t *entry);
int _findclose(intptr_t search);

FILE *SimFopen(const char *path, const char *mode);
// _fsopen: as fopen, and an open that denies writers fails while the file is open for writing.
#define _SH_DENYRW 0x10
#define _SH_DENYWR 0x20
#define _SH_DENYNO 0x40
FILE *SimFsopen(const char *path, const char *mode, int shareFlag);
size_t SimFread(void *buffer, size_t size, size_t count, FILE *file);
size_t SimFwrite(const void *buffer, size_t size, size_t count, FILE *file);
int SimFflush(FILE *file);
int SimFclose(FILE *file);
int _fileno(FILE *file);
int _commit(int descriptor); // flushes a file's data to the disk
void *SimMalloc(size_t bytes);
void *SimCalloc(size_t count, size_t bytes);
void *SimRealloc(void *block, size_t bytes);
void SimFree(void *block);

// Receives each formatted diagnostic line; kept in trace.log when machine.ini says trace = on.
void SimDebugTraceSink(const char *text);

// ---- COM and the portable-device value types ----------------------------------------------
#include "simwin/simwin_com.h"

// ---- Processes ---------------------------------------------------------------------------
// The printer starts the program beside it. simwin runs the host build of the named program
// (the name without ".exe") as a real process on the same machine folder, its standard output
// and error in the file handles that the start-up record names.
#define FILE_SHARE_DELETE 0x4u
#define CREATE_NO_WINDOW 0x08000000u
#define STARTF_USESTDHANDLES 0x100u
#define STILL_ACTIVE 259u
#define INFINITE 0xFFFFFFFFu
struct STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    BYTE *lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
typedef STARTUPINFOA *LPSTARTUPINFOA;
struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
typedef PROCESS_INFORMATION *LPPROCESS_INFORMATION;
BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                    LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                    BOOL inheritHandles, DWORD creationFlags, LPVOID environment,
                    LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                    LPPROCESS_INFORMATION processInformation);
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
// The host path of the running executable (simwin's machine has no folder for programs).
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);

// ---- Device arrivals ----------------------------------------------------------------------
// Device arrival notifications of the configuration manager (Windows 8 and later): a callback
// for each device interface of a registered class that arrives or goes. simwin sends one when a
// [drive X] (a volume) or [media NAME] (a portable device) section is added to machine.ini while
// a registration is live, from a thread of its own as Windows does from its thread pool.
typedef void *HCMNOTIFICATION;
typedef HCMNOTIFICATION *PHCMNOTIFICATION;
typedef void *PVOID;
#define CALLBACK
#define MAX_DEVICE_ID_LEN 200
#define CR_FAILURE 0x13u
#define CM_NOTIFY_FILTER_FLAG_ALL_INTERFACE_CLASSES 0x1u
enum CM_NOTIFY_FILTER_TYPE {
    CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE = 0,
    CM_NOTIFY_FILTER_TYPE_DEVICEHANDLE,
    CM_NOTIFY_FILTER_TYPE_DEVICEINSTANCE,
};
struct CM_NOTIFY_FILTER {
    DWORD cbSize;
    DWORD Flags;
    CM_NOTIFY_FILTER_TYPE FilterType;
    DWORD Reserved;
    union {
        struct {
            GUID ClassGuid;
        } DeviceInterface;
        struct {
            HANDLE hTarget;
        } DeviceHandle;
        struct {
            WCHAR InstanceId[MAX_DEVICE_ID_LEN];
        } DeviceInstance;
    } u;
};
typedef CM_NOTIFY_FILTER *PCM_NOTIFY_FILTER;
enum CM_NOTIFY_ACTION {
    CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL = 0,
    CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL,
};
struct CM_NOTIFY_EVENT_DATA {
    CM_NOTIFY_FILTER_TYPE FilterType;
    DWORD Reserved;
    union {
        struct {
            GUID ClassGuid;
            WCHAR SymbolicLink[1];
        } DeviceInterface;
    } u;
};
typedef CM_NOTIFY_EVENT_DATA *PCM_NOTIFY_EVENT_DATA;
typedef DWORD(CALLBACK *PCM_NOTIFY_CALLBACK)(HCMNOTIFICATION notify, PVOID context,
                                             CM_NOTIFY_ACTION action,
                                             PCM_NOTIFY_EVENT_DATA eventData, DWORD eventDataSize);
// Windows' cfgmgr32 exports these; Wine 8's does not: the product looks them up by name.
// [machine] cm_notification = missing makes the lookup fail here too.
CONFIGRET CM_Register_Notification(PCM_NOTIFY_FILTER filter, PVOID context,
                                   PCM_NOTIFY_CALLBACK callback, PHCMNOTIFICATION notify);
CONFIGRET CM_Unregister_Notification(HCMNOTIFICATION notify);
extern const GUID GUID_DEVINTERFACE_VOLUME;

// The loaded drives' letters and those of the [drive X] sections machine.ini has now, as bits
// (A is bit 0): a drive added to the machine appears here at once.
DWORD GetLogicalDrives();
// The modules simwin knows (ntdll, kernel32, cfgmgr32), as GetModuleHandleA gives them.
HMODULE LoadLibraryA(LPCSTR moduleName);

// Windows and their messages, as much as a hidden top-level window needs to hear of volume
// arrivals: WM_DEVICECHANGE is broadcast to every top-level window (message-only windows get no
// broadcasts) and, being sent rather than posted, is handled inside GetMessageA, which returns
// only posted messages. A window belongs to the thread that made it.
typedef intptr_t LRESULT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef void *HINSTANCE;
typedef void *HICON;
typedef void *HCURSOR;
typedef void *HBRUSH;
typedef void *HMENU;
typedef WORD ATOM;
typedef LRESULT(CALLBACK *WNDPROC)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
};
struct POINT {
    LONG x;
    LONG y;
};
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
typedef MSG *LPMSG;
#define WS_OVERLAPPED 0x0u
#define WM_DESTROY 0x0002u
#define WM_CLOSE 0x0010u
#define WM_QUIT 0x0012u
#define WM_DEVICECHANGE 0x0219u
#define DBT_DEVICEARRIVAL 0x8000u
#define DBT_DEVTYP_VOLUME 0x2u
struct DEV_BROADCAST_HDR {
    DWORD dbch_size;
    DWORD dbch_devicetype;
    DWORD dbch_reserved;
};
typedef DEV_BROADCAST_HDR *PDEV_BROADCAST_HDR;
struct DEV_BROADCAST_VOLUME {
    DWORD dbcv_size;
    DWORD dbcv_devicetype;
    DWORD dbcv_reserved;
    DWORD dbcv_unitmask;
    WORD dbcv_flags;
};
typedef DEV_BROADCAST_VOLUME *PDEV_BROADCAST_VOLUME;
ATOM RegisterClassA(const WNDCLASSA *windowClass);
BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID parameter);
BOOL DestroyWindow(HWND window);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL GetMessageA(LPMSG message, HWND window, UINT first, UINT last);
LRESULT DispatchMessageA(const MSG *message);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
