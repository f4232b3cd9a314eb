// simwin's own state: the loaded machine, its drives and device interfaces, faults, events
// and what the program holds. Shared by simwin's sources only.
#pragma once

#include "simwin/simwin.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace simwin {

// A failing answer of a simulated device: ok, or fail with a Win32 error code.
struct Outcome {
    bool fails = false;
    DWORD error = 0;
};

// A text property of a device: absent, failing, or present with its value.
struct TextProperty {
    bool present = false;
    bool fails = false;
    std::string value;
};

// One [drive X] section.
struct Drive {
    char letter = 'C';
    UINT type = DRIVE_FIXED;
    std::string label;
    bool volumeInfoFails = false;
    std::string dosDevice;
    bool dosDeviceFails = false;
    Outcome open;
    std::string media = "ready"; // ready | not_ready | fail
    DWORD mediaError = 0;
    bool descriptorFails = false;
    int busType = 0;
    TextProperty vendor, product, revision;
    int removableMedia = 0;
    bool deviceNumberFails = false;
    DWORD deviceType = FILE_DEVICE_DISK;
    DWORD deviceNumber = 0;
    DWORD partitionNumber = 1;
    bool characteristicsFail = false;
    DWORD characteristics = 0;
    int lockRefusals = 0; // -1: always refused
    bool dismountFails = false, mediaRemovalFails = false, ejectFails = false, closeFails = false;
    unsigned long long freeBytes = 1ull << 40;
    bool ejected = false; // state of the run: the media are gone after a successful eject
    int lockRefused = 0;  // state of the run: lock attempts refused so far
};

// One [interface NAME] section: a device interface as the device installation services list it.
struct Interface {
    std::string name;
    std::string klass = "disk"; // disk | cdrom | floppy
    std::string path;
    Outcome open;
    bool deviceNumberFails = false;
    DWORD deviceType = FILE_DEVICE_DISK;
    DWORD deviceNumber = 0;
    std::string instanceId;
    bool removalPolicyFails = false;
    bool removalPolicyPresent = false;
    DWORD removalPolicy = 0;
    TextProperty setupClass, friendlyName, pdoName, description, parentId;
    TextProperty hardwareIds; // value holds the texts joined by '\0', without the closing empty
};

// An open handle from CreateFileA: a drive's volume or a device interface.
struct Handle {
    bool isVolume = true;
    char letter = 0;           // the volume's drive
    size_t interfaceIndex = 0; // the interface's index in Machine::interfaces
    DWORD access = 0;
};

// A device information set of SetupDiGetClassDevsA: the interfaces it holds, by their index
// in Machine::interfaces.
struct DeviceInfoSet {
    std::vector<size_t> interfaces;
};

// An ordinary file opened by CreateFileA.
struct FileHandle {
    int descriptor = -1;
    std::string name; // as the program named it
    bool writing = false;
    bool noted = false; // the disk cache knows that it changes
};

// A named mutex: a lock file in the machine folder that every process of the machine shares.
struct MutexHandle {
    int descriptor = -1;
    std::string name;
    DWORD access = 0; // SYNCHRONIZE to wait, MUTEX_MODIFY_STATE to release
    int owned = 0;    // how often this handle's owner has acquired it without releasing it
};

// One planned failure of an operation's nth call.
struct Fault {
    int nth = 0;
    std::string mode; // "", "short", "crash", "crash_half", "power_loss", or an error code
};

struct MediaState; // portable devices and COM: simwin/media_internal.h

struct Machine {
    std::shared_ptr<MediaState> media; // made on first use
    std::string folder;
    std::string windowsDir = "C:\\Windows";
    std::string computerName = "VELLUM-PC";
    unsigned codePage = 65001; // GetACP: [machine] code_page, UTF-8 unless it says
    bool ntdllMissing = false;
    bool cmNotificationMissing = false; // cfgmgr32 without CM_Register_Notification, as Wine 8
    bool setupapiFails = false;
    bool traceOn = false;
    std::vector<Drive> drives; // in letter order
    std::vector<Interface> interfaces;
    std::map<std::string, std::vector<Fault>> faults;
    std::map<std::string, int> calls;
    std::vector<std::string> events;
    std::string trace;
    std::string currentDirectory = "C:\\";
    unsigned long long clock = 0;
    DWORD lastError = 0;

    // What the program holds, by kind.
    std::set<void *> heapBlocks;
    std::set<FILE *> files;
    std::set<intptr_t> findHandles;
    std::set<HANDLE> volumeHandles;
    std::set<HANDLE> deviceHandles;
    std::set<HDEVINFO> deviceInfoSets;
    std::set<HANDLE> volumeSearches;
    std::map<HANDLE, Handle> handles;             // open volume and interface handles
    std::map<HDEVINFO, DeviceInfoSet> deviceSets; // what each of deviceInfoSets holds
    std::map<HANDLE, size_t> volumeSearchNext;    // each volume search's next drive index
    std::map<HANDLE, FileHandle> fileHandles;
    std::map<HANDLE, MutexHandle> mutexHandles;
    uintptr_t nextHandle = 0x100;

    // The disk cache's journal, open for appending once a note is made, and as far as this
    // process has read it: each file's state by key.
    int journal = -1;
    std::map<std::string, char> unflushed; // 'n' made and never flushed, 'o' changed since
    long long journalRead = 0;

    Machine() = default;
    Machine(const Machine &) = delete;
    Machine &operator=(const Machine &) = delete;
    ~Machine(); // simwin/disk.cpp
};

// The loaded machine; loads it from the environment on first use.
Machine &Current();

// Counts a call of operation and says whether it is to fail; *mode gets the fault's mode.
bool Enter(const char *operation, std::string *mode = nullptr);

// Ends the process at a call, as a kill would: "crash at OPERATION" in the events, then SIGKILL.
[[noreturn]] void Crash(const std::string &operation);

// Ends the process at a call as a crash does, after putting every file of the machine back to
// what was last flushed of it (simwin/disk.cpp): "power loss at OPERATION" in the events.
[[noreturn]] void PowerLoss(const std::string &operation);

// ---- The disk cache (simwin/disk.cpp): notes of what was written and not flushed ------------

// A file just made (by its open descriptor): after a power loss it is empty.
void NoteNewFile(int descriptor);

// A file about to be written, truncated or replaced in its bytes (by descriptor or host path):
// after a power loss it has the bytes it had when last flushed.
void NoteChange(int descriptor);
void NoteChange(const std::string &host);

// A file flushed to its disk, or a device object committed: it survives a power loss as it is.
void NoteFlushed(int descriptor);
void NoteFlushed(const std::string &host);

// A file about to be deleted or replaced by a rename: its note goes with it. machine is given
// for the calls made while it loads.
void NoteGone(const std::string &host);
void NoteGone(Machine &machine, const std::string &host);

// The Win32 error code of an injected fault: the mode's number, or fallback.
DWORD FaultError(const std::string &mode, DWORD fallback);

// Records one event line (and appends it to events.log).
void Event(const std::string &line);

// The drive of a letter (any case), or null.
Drive *FindDrive(char letter);

// Makes a Windows path absolute and tidy ("C:\a\b"): relative names resolve in the current
// directory. False for names that are no file path (devices, unknown forms).
bool AbsolutePath(const std::string &windowsPath, std::string *absolute);

// Where an absolute Windows path lies in the machine folder, matching existing names without
// regard to case as NTFS does. False when its drive is not in the machine or its media are gone.
bool HostPathOf(const std::string &absolute, std::string *hostPath);

// The open volume or interface handle, or null.
Handle *FindHandle(HANDLE handle);

// CreateFileA on an ordinary file (neither a volume nor a device interface). injected and mode
// are the planned fault that CreateFileA already counted.
HANDLE OpenFileHandle(const char *name, DWORD access, DWORD creation, bool injected,
                      const std::string &mode);

// CloseHandle on a file or mutex handle: true when handle is one (*ok then holds the result).
bool CloseFileOrMutex(HANDLE handle, bool injected, const std::string &mode, BOOL *ok);

// A new handle value, distinct from every other kind's.
HANDLE NewHandleValue();

// The last path component of a Windows path.
std::string BaseName(const std::string &windowsPath);

// ---- Processes (simwin/process.cpp) ---------------------------------------------------------

// WaitForSingleObject on a process or thread handle: true when handle is one (*result then
// holds the wait's result). injected and mode are the planned fault already counted.
bool WaitProcess(HANDLE handle, DWORD milliseconds, bool injected, const std::string &mode,
                 DWORD *result);

// CloseHandle on a process or thread handle: true when handle is one (*ok then holds the result).
bool CloseProcessHandle(HANDLE handle, bool injected, const std::string &mode, BOOL *ok);

// The process and thread handles not yet closed.
int ProcessHandlesHeld();

// Kills the processes that CreateProcessA started and that still run, and waits for their end.
void KillStartedProcesses();

// ---- Portable devices and COM (simwin/media.cpp, simwin/com.cpp) ----------------------------
struct Held;

// The [machine] key wpd = ok | missing.
bool SetWpdKey(Machine *machine, const std::string &value);

// Opens a [media NAME] section (at line): a portable device, in the manager's order.
bool AddMediaDevice(Machine *machine, const std::string &name, int line, std::string *error);

// One key of the last [media NAME] section, at line.
bool SetMediaKey(Machine *machine, const std::string &key, const std::string &value, int line);

// The mistakes that only the whole file shows: a device without storages, two devices with one
// pnp_id, a path that names nothing. False with the line and the reason.
bool CheckMediaDevices(const Machine &machine, int *line, std::string *error);

// Whether name is a COM or WPD operation that [faults] can fail.
bool IsMediaOperation(const std::string &name);

// Drops the hidden files of objects that a killed run never committed.
void ForgetUncommittedObjects(Machine &machine);

// Adds what the program holds of COM to held.
void CountMediaHeld(const Machine &machine, Held *held);

// ---- Device arrivals (simwin/arrival.cpp) ----------------------------------------------------

// The letters of the [drive X] sections that machine.ini of folder has now, as bits (A is bit 0).
DWORD DriveSectionsNow(const std::string &folder);

// The [media NAME] sections that machine.ini has gained since it was loaded join the portable
// devices, after those listed (whose objects may be open), as Windows' manager finds a device
// plugged in when it looks again (simwin/machine.cpp).
void AddArrivedMediaDevices(Machine &machine);

// Adds the live notification registrations and windows to held.
void CountArrivalHeld(Held *held);

} // namespace simwin
