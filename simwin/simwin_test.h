// The in-process side of simwin, for tests and tools: load a machine, read back what happened
// (events, trace, calls made) and count what the program still holds.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace simwin {

// Loads the machine kept in folder (machine.ini there is optional). Returns true, or false with
// the reason (naming the line of machine.ini) in *error. Any earlier machine is forgotten.
bool LoadMachine(const std::string &folder, std::string *error);

// Forgets the machine; the next platform call loads one from the environment again.
void UnloadMachine();

// The events recorded since the machine was loaded, one line each, as events.log gets them.
std::vector<std::string> Events();

// The diagnostic lines received since the machine was loaded (whatever trace says).
std::string TraceText();

// How many calls of each operation were made since the machine was loaded, by name.
std::map<std::string, int> CallCounts();

// Fails the nth call (counted from 1) of operation from now on, as a [faults] line would;
// mode is "" for the operation's ordinary failure, "short" for a half-done read or write, a
// Win32 error code in decimal, or "crash" ("crash_half": half the bytes written first) to end
// the process there as a kill would ("power_loss": and forget first what was not flushed, as
// simwin.h says by FlushFileBuffers).
void SetFault(const std::string &operation, int nth, const std::string &mode);

// What the program still holds.
struct Held {
    int heapBlocks = 0;     // malloc/calloc/realloc and LocalAlloc blocks
    int files = 0;          // open FILE streams
    int findHandles = 0;    // _findfirst searches
    int volumeHandles = 0;  // CreateFileA handles on volumes
    int deviceHandles = 0;  // CreateFileA handles on device interfaces
    int deviceInfoSets = 0; // SetupDiGetClassDevsA sets
    int volumeSearches = 0; // FindFirstVolumeA searches
    int fileHandles = 0;    // CreateFileA handles on ordinary files
    int mutexHandles = 0;   // CreateMutexExA handles
    int processHandles = 0; // CreateProcessA process and thread handles

    // COM, for the portable devices.
    int comReferences = 0;      // interface references not released
    int taskMemory = 0;         // CoTaskMem blocks (texts, PROPVARIANTs) not freed or cleared
    int comInitialisations = 0; // CoInitializeEx successes not undone by CoUninitialize

    // Device arrivals.
    int notifications = 0; // CM_Register_Notification registrations not unregistered
    int windows = 0;       // windows not destroyed

    int Total() const {
        return heapBlocks + files + findHandles + volumeHandles + deviceHandles + deviceInfoSets +
               volumeSearches + fileHandles + mutexHandles + processHandles + comReferences +
               taskMemory + comInitialisations + notifications + windows;
    }
};
Held HeldNow();

// Where a Windows path of the loaded machine lies in its folder ("" for no such drive).
std::string HostPath(const std::string &windowsPath);

// The arrivals simwin has sent since the program began, one line each, in order: what arrived
// and through which call ("drive E: CM_Register_Notification volume", "drive E: WM_DEVICECHANGE",
// "media kindle: CM_Register_Notification portable device").
std::vector<std::string> Arrivals();

// The virtual clock: milliseconds that Sleep has advanced it since the machine was loaded.
unsigned long long ClockMilliseconds();

} // namespace simwin
