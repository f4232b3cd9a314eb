// The printer's watch for an e-reader plugged in: notifications, a hidden window, a slow check.
#include "common/win32.h"

#include "printer/arrival_watch.h"

#include <atomic>

#include "printer/spool.h"

namespace {

const char kWindowClass[] = "VellumTransitArrivalWatch";

// The watch whose window is open: a window procedure has no context of its own here, and the
// printer watches once at a time.
std::atomic<ArrivalWatch *> gWindowWatch(nullptr);

// Tells the watch's owner that something may have arrived.
void Notice(ArrivalWatch *watch) {
    if (watch && watch->onArrival)
        watch->onArrival(watch->context);
}

// The configuration manager's callback, on a thread of the system's pool: only a note.
DWORD CALLBACK NotificationArrived(HCMNOTIFICATION notify, PVOID context, CM_NOTIFY_ACTION action,
                                   PCM_NOTIFY_EVENT_DATA eventData, DWORD eventDataSize) {
    (void)notify, (void)eventData, (void)eventDataSize;
    if (action == CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL)
        Notice(static_cast<ArrivalWatch *>(context));
    return ERROR_SUCCESS;
}

// Registers for arrivals of the volume and portable-device interface classes; false, with
// nothing registered, when the calls are missing or refused.
bool RegisterNotifications(ArrivalWatch *watch) {
    std::lock_guard<std::mutex> guard(PlatformLock());
    // Kept loaded for the process: a registration's callback lives in it.
    HMODULE module = GetModuleHandleA("cfgmgr32.dll");
    if (!module)
        module = LoadLibraryA("cfgmgr32.dll");
    if (!module)
        return false;
    auto registerProc = reinterpret_cast<CM_Register_NotificationProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "CM_Register_Notification")));
    auto unregisterProc = reinterpret_cast<CM_Unregister_NotificationProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "CM_Unregister_Notification")));
    if (!registerProc || !unregisterProc)
        return false;
    const GUID *classes[2] = {&GUID_DEVINTERFACE_VOLUME, &GUID_DEVINTERFACE_WPD};
    for (int i = 0; i < 2; ++i) {
        CM_NOTIFY_FILTER filter;
        memset(&filter, 0, sizeof filter);
        filter.cbSize = sizeof filter;
        filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
        filter.u.DeviceInterface.ClassGuid = *classes[i];
        if (registerProc(&filter, watch, NotificationArrived, &watch->registrations[i]) !=
            CR_SUCCESS) {
            // Half a watch would miss one kind of e-reader: the window and the check cover both
            // the same way.
            for (int made = 0; made < i; ++made)
                unregisterProc(watch->registrations[made]);
            watch->registrations[0] = watch->registrations[1] = nullptr;
            return false;
        }
    }
    watch->unregister = unregisterProc;
    return true;
}

// The hidden window's procedure: a volume's arrival is noted; a close ends the window and its
// thread's loop.
LRESULT CALLBACK ArrivalWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE) {
        const DEV_BROADCAST_HDR *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(lParam);
        if (wParam == DBT_DEVICEARRIVAL && header && header->dbch_devicetype == DBT_DEVTYP_VOLUME)
            Notice(gWindowWatch.load());
        return TRUE;
    }
    if (message == WM_CLOSE) {
        // Posted, so dispatched by the loop below, which holds no lock.
        std::lock_guard<std::mutex> guard(PlatformLock());
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The window's thread: makes the window, says whether it could, and pumps its messages until it
// is closed. The broadcasts are sent to it, so they are handled inside GetMessageA.
void RunArrivalWindow(ArrivalWatch *watch) {
    HWND window = nullptr;
    HINSTANCE instance = nullptr;
    {
        std::lock_guard<std::mutex> guard(PlatformLock());
        instance = GetModuleHandleA(nullptr);
        WNDCLASSA windowClass;
        memset(&windowClass, 0, sizeof windowClass);
        windowClass.lpfnWndProc = ArrivalWindowProcedure;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kWindowClass;
        if (RegisterClassA(&windowClass)) {
            // Top-level (no parent, not a message-only window) and never shown.
            window = CreateWindowExA(0, kWindowClass, kWindowClass, WS_OVERLAPPED, 0, 0, 0, 0,
                                     nullptr, nullptr, instance, nullptr);
            if (!window)
                UnregisterClassA(kWindowClass, instance);
        }
    }
    {
        std::lock_guard<std::mutex> guard(watch->lock);
        watch->window = window;
        watch->windowDone = true;
    }
    watch->windowChanged.notify_all();
    if (!window)
        return;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    std::lock_guard<std::mutex> guard(PlatformLock());
    UnregisterClassA(kWindowClass, instance);
}

// Starts the window's thread and waits until it has its window; false when it has none.
bool OpenArrivalWindow(ArrivalWatch *watch) {
    {
        std::lock_guard<std::mutex> guard(watch->lock);
        watch->window = nullptr;
        watch->windowDone = false;
    }
    gWindowWatch.store(watch);
    watch->windowThread = std::thread(RunArrivalWindow, watch);
    std::unique_lock<std::mutex> guard(watch->lock);
    watch->windowChanged.wait(guard, [watch] { return watch->windowDone; });
    if (watch->window)
        return true;
    guard.unlock();
    watch->windowThread.join();
    gWindowWatch.store(nullptr);
    return false;
}

// The portable devices' count, after the manager has looked again; false when it cannot be had
// (no WPD, as under Wine).
bool CountPortableDevices(DWORD *count) {
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IPortableDeviceManager *manager = nullptr;
    bool counted = SUCCEEDED(CoCreateInstance(CLSID_PortableDeviceManager, nullptr,
                                              CLSCTX_INPROC_SERVER, IID_IPortableDeviceManager,
                                              reinterpret_cast<void **>(&manager))) &&
                   SUCCEEDED(manager->RefreshDeviceList()) &&
                   SUCCEEDED(manager->GetDevices(nullptr, count));
    if (manager)
        manager->Release();
    if (SUCCEEDED(com))
        CoUninitialize();
    return counted;
}

// One check: the drive letters and the portable devices' count now, compared with the last
// good check. Returns true when something new is there, or when this is the first good check
// after the one at the start failed (what came meanwhile cannot be told from what was there:
// one run too many rather than an e-reader missed).
bool CheckOnce(ArrivalWatch *watch, bool start) {
    std::lock_guard<std::mutex> guard(PlatformLock());
    DWORD drives = GetLogicalDrives();
    DWORD devices = 0;
    bool devicesKnown = CountPortableDevices(&devices);
    if (drives == 0) // every machine has a drive: the call failed
        return false;
    bool arrived = !watch->checked
                       ? !start
                       : (drives & ~watch->drives) != 0 ||
                             (devicesKnown && watch->devicesKnown && devices > watch->devices);
    watch->drives = drives;
    if (devicesKnown || !watch->devicesKnown) {
        watch->devices = devices;
        watch->devicesKnown = devicesKnown;
    }
    watch->checked = true;
    return arrived;
}

} // namespace

ArrivalWay StartArrivalWatch(ArrivalWatch *watch) {
    if (watch->way != ARRIVAL_OFF)
        return watch->way;
    watch->way = RegisterNotifications(watch) ? ARRIVAL_NOTIFICATIONS
                 : OpenArrivalWindow(watch)   ? ARRIVAL_WINDOW
                                              : ARRIVAL_CHECK;
    // What is there now is present, not arriving.
    watch->checked = false;
    watch->devicesKnown = false;
    CheckOnce(watch, true);
    watch->nextCheck = std::chrono::steady_clock::now() + watch->checkInterval;
    return watch->way;
}

void StopArrivalWatch(ArrivalWatch *watch) {
    if (watch->way == ARRIVAL_NOTIFICATIONS) {
        std::lock_guard<std::mutex> guard(PlatformLock());
        for (HCMNOTIFICATION &registration : watch->registrations) {
            watch->unregister(registration);
            registration = nullptr;
        }
    } else if (watch->way == ARRIVAL_WINDOW) {
        {
            std::lock_guard<std::mutex> guard(PlatformLock());
            PostMessageA(watch->window, WM_CLOSE, 0, 0);
        }
        watch->windowThread.join();
        gWindowWatch.store(nullptr);
        watch->window = nullptr;
    }
    watch->way = ARRIVAL_OFF;
}

std::chrono::steady_clock::time_point CheckForArrival(ArrivalWatch *watch) {
    auto now = std::chrono::steady_clock::now();
    if (watch->way == ARRIVAL_OFF || now < watch->nextCheck)
        return watch->nextCheck;
    watch->nextCheck = now + watch->checkInterval;
    if (CheckOnce(watch, false))
        Notice(watch);
    return watch->nextCheck;
}

const char *ArrivalWayName(ArrivalWay way) {
    switch (way) {
    case ARRIVAL_NOTIFICATIONS:
        return "device notifications";
    case ARRIVAL_WINDOW:
        return "a hidden window's device broadcasts";
    case ARRIVAL_CHECK:
        return "a check every 30 seconds";
    default:
        return "nothing";
    }
}
