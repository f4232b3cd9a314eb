// simwin's device arrivals: the configuration manager's notification registrations, windows and
// their messages, the logical drive mask, and the watch over machine.ini that turns a [drive X]
// or [media NAME] section added while the program runs into the notifications Windows would
// send for a device plugged in. While anyone listens (a registration or a window), a thread of
// simwin's reads machine.ini every 50 ms; the sections there when the first listener came are
// the devices already present.
//
// The watch thread and the window threads never touch the loaded machine (the product calls
// simwin from one thread at a time, under its own lock, and these threads run beside it): they
// share only this file's state, under its own mutex.
#include "simwin/simwin_internal.h"
#include "simwin/simwin_test.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <thread>
#include <unistd.h>

const GUID GUID_DEVINTERFACE_VOLUME = {
    0x53f5630d, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

using simwin::Current;
using simwin::Enter;
using simwin::FaultError;

namespace {

// The portable devices' interface class, {6AC27878-A6FA-4155-BA85-F98F491D4F33}.
const GUID kPortableDeviceClass = {
    0x6ac27878, 0xa6fa, 0x4155, {0xba, 0x85, 0xf9, 0x8f, 0x49, 0x1d, 0x4f, 0x33}};
const auto kWatchInterval = std::chrono::milliseconds(50);

struct Registration {
    GUID klass;
    PVOID context;
    PCM_NOTIFY_CALLBACK callback;
};

struct Window {
    WNDPROC procedure;
    std::thread::id thread;
};

// A broadcast that a window's thread handles inside its next GetMessageA.
struct Broadcast {
    HWND window;
    DEV_BROADCAST_VOLUME volume;
};

struct ArrivalState {
    std::mutex lock;
    std::condition_variable changed;
    std::map<HCMNOTIFICATION, Registration> registrations;
    std::map<std::string, WNDPROC> classes; // by name in lower case
    std::map<HWND, Window> windows;
    std::map<std::thread::id, std::deque<MSG>> posted;
    std::map<std::thread::id, std::deque<Broadcast>> sent;
    std::vector<std::string> log;
    int delivering = 0; // callbacks being called now
    std::thread watch;
    bool watching = false, stopping = false;
    std::string folder;
    uintptr_t next = 0x7E0000;
};

// Never destroyed: a watch thread may still run while the process exits.
ArrivalState &State() {
    static ArrivalState *state = new ArrivalState();
    return *state;
}

// text without the blanks around it.
std::string Trimmed(const std::string &text) {
    size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return "";
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

// The device sections of folder's machine.ini now: "drive E", "media NAME".
std::set<std::string> DeviceSections(const std::string &folder) {
    std::set<std::string> sections;
    std::ifstream in(folder + "/machine.ini");
    std::string line;
    while (std::getline(in, line)) {
        line = Trimmed(line);
        if (line.size() < 2 || line.front() != '[' || line.back() != ']')
            continue;
        std::string header = Trimmed(line.substr(1, line.size() - 2));
        if (header.compare(0, 6, "drive ") == 0 && Trimmed(header.substr(6)).size() == 1)
            sections.insert("drive " + std::string(1, (char)toupper((unsigned char)Trimmed(
                                                          header.substr(6))[0])));
        else if (header.compare(0, 6, "media ") == 0)
            sections.insert("media " + Trimmed(header.substr(6)));
    }
    return sections;
}

// Notes an arrival sent, in the list and in events.log (one write, so that lines of other
// processes and threads never cut into it).
void NoteArrival(ArrivalState &state, const std::string &line) {
    state.log.push_back(line);
    std::string text = "arrival " + line + "\n";
    int file = open((state.folder + "/events.log").c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (file >= 0) {
        ssize_t written = write(file, text.data(), text.size());
        (void)written;
        close(file);
    }
}

// Sends one device's arrival: its interface to each registration of its class, and a volume's
// to every window as WM_DEVICECHANGE. Called on the watch thread with the lock held, which the
// callbacks run without.
void SendArrival(ArrivalState &state, std::unique_lock<std::mutex> &guard,
                 const std::string &section) {
    bool volume = section.compare(0, 6, "drive ") == 0;
    std::string name = section.substr(6);
    std::string link =
        volume ? "\\\\?\\STORAGE#Volume#" + name + "#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}"
               : "\\\\?\\usb#vid_1949#" + name + "#{6ac27878-a6fa-4155-ba85-f98f491d4f33}";
    std::vector<unsigned char> data(offsetof(CM_NOTIFY_EVENT_DATA, u.DeviceInterface.SymbolicLink) +
                                    (link.size() + 1) * sizeof(WCHAR));
    CM_NOTIFY_EVENT_DATA *event = reinterpret_cast<CM_NOTIFY_EVENT_DATA *>(data.data());
    event->FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
    event->u.DeviceInterface.ClassGuid = volume ? GUID_DEVINTERFACE_VOLUME : kPortableDeviceClass;
    for (size_t i = 0; i <= link.size(); ++i)
        event->u.DeviceInterface.SymbolicLink[i] = i < link.size() ? (WCHAR)link[i] : 0;
    std::vector<std::pair<HCMNOTIFICATION, Registration>> targets;
    for (const auto &entry : state.registrations)
        if (entry.second.klass == event->u.DeviceInterface.ClassGuid)
            targets.push_back(entry);
    for (const auto &target : targets) {
        NoteArrival(state, section.substr(0, 5) + " " + name + ": CM_Register_Notification " +
                               (volume ? "volume" : "portable device"));
        ++state.delivering;
        guard.unlock();
        target.second.callback(target.first, target.second.context,
                               CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL, event, (DWORD)data.size());
        guard.lock();
        --state.delivering;
        state.changed.notify_all();
    }
    if (!volume)
        return;
    for (const auto &entry : state.windows) {
        Broadcast broadcast = {entry.first, {}};
        broadcast.volume.dbcv_size = sizeof broadcast.volume;
        broadcast.volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
        broadcast.volume.dbcv_unitmask = 1u << (toupper((unsigned char)name[0]) - 'A');
        state.sent[entry.second.thread].push_back(broadcast);
        NoteArrival(state, "drive " + name + ": WM_DEVICECHANGE");
    }
    state.changed.notify_all();
}

// The watch thread: every section that machine.ini gains is one device arriving.
void Watch(ArrivalState *state, std::set<std::string> seen) {
    std::unique_lock<std::mutex> guard(state->lock);
    while (!state->stopping) {
        state->changed.wait_for(guard, kWatchInterval);
        if (state->stopping)
            break;
        std::string folder = state->folder;
        guard.unlock();
        std::set<std::string> now = DeviceSections(folder);
        guard.lock();
        for (const std::string &section : now)
            if (seen.insert(section).second && !state->stopping)
                SendArrival(*state, guard, section);
    }
}

// Starts the watch when the first listener comes. Call with the lock held.
void StartWatch(ArrivalState &state) {
    if (state.watching)
        return;
    state.folder = Current().folder;
    state.stopping = false;
    state.watching = true;
    // The devices there now are present, not arriving.
    state.watch = std::thread(Watch, &state, DeviceSections(state.folder));
}

// Ends the watch once no one listens, unless called on the watch thread itself (a callback).
void StopWatchIfUnheard(ArrivalState &state, std::unique_lock<std::mutex> &guard) {
    if (!state.watching || !state.registrations.empty() || !state.windows.empty() ||
        std::this_thread::get_id() == state.watch.get_id())
        return;
    state.stopping = true;
    state.changed.notify_all();
    std::thread watch = std::move(state.watch);
    state.watching = false;
    guard.unlock();
    watch.join();
    guard.lock();
}

// A window class name as compared: without regard to case.
std::string Lower(const char *text) {
    std::string lower = text ? text : "";
    for (char &c : lower)
        c = (char)tolower((unsigned char)c);
    return lower;
}

// "{xxxxxxxx-...}" of a GUID, for events.
std::string GuidText(const GUID &guid) {
    char text[40];
    snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
             (unsigned)guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
             guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
             guid.Data4[7]);
    return text;
}

} // namespace

namespace simwin {

DWORD DriveSectionsNow(const std::string &folder) {
    DWORD mask = 0;
    for (const std::string &section : DeviceSections(folder))
        if (section.compare(0, 6, "drive ") == 0)
            mask |= 1u << (section[6] - 'A');
    return mask;
}

void CountArrivalHeld(Held *held) {
    ArrivalState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    held->notifications += (int)state.registrations.size();
    held->windows += (int)state.windows.size();
}

std::vector<std::string> Arrivals() {
    ArrivalState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.log;
}

} // namespace simwin

CONFIGRET CM_Register_Notification(PCM_NOTIFY_FILTER filter, PVOID context,
                                   PCM_NOTIFY_CALLBACK callback, PHCMNOTIFICATION notify) {
    std::string mode;
    if (Enter("CM_Register_Notification", &mode)) {
        simwin::Event("CM_Register_Notification refused");
        return FaultError(mode, CR_FAILURE);
    }
    if (!filter || !callback || !notify)
        return CR_INVALID_POINTER;
    if (filter->cbSize != sizeof *filter ||
        filter->FilterType != CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE || filter->Flags != 0)
        return CR_INVALID_FLAG; // only one interface class at a time is modelled
    ArrivalState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    HCMNOTIFICATION handle = reinterpret_cast<HCMNOTIFICATION>(state.next++);
    state.registrations[handle] = {filter->u.DeviceInterface.ClassGuid, context, callback};
    *notify = handle;
    simwin::Event("CM_Register_Notification " + GuidText(filter->u.DeviceInterface.ClassGuid) +
                  " ok");
    StartWatch(state);
    return CR_SUCCESS;
}

CONFIGRET CM_Unregister_Notification(HCMNOTIFICATION notify) {
    ArrivalState &state = State();
    std::unique_lock<std::mutex> guard(state.lock);
    if (!state.registrations.erase(notify))
        return CR_INVALID_POINTER;
    // As on Windows, a callback under way ends before the registration is gone.
    if (std::this_thread::get_id() != state.watch.get_id())
        state.changed.wait(guard, [&] { return state.delivering == 0; });
    StopWatchIfUnheard(state, guard);
    guard.unlock();
    simwin::Event("CM_Unregister_Notification ok");
    return CR_SUCCESS;
}

DWORD GetLogicalDrives() {
    std::string mode;
    if (Enter("GetLogicalDrives", &mode)) {
        SetLastError(FaultError(mode, ERROR_NOT_ENOUGH_MEMORY));
        return 0;
    }
    simwin::Machine &machine = Current();
    DWORD mask = simwin::DriveSectionsNow(machine.folder);
    for (const simwin::Drive &drive : machine.drives)
        mask |= 1u << (drive.letter - 'A');
    return mask;
}

ATOM RegisterClassA(const WNDCLASSA *windowClass) {
    std::string mode;
    if (Enter("RegisterClassA", &mode)) {
        SetLastError(FaultError(mode, ERROR_NOT_ENOUGH_MEMORY));
        return 0;
    }
    if (!windowClass || !windowClass->lpfnWndProc || !windowClass->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ArrivalState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.classes.emplace(Lower(windowClass->lpszClassName), windowClass->lpfnWndProc)
             .second) {
        SetLastError(1410); // ERROR_CLASS_ALREADY_EXISTS
        return 0;
    }
    return (ATOM)(0xC000 + state.classes.size());
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance) {
    (void)instance;
    ArrivalState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.classes.erase(Lower(className)) ? TRUE : FALSE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID parameter) {
    (void)exStyle, (void)windowName, (void)style, (void)x, (void)y, (void)width, (void)height;
    (void)menu, (void)instance, (void)parameter;
    std::string mode;
    if (Enter("CreateWindowExA", &mode)) {
        simwin::Event("CreateWindowExA refused");
        SetLastError(FaultError(mode, ERROR_NOT_ENOUGH_MEMORY));
        return nullptr;
    }
    ArrivalState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    auto found = state.classes.find(Lower(className));
    if (found == state.classes.end() || parent) { // only top-level windows are modelled
        SetLastError(found == state.classes.end() ? 1411 : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HWND window = reinterpret_cast<HWND>(state.next++);
    state.windows[window] = {found->second, std::this_thread::get_id()};
    simwin::Event(std::string("CreateWindowExA ") + className + " ok");
    StartWatch(state);
    return window;
}

BOOL DestroyWindow(HWND window) {
    ArrivalState &state = State();
    std::unique_lock<std::mutex> guard(state.lock);
    auto found = state.windows.find(window);
    if (found == state.windows.end() || found->second.thread != std::this_thread::get_id()) {
        SetLastError(1400); // ERROR_INVALID_WINDOW_HANDLE
        return FALSE;
    }
    WNDPROC procedure = found->second.procedure;
    state.windows.erase(found);
    StopWatchIfUnheard(state, guard);
    guard.unlock();
    procedure(window, WM_DESTROY, 0, 0);
    return TRUE;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)wParam, (void)lParam;
    if (message == WM_CLOSE)
        DestroyWindow(window);
    return 0;
}

BOOL GetMessageA(LPMSG message, HWND window, UINT first, UINT last) {
    (void)window, (void)first, (void)last;
    ArrivalState &state = State();
    std::unique_lock<std::mutex> guard(state.lock);
    std::thread::id self = std::this_thread::get_id();
    for (;;) {
        std::deque<Broadcast> &sent = state.sent[self];
        if (!sent.empty()) {
            // A sent message is handled here, not returned, as Windows does with broadcasts.
            Broadcast broadcast = sent.front();
            sent.pop_front();
            auto found = state.windows.find(broadcast.window);
            if (found == state.windows.end())
                continue;
            WNDPROC procedure = found->second.procedure;
            guard.unlock();
            procedure(broadcast.window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                      reinterpret_cast<LPARAM>(&broadcast.volume));
            guard.lock();
            continue;
        }
        std::deque<MSG> &posted = state.posted[self];
        if (!posted.empty()) {
            *message = posted.front();
            posted.pop_front();
            return message->message == WM_QUIT ? FALSE : TRUE;
        }
        state.changed.wait(guard);
    }
}

LRESULT DispatchMessageA(const MSG *message) {
    ArrivalState &state = State();
    WNDPROC procedure = nullptr;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        auto found = state.windows.find(message->hwnd);
        if (found != state.windows.end())
            procedure = found->second.procedure;
    }
    return procedure ? procedure(message->hwnd, message->message, message->wParam, message->lParam)
                     : 0;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ArrivalState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    auto found = state.windows.find(window);
    if (found == state.windows.end()) {
        SetLastError(1400);
        return FALSE;
    }
    MSG posted = {window, message, wParam, lParam, 0, {0, 0}};
    state.posted[found->second.thread].push_back(posted);
    state.changed.notify_all();
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    ArrivalState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    MSG quit = {nullptr, WM_QUIT, (WPARAM)exitCode, 0, 0, {0, 0}};
    state.posted[std::this_thread::get_id()].push_back(quit);
    state.changed.notify_all();
}
