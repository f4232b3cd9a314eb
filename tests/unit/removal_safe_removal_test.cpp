// Safe removal on the simulated machine: the console transcript to the byte, the calls that
// reach the volume in order, the result, and the virtual clock of the lock retries.
#include "removal/safe_removal.h"

#include "tests/support/machine.h"

namespace {

using Events = std::vector<std::string>;

std::string Control(const std::string &name, const std::string &outcome = "ok") {
    return "DeviceIoControl " + name + " \\\\.\\E: " + outcome;
}
const std::string kOpen = "CreateFileA \\\\.\\E: GENERIC_READ|GENERIC_WRITE ok";
const std::string kLock = Control("FSCTL_LOCK_VOLUME"),
                  kDismount = Control("FSCTL_DISMOUNT_VOLUME");
const std::string kAllow = Control("IOCTL_STORAGE_MEDIA_REMOVAL allow");
const std::string kEject = Control("IOCTL_STORAGE_EJECT_MEDIA"),
                  kClose = "CloseHandle \\\\.\\E: ok";
const char kEjected[] = "Media in Drive E has been ejected safely.\n";
const char kRemovable[] = "Media in Drive E can be safely removed.\n";

class Removal : public MachineTest {
  protected:
    // Removes drive letter of a machine whose drive E has the given keys.
    std::string Remove(const std::string &keys, char letter = 'E') {
        Load("[drive E]\n" + keys + "\n", false);
        result = -1;
        return CaptureStdout([&] { result = SafelyRemoveDrive(letter); });
    }
    int result = -1;
};

// A CD-ROM is opened for reading only; every other type for reading and writing.
TEST_F(Removal, DriveTypeDecidesTheTextAndTheAccess) {
    const char *cases[][3] = {{"removable", " - Removable\r\n", "GENERIC_READ|GENERIC_WRITE"},
                              {"cdrom", " - CDROM\r\n", "GENERIC_READ"},
                              {"remote", " - Other\r\n", "GENERIC_READ|GENERIC_WRITE"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c[0]);
        EXPECT_EQ(Remove(std::string("type = ") + c[0]),
                  std::string("Get drive type...\nE:\\") + c[1] + kEjected);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(simwin::Events(), (Events{std::string("CreateFileA \\\\.\\E: ") + c[2] + " ok",
                                            kLock, kDismount, kAllow, kEject, kClose}));
    }
}

// The first step that fails ends the sequence; the handle is closed whatever happened.
TEST_F(Removal, AFailingStepEndsTheSequence) {
    struct Case {
        const char *keys;
        int refusals; // lock refusals, each followed by a pause of 500 ms
        const char *outcome;
        int result;
        Events after;
    };
    const Case cases[] = {
        // Refused 20 times: 20 attempts, no 21st, no outcome line, still a result of 1.
        {"lock_refusals = 20", 20, "", 1, {kClose}},
        {"lock_refusals = 3", 3, kEjected, 1, {kLock, kDismount, kAllow, kEject, kClose}},
        {"dismount = fail", 0, "", 1, {kLock, Control("FSCTL_DISMOUNT_VOLUME", "fail 5"), kClose}},
        {"media_removal = fail",
         0,
         kRemovable,
         1,
         {kLock, kDismount, Control("IOCTL_STORAGE_MEDIA_REMOVAL allow", "fail 5"), kClose}},
        {"eject = fail",
         0,
         kRemovable,
         1,
         {kLock, kDismount, kAllow, Control("IOCTL_STORAGE_EJECT_MEDIA", "fail 21"), kClose}},
        // A failed close withholds the outcome line, even after a successful eject.
        {"close = fail",
         0,
         "",
         0,
         {kLock, kDismount, kAllow, kEject, "CloseHandle \\\\.\\E: fail 6"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.keys);
        EXPECT_EQ(Remove(std::string("type = removable\n") + c.keys),
                  std::string("Get drive type...\nE:\\ - Removable\r\n") + c.outcome);
        EXPECT_EQ(result, c.result);
        Events expected = {kOpen};
        for (int i = 0; i < c.refusals; i++)
            expected.insert(expected.end(), {Control("FSCTL_LOCK_VOLUME", "refused"), "Sleep 500"});
        expected.insert(expected.end(), c.after.begin(), c.after.end());
        EXPECT_EQ(simwin::Events(), expected);
        EXPECT_EQ(simwin::ClockMilliseconds(), 500u * c.refusals);
    }
}

// A failed open prints the error with its code (signed) and tries nothing more.
TEST_F(Removal, AFailedOpenStopsEverything) {
    EXPECT_EQ(Remove("type = cdrom\nopen = fail:0xC0000022"),
              "Get drive type...\nE:\\ - CDROM\r\nError -1073741790: CreateFile\n");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(simwin::Events(), Events{"CreateFileA \\\\.\\E: GENERIC_READ fail 3221225506"});
    EXPECT_EQ(simwin::CallCounts().count("DeviceIoControl") + simwin::CallCounts().count("Sleep") +
                  simwin::CallCounts().count("CloseHandle"),
              0u);
}

TEST_F(Removal, PrintsTheLetterAsGiven) {
    EXPECT_EQ(Remove("type = removable", 'e'),
              "Get drive type...\ne:\\ - Removable\r\nMedia in Drive e has been ejected safely.\n");
    EXPECT_EQ(result, 1);
}

} // namespace
