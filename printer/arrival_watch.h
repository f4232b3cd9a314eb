// The printer's watch for an e-reader plugged in, kept only while something waits in the spool.
// Three ways to notice, as a user process without a window of its own: the configuration
// manager's notifications for volumes and portable devices (cfgmgr32's CM_Register_Notification,
// looked up at run time: Windows 8 and later have it, Wine 8 does not); where they cannot be
// had, a hidden top-level window's WM_DEVICECHANGE broadcasts on a thread of its own (volumes
// only: Windows broadcasts those to top-level windows); and under either a slow check, every
// checkInterval, of the logical drives and of the portable devices' count, so that a missed
// notification costs half a minute. Each way only says that something may have arrived, through
// onArrival; whoever owns the watch decides whether a run starts.
#pragma once

#include "common/win32.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// How the watch hears of arrivals once started.
enum ArrivalWay {
    ARRIVAL_OFF = 0,       // not watching
    ARRIVAL_NOTIFICATIONS, // CM_Register_Notification, with the check under it
    ARRIVAL_WINDOW,        // a hidden window's WM_DEVICECHANGE, with the check under it
    ARRIVAL_CHECK,         // the slow check alone
};

const std::chrono::seconds kArrivalCheckInterval(30);

struct ArrivalWatch {
    // Called, from whichever thread noticed it, for each notification or check that found a new
    // device; may be called several times for one device (it arrives as several interfaces).
    void (*onArrival)(void *context) = nullptr;
    void *context = nullptr;
    std::chrono::steady_clock::duration checkInterval = kArrivalCheckInterval;

    ArrivalWay way = ARRIVAL_OFF;
    HCMNOTIFICATION registrations[2] = {nullptr, nullptr};
    CM_Unregister_NotificationProc unregister = nullptr;
    std::thread windowThread;
    std::mutex lock; // guards window and windowDone, which the window's thread sets
    std::condition_variable windowChanged;
    HWND window = nullptr;
    bool windowDone = false; // the window's thread has made its window, or failed to
    std::chrono::steady_clock::time_point nextCheck;
    bool checked = false; // drives and devices below hold the last good check
    DWORD drives = 0;     // GetLogicalDrives
    DWORD devices = 0;    // the portable devices' count
    bool devicesKnown = false;
};

// Starts watching in the first way that can be had (nothing when already watching); returns
// the way. Call from one thread at a time, without the platform lock.
ArrivalWay StartArrivalWatch(ArrivalWatch *watch);

// Ends the watch: the registrations go, the window is closed and its thread ended.
void StopArrivalWatch(ArrivalWatch *watch);

// The slow check, when its time has come: a drive letter that was not there, or more portable
// devices than before, is an arrival. A check that fails teaches nothing and is tried again at
// the next interval. Returns when the next check is due.
std::chrono::steady_clock::time_point CheckForArrival(ArrivalWatch *watch);

// A name for each way, for the printer's diagnostics.
const char *ArrivalWayName(ArrivalWay way);
