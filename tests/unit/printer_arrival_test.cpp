// The printer's arrival watch on simulated machines: each way to notice an e-reader plugged in,
// the fallback from each way that cannot be had to the next, the slow check that a failing call
// does not fool, and the declarations that MinGW-w64 lacks against their published definitions.
#include "tests/support/machine.h"

#include "printer/arrival_watch.h"

#include <atomic>
#include <fstream>
#include <thread>
#include <type_traits>

namespace {

// The published prototypes (cfgmgr32.h of the Windows SDK) are what simwin declares; the types
// the printer looks the calls up by must be the same.
static_assert(
    std::is_same<decltype(&CM_Register_Notification), CM_Register_NotificationProc>::value,
    "CM_Register_Notification as published");
static_assert(
    std::is_same<decltype(&CM_Unregister_Notification), CM_Unregister_NotificationProc>::value,
    "CM_Unregister_Notification as published");

// A GUID as the registry and the documentation write it.
std::string GuidText(const GUID &guid) {
    char text[40];
    snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
             (unsigned)guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
             guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
             guid.Data4[7]);
    return text;
}

TEST(ArrivalDeclarations, TheInterfaceClassesAreThePublishedOnes) {
    EXPECT_EQ(GuidText(GUID_DEVINTERFACE_WPD), "{6AC27878-A6FA-4155-BA85-F98F491D4F33}");
    EXPECT_EQ(GuidText(GUID_DEVINTERFACE_VOLUME), "{53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}");
}

// The watch's callback: counts what it heard.
void Count(void *context) {
    ++*static_cast<std::atomic<int> *>(context);
}

const char kEreader[] = "[drive E]\ntype = removable\nvendor = Kindle\nbus_type = 7\n";
const char kMedia[] = "[media kindle]\ndescription = Kindle Scribe\nstorages = Internal Storage\n";

class Arrival : public MachineTest {
  protected:
    std::atomic<int> arrivals{0};
    ArrivalWatch watch;

    void Start(const std::string &ini) {
        Load(ini);
        watch.onArrival = Count;
        watch.context = &arrivals;
        watch.checkInterval = std::chrono::milliseconds(20);
    }
    // Adds a section to machine.ini, as a device plugged in while the printer runs (the file is
    // replaced whole, as a reader must never see half of it).
    void Plug(const std::string &section) {
        std::string ini = ReadHostFile(folder + "/machine.ini") + section;
        std::ofstream(folder + "/machine.ini.new") << ini;
        rename((folder + "/machine.ini.new").c_str(), (folder + "/machine.ini").c_str());
    }
    // Waits until an arrival is heard of, or 5 s have passed; the slow check runs only when it
    // is the watch's one way, so that each way is seen to hear on its own.
    bool Heard() {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (arrivals == 0 && std::chrono::steady_clock::now() < deadline) {
            if (watch.way == ARRIVAL_CHECK)
                CheckForArrival(&watch);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return arrivals > 0;
    }
};

// Each way that cannot be had gives way to the next, and the one had hears the e-reader.
TEST_F(Arrival, EachWayThatCannotBeHadFallsBackToTheNext) {
    struct Case {
        const char *machine;
        ArrivalWay way;
        const char *heardThrough; // the arrival simwin sent, "" for the check
    } cases[] = {
        {"", ARRIVAL_NOTIFICATIONS, "drive E: CM_Register_Notification volume"},
        {"[faults]\nCM_Register_Notification = 1\n", ARRIVAL_WINDOW, "drive E: WM_DEVICECHANGE"},
        {"[faults]\nCM_Register_Notification = 2:5\n", ARRIVAL_WINDOW, "drive E: WM_DEVICECHANGE"},
        {"[machine]\ncm_notification = missing\n", ARRIVAL_WINDOW, "drive E: WM_DEVICECHANGE"},
        {"[faults]\nLoadLibraryA = 1\nGetModuleHandleA = 1\n", ARRIVAL_WINDOW,
         "drive E: WM_DEVICECHANGE"},
        {"[faults]\nCM_Register_Notification = 1\nCreateWindowExA = 1\n", ARRIVAL_CHECK, ""},
        {"[faults]\nCM_Register_Notification = 1\nRegisterClassA = 1\n", ARRIVAL_CHECK, ""},
    };
    for (const Case &entry : cases) {
        arrivals = 0;
        Start(entry.machine);
        size_t before = simwin::Arrivals().size();
        EXPECT_EQ(StartArrivalWatch(&watch), entry.way) << entry.machine;
        EXPECT_EQ(arrivals, 0) << "what is there at the start has not arrived";
        Plug(kEreader);
        EXPECT_TRUE(Heard()) << entry.machine;
        std::vector<std::string> sent = simwin::Arrivals();
        std::vector<std::string> expected;
        if (*entry.heardThrough)
            expected.push_back(entry.heardThrough);
        EXPECT_EQ(std::vector<std::string>(sent.begin() + (long)before, sent.end()), expected)
            << entry.machine;
        StopArrivalWatch(&watch);
        EXPECT_EQ(watch.way, ARRIVAL_OFF);
        EXPECT_EQ(simwin::HeldNow().Total(), 0) << entry.machine;
    }
}

// Whichever single call of the watch fails, the e-reader is still heard (through the next way,
// or the check), and nothing is held once the watch ends.
TEST_F(Arrival, AnyOneFailingCallStillHearsTheEreader) {
    for (const char *operation :
         {"GetModuleHandleA", "LoadLibraryA", "GetProcAddress", "CM_Register_Notification",
          "RegisterClassA", "CreateWindowExA", "GetLogicalDrives", "CoCreateInstance"}) {
        for (int nth = 1; nth <= 3; ++nth) {
            arrivals = 0;
            Start("[faults]\n" + std::string(operation) + " = " + std::to_string(nth) + "\n");
            ArrivalWay way = StartArrivalWatch(&watch);
            Plug(kEreader);
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (arrivals == 0 && std::chrono::steady_clock::now() < deadline) {
                CheckForArrival(&watch);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            EXPECT_GT(arrivals, 0) << operation << " " << nth << " way " << way;
            StopArrivalWatch(&watch);
            EXPECT_EQ(simwin::HeldNow().Total(), 0) << operation << " " << nth;
        }
    }
}

// A media e-reader arrives as a portable device's interface, which the notifications hear (no
// window does: Windows broadcasts no such arrival), and the check finds it by the portable
// devices' count.
TEST_F(Arrival, AMediaEreaderIsHeardThroughTheNotificationsOrTheCheck) {
    Start("");
    ASSERT_EQ(StartArrivalWatch(&watch), ARRIVAL_NOTIFICATIONS);
    Plug(kMedia);
    EXPECT_TRUE(Heard());
    EXPECT_EQ(simwin::Arrivals().back(), "media kindle: CM_Register_Notification portable device");
    StopArrivalWatch(&watch);
    arrivals = 0;
    Start("[faults]\nCM_Register_Notification = 1\nCreateWindowExA = 1\n");
    ASSERT_EQ(StartArrivalWatch(&watch), ARRIVAL_CHECK);
    Plug(kMedia);
    EXPECT_TRUE(Heard());
    StopArrivalWatch(&watch);
}

// A check whose call fails concludes nothing and keeps what the last good check saw, so the
// e-reader is found by the next one; after the watch ends, nothing more is heard.
TEST_F(Arrival, AFailingCheckIsTriedAgainAndFoolsNoOne) {
    Start("[faults]\nCM_Register_Notification = 1\nCreateWindowExA = 1\nGetLogicalDrives = 2\n");
    ASSERT_EQ(StartArrivalWatch(&watch), ARRIVAL_CHECK);
    Plug(kEreader);
    EXPECT_TRUE(Heard());
    EXPECT_EQ(simwin::CallCounts()["GetLogicalDrives"], 3) << "the start, the failure, the find";
    EXPECT_EQ(arrivals, 1);
    StopArrivalWatch(&watch);
    Plug("[drive F]\ntype = removable\n");
    CheckForArrival(&watch);
    EXPECT_EQ(arrivals, 1);
    EXPECT_EQ(simwin::CallCounts()["GetLogicalDrives"], 3) << "no polling once the watch ends";
    // The check at the start failed: the first good one cannot tell, and counts as an arrival.
    arrivals = 0;
    Start("[faults]\nCM_Register_Notification = 1\nCreateWindowExA = 1\nGetLogicalDrives = 1\n");
    ASSERT_EQ(StartArrivalWatch(&watch), ARRIVAL_CHECK);
    Plug(kEreader);
    EXPECT_TRUE(Heard());
    StopArrivalWatch(&watch);
}

} // namespace
