// Safe removal on the simulated machine: the console transcript to the byte, the exact calls
// that reach the volume, in order, the result, and the virtual clock of the lock retries. The
// fixture checks after every case that no volume handle is left open.
#include "removal/safe_removal.h"

#include "simwin/simwin.h"
#include "tests/support/machine.h"

#include <map>
#include <string>
#include <vector>

namespace {

const char kReadWrite[] = "GENERIC_READ|GENERIC_WRITE";
const char kEjected[] = "Media in Drive E has been ejected safely.\n";
const char kRemovable[] = "Media in Drive E can be safely removed.\n";

std::string Open(const std::string &access, const std::string &outcome = "ok") {
    return "CreateFileA \\\\.\\E: " + access + " " + outcome;
}
std::string Control(const std::string &name, const std::string &outcome = "ok") {
    return "DeviceIoControl " + name + " \\\\.\\E: " + outcome;
}
std::string Lock(const std::string &outcome = "ok") {
    return Control("FSCTL_LOCK_VOLUME", outcome);
}
std::string Dismount(const std::string &outcome = "ok") {
    return Control("FSCTL_DISMOUNT_VOLUME", outcome);
}
std::string Allow(const std::string &outcome = "ok") {
    return Control("IOCTL_STORAGE_MEDIA_REMOVAL allow", outcome);
}
std::string Eject(const std::string &outcome = "ok") {
    return Control("IOCTL_STORAGE_EJECT_MEDIA", outcome);
}
std::string Close(const std::string &outcome = "ok") {
    return "CloseHandle \\\\.\\E: " + outcome;
}

// Runs the removal with stdout captured; *result starts from a sentinel.
std::string Remove(char letter, int *result) {
    *result = -1;
    return CaptureStdout([&] { *result = SafelyRemoveDrive(letter); });
}

// ---- Drive types: the printed text and the access asked for ------------------------------

struct TypeCase {
    const char *type;
    const char *printed;
    const char *access;
};

class RemovalDriveType : public MachineTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(RemovalDriveType, PrintsTypeAndOpensWithItsAccess) {
    const TypeCase &c = GetParam();
    Load(std::string("[drive E]\ntype = ") + c.type + "\n", false);
    int result;
    std::string console = Remove('E', &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(console, std::string("Get drive type...\nE:\\") + c.printed + kEjected);
    EXPECT_EQ(simwin::Events(), (std::vector<std::string>{Open(c.access), Lock(), Dismount(),
                                                          Allow(), Eject(), Close()}));
    EXPECT_EQ(simwin::ClockMilliseconds(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Types, RemovalDriveType,
                         ::testing::Values(TypeCase{"removable", " - Removable\r\n", kReadWrite},
                                           TypeCase{"cdrom", " - CDROM\r\n", "GENERIC_READ"},
                                           TypeCase{"fixed", " - Other\r\n", kReadWrite},
                                           TypeCase{"remote", " - Other\r\n", kReadWrite},
                                           TypeCase{"ramdisk", " - Other\r\n", kReadWrite},
                                           TypeCase{"unknown", " - Other\r\n", kReadWrite},
                                           TypeCase{"no_root", " - Other\r\n", kReadWrite}),
                         [](const ::testing::TestParamInfo<TypeCase> &info) {
                             return std::string(info.param.type);
                         });

// ---- A step refused or failing: which calls follow, which line, which result --------------

struct StepCase {
    const char *name;
    const char *keys;    // [drive E] keys besides type = removable
    int refusals;        // lock refusals, each followed by a pause
    const char *outcome; // the console's last line, or ""
    int result;
    unsigned long long clock;       // milliseconds paused
    std::vector<std::string> after; // the events after the refusals
};

class RemovalStep : public MachineTest, public ::testing::WithParamInterface<StepCase> {};

TEST_P(RemovalStep, StopsAtTheFailureAndReports) {
    const StepCase &c = GetParam();
    Load(std::string("[drive E]\ntype = removable\n") + c.keys + "\n", false);
    int result;
    std::string console = Remove('E', &result);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(console, std::string("Get drive type...\nE:\\ - Removable\r\n") + c.outcome);
    std::vector<std::string> expected = {Open(kReadWrite)};
    for (int i = 0; i < c.refusals; i++) {
        expected.push_back(Lock("refused"));
        expected.push_back("Sleep 500");
    }
    expected.insert(expected.end(), c.after.begin(), c.after.end());
    EXPECT_EQ(simwin::Events(), expected);
    EXPECT_EQ(simwin::ClockMilliseconds(), c.clock);
}

const std::vector<std::string> kAllDone = {Lock(), Dismount(), Allow(), Eject(), Close()};

// clang-format off
const StepCase kStepCases[] = {
    {"LockAlwaysRefused", "lock_refusals = always", 20, "", 1, 10000, {Close()}},
    // A 21st attempt would be granted here: there must be none.
    {"LockRefusedTwentyTimes", "lock_refusals = 20", 20, "", 1, 10000, {Close()}},
    {"LockGrantedOnTwentieth", "lock_refusals = 19", 19, kEjected, 1, 9500, kAllDone},
    {"LockGrantedOnFourth", "lock_refusals = 3", 3, kEjected, 1, 1500, kAllDone},
    {"DismountFails", "dismount = fail", 0, "", 1, 0, {Lock(), Dismount("fail 5"), Close()}},
    {"AllowRemovalFails", "media_removal = fail", 0, kRemovable, 1, 0,
     {Lock(), Dismount(), Allow("fail 5"), Close()}},
    {"EjectFails", "eject = fail", 0, kRemovable, 1, 0,
     {Lock(), Dismount(), Allow(), Eject("fail 21"), Close()}},
    // A failed close withholds the outcome line, even after a successful eject.
    {"CloseFailsAfterEject", "close = fail", 0, "", 0, 0,
     {Lock(), Dismount(), Allow(), Eject(), Close("fail 6")}},
    {"CloseFailsAfterFailedEject", "eject = fail\nclose = fail", 0, "", 0, 0,
     {Lock(), Dismount(), Allow(), Eject("fail 21"), Close("fail 6")}},
    {"CloseFailsAfterRefusedLock", "lock_refusals = always\nclose = fail", 20, "", 0, 10000,
     {Close("fail 6")}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Steps, RemovalStep, ::testing::ValuesIn(kStepCases),
                         [](const ::testing::TestParamInfo<StepCase> &info) {
                             return std::string(info.param.name);
                         });

// ---- The open failing: the error line, and nothing else tried ----------------------------

class RemovalTest : public MachineTest {};

TEST_F(RemovalTest, OpenFailureStopsEverything) {
    struct {
        const char *ini;
        char letter;
        const char *console; // after "Get drive type...\n"
        const char *event;
    } cases[] = {
        {"type = removable\nopen = fail:5", 'E', "E:\\ - Removable\r\nError 5: CreateFile\n",
         "CreateFileA \\\\.\\E: GENERIC_READ|GENERIC_WRITE fail 5"},
        {"type = cdrom\nopen = fail:21", 'E', "E:\\ - CDROM\r\nError 21: CreateFile\n",
         "CreateFileA \\\\.\\E: GENERIC_READ fail 21"},
        // The code is printed as a signed number.
        {"type = fixed\nopen = fail:0xC0000022", 'E',
         "E:\\ - Other\r\nError -1073741790: CreateFile\n",
         "CreateFileA \\\\.\\E: GENERIC_READ|GENERIC_WRITE fail 3221225506"},
        // A drive the machine does not have.
        {"type = removable", 'Q', "Q:\\ - Other\r\nError 2: CreateFile\n",
         "CreateFileA \\\\.\\Q: GENERIC_READ|GENERIC_WRITE fail 2"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ini);
        Load(std::string("[drive E]\n") + c.ini + "\n", false);
        int result;
        std::string console = Remove(c.letter, &result);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(console, std::string("Get drive type...\n") + c.console);
        EXPECT_EQ(simwin::Events(), std::vector<std::string>{c.event});
        std::map<std::string, int> calls = simwin::CallCounts();
        EXPECT_EQ(calls["GetDriveTypeA"], 1);
        EXPECT_EQ(calls["DeviceIoControl"], 0);
        EXPECT_EQ(calls["CloseHandle"], 0); // not even on INVALID_HANDLE_VALUE
        EXPECT_EQ(calls["Sleep"], 0);
    }
}

// ---- The letter as given ------------------------------------------------------------------

TEST_F(RemovalTest, PrintsTheLetterUnchanged) {
    Load("[drive E]\ntype = removable\n", false);
    int result;
    std::string console = Remove('e', &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(console, "Get drive type...\ne:\\ - Removable\r\n"
                       "Media in Drive e has been ejected safely.\n");
    // The volume is opened by the name as formatted; the machine names the drive in capitals.
    EXPECT_EQ(simwin::Events(),
              (std::vector<std::string>{"CreateFileA \\\\.\\e: GENERIC_READ|GENERIC_WRITE ok",
                                        Lock(), Dismount(), Allow(), Eject(), Close()}));
}

} // namespace
