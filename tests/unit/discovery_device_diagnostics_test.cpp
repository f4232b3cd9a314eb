// The device diagnostics: the interface class chosen per device type, the removable verdict,
// the lookup's acceptance of identifiers and properties at the edges of their buffers, the
// identifier split and the volume walk.
#include "tests/support/machine.h"

#include <string>
#include <vector>

#include "common/ereader_root.h"
#include "discovery/device_diagnostics.h"
#include "discovery/drive_scan.h"

namespace {

class Diagnostics : public MachineTest {
  protected:
    // Scans the machine and returns the report.
    std::string Report(const std::string &ini) {
        Load(ini);
        FindEreaderDrive();
        EXPECT_EQ(simwin::HeldNow().Total(), 0);
        return simwin::TraceText();
    }
    // The lines sent from now on by fn.
    template <typename Fn> std::string Lines(Fn fn) {
        size_t before = simwin::TraceText().size();
        fn();
        return simwin::TraceText().substr(before);
    }
};

bool Has(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// Drive E, a device of type and number 5, and what else is given; drive C is not numbered, so
// that E's report is the only one.
std::string DriveE(const std::string &type, const std::string &keys = "") {
    return "[drive C]\ndevice_number_query = fail\n[drive E]\ndevice_type = " + type +
           "\ndevice_number = 5\n" + keys + "\n";
}

// An interface of device type and number 5, named after its class.
std::string Interface(const std::string &klass, const std::string &type,
                      const std::string &keys = "") {
    return "[interface " + klass + "]\nclass = " + klass + "\npath = \\\\?\\" + klass +
           "\ndevice_type = " + type + "\ndevice_number = 5\ninstance_id = ID\\" + klass + "\n" +
           keys + "\n";
}

TEST_F(Diagnostics, TheInterfaceClassFollowsTheDeviceType) {
    const struct {
        const char *type, *keys, *path; // path: the interface found, or none
        int characteristicsQueries;
    } cases[] = {
        {"2", "", "cdrom", 0},
        {"0x33", "", "cdrom", 0},
        {"7", "characteristics = 0x4", "floppy", 1},
        {"7", "characteristics = 0x5", "floppy", 1},
        {"7", "characteristics = 0x1", "disk", 1},
        {"7", "characteristics = fail", nullptr, 1},
        {"0x24", "", nullptr, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.keys);
        std::string report = Report(DriveE(c.type, c.keys) + Interface("disk", c.type) +
                                    Interface("cdrom", c.type) + Interface("floppy", c.type));
        if (c.path)
            EXPECT_TRUE(Has(report, std::string("    DevicePath: \\\\?\\") + c.path + "\n    "));
        else
            EXPECT_FALSE(Has(report, "DevicePath"));
        EXPECT_EQ(simwin::CallCounts()["SetupDiGetClassDevsA"], 1);
        EXPECT_EQ(simwin::CallCounts()["NtQueryVolumeInformationFile"], c.characteristicsQueries);
    }
    // Without ntdll there are no characteristics, so a disk has no interface class either.
    EXPECT_FALSE(Has(Report("[machine]\nntdll = missing\n" + DriveE("7") + Interface("disk", "7")),
                     "DevicePath"));
}

TEST_F(Diagnostics, TheRemovableVerdict) {
    const struct {
        const char *driveKeys, *policy;
        bool removable;
    } cases[] = {
        {"", "", false},
        {"removable_media = 1", "", true},
        {"characteristics = 0x1", "", true},
        {"", "removal_policy = 1", false},
        {"", "removal_policy = 2", true},
        {"", "removal_policy = 3", true},
        {"", "removal_policy = 4", false},
        {"", "removal_policy = fail", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.driveKeys) + c.policy);
        std::string report = Report(DriveE("7", c.driveKeys) + Interface("disk", "7", c.policy));
        EXPECT_TRUE(Has(report, "    DeviceInstanceId: ID\\disk\n"));
        EXPECT_EQ(Has(report, "    Drive E: is removeable\n"), c.removable);
    }
    // Removable, but the device is not found: neither line.
    std::string report = Report(DriveE("7", "removable_media = 1") + Interface("disk", "8"));
    EXPECT_FALSE(Has(report, "DeviceInstanceId"));
    EXPECT_FALSE(Has(report, "removeable"));
}

TEST_F(Diagnostics, AnIdentifierMustFitItsBufferWithItsTerminator) {
    std::string id199 = "USBSTOR\\" + std::string(191, 'A');
    std::string id200 = id199 + "B";
    Load(Interface("disk", "7", "instance_id = " + id200) +
         Interface("floppy", "7", "instance_id = " + id199 + "\nremoval_policy = 3"));
    char instanceId[kDeviceIdSize];
    DWORD policy = 9;
    std::string lines = Lines([&] {
        EXPECT_EQ(LookupStorageDeviceInstance(&GUID_DEVINTERFACE_DISK, 7, 5, instanceId, &policy),
                  0);
    });
    EXPECT_EQ(lines, "    DevicePath: \\\\?\\disk\n"); // given up after its path line
    EXPECT_STREQ(instanceId, "");
    EXPECT_EQ(policy, 0u);
    EXPECT_EQ(LookupStorageDeviceInstance(&GUID_DEVINTERFACE_FLOPPY, 7, 5, instanceId, &policy), 1);
    EXPECT_EQ(instanceId, id199);
    EXPECT_EQ(policy, 3u);
}

TEST_F(Diagnostics, HardwareIdListsAndPropertiesAtTheEdgesOfTheBuffer) {
    // Reported size 4000: only texts beginning at an offset of at most 96 are sent.
    std::string near =
        std::string(47, 'a') + " | " + std::string(47, 'b') + " | " + std::string(47, 'c');
    for (int i = 0; i < 15; ++i)
        near += " | " + std::string(256, 'd');
    const struct {
        std::string keys, lines;
    } cases[] = {
        {"hardware_ids = A | B\\1 | C", "    Hardware IDs:\n        \"A\"\n        \"B\\1\"\n"
                                        "        \"C\"\n    Friendly Name: \"F\"\n"},
        {"hardware_ids =", "    Hardware IDs:\n    Friendly Name: \"F\"\n"},
        {"hardware_ids = " + near, "    Hardware IDs:\n        \"" + std::string(47, 'a') +
                                       "\"\n        \"" + std::string(47, 'b') + "\"\n        \"" +
                                       std::string(47, 'c') + "\"\n    Friendly Name: \"F\"\n"},
        // A value over 4096 bytes leaves out only its own line.
        {"hardware_ids = " + std::string(4096, 'x'), "    Friendly Name: \"F\"\n"},
        {"hardware_ids = fail", "    Friendly Name: \"F\"\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.keys.substr(0, 40));
        std::string report =
            Report(DriveE("7") + Interface("disk", "7", c.keys + "\nfriendly_name = F"));
        size_t from = report.find("    DevicePath: \\\\?\\disk\n");
        ASSERT_NE(from, std::string::npos);
        EXPECT_EQ(report.substr(from + 25, report.find("    DeviceInstanceId") - from - 25),
                  c.lines);
    }
    std::string report =
        Report(DriveE("7") + Interface("disk", "7",
                                       "friendly_name = " + std::string(4096, 'f') +
                                           "\npdo_name = P\nsetup_class = fail"));
    EXPECT_TRUE(Has(report, "    DevicePath: \\\\?\\disk\n    Physical Device Object Name: \"P\"\n"
                            "    DeviceInstanceId"));
}

// The readers of property values stay inside the bytes reported and the buffer, whatever the
// value holds (each value sits in a heap block of exactly its own size).
TEST_F(Diagnostics, PropertyValuesWithoutTerminatorsAreCut) {
    Load();
    // Four bytes reported of eight: the last text has no terminator inside them.
    std::vector<char> list = {'A', '\0', 'B', 'C', 'x', 'y', 'z', 'w'};
    EXPECT_EQ(Lines([&] { TraceHardwareIdList(list.data(), 4, 8); }),
              "        \"A\"\n        \"BC\"\n");
    EXPECT_EQ(Lines([&] { TraceHardwareIdList(list.data(), 3, 8); }),
              "        \"A\"\n        \"B\"\n");
    EXPECT_EQ(Lines([&] { TraceHardwareIdList(list.data(), 4000, 8); }), ""); // over the buffer
    EXPECT_EQ(Lines([&] { TraceHardwareIdList(list.data(), 8, 8); }), "        \"A\"\n");
    std::vector<char> value = {'a', 'b', 'c'};
    EXPECT_EQ(Lines([&] { TraceTextProperty("<%s>", value.data(), 3, 3); }), "<abc>");
    EXPECT_EQ(Lines([&] { TraceTextProperty("<%s>", value.data(), 900, 2); }), "<ab>");
}

TEST_F(Diagnostics, AParentThatCannotBeReadLeavesTheDeviceFound) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"parent_id = fail", ""},
        {"parent_id = USB\\" + std::string(196, 'P'), // 200 characters: no room for the NUL
         ""},
        {"parent_id = USB\\VID_" + std::string(191, 'P'),
         "    Parent Device Instance ID: USB\\VID_" + std::string(191, 'P') + "\n        vid: \"" +
             std::string(191, 'P') + "\"\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first.substr(0, 30));
        std::string report = Report(DriveE("7") + Interface("disk", "7", c.first));
        EXPECT_EQ(report.substr(report.find("    DevicePath")),
                  "    DevicePath: \\\\?\\disk\n" + c.second + "    DeviceInstanceId: ID\\disk\n");
    }
}

TEST_F(Diagnostics, TheIdentifierSplit) {
    Load();
    const std::pair<std::string, std::string> cases[] = {
        {"USB\\VID_0AB1&PID_0C22&MI_00\\7&1A2B3C&0&0000",
         "        vid: \"0AB1\"\n        pid: \"0C22\"\n        mi: \"00\"\n"},
        {"VID_", "        vid: \"\"\n"},
        {"USB\\vid_0AB1&Pid_1", ""},
        {"\\\\VID_0AB1##", "        vid: \"0AB1\"\n"},
        {"&&MI_7#PID_&", "        mi: \"7\"\n        pid: \"\"\n"},
        {"", ""},
        // Cut to the 199 characters of the copy.
        {"VID_" + std::string(300, '9'), "        vid: \"" + std::string(195, '9') + "\"\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Lines([&] { TraceHardwareIdParts(c.first.c_str()); }), c.second) << c.first;
}

TEST_F(Diagnostics, TheVolumeWalkEndsAtTheFirstVolumeItCannotName) {
    Load("[drive D]\ndos_device = \\Device\\D\n[drive E]\ndos_device = fail\n"
         "[drive F]\ndos_device = \\Device\\F\n");
    EXPECT_EQ(FindVolumeByDosDevice("\\Device\\D"), 1);
    EXPECT_EQ(FindVolumeByDosDevice("\\Device\\F"), 0); // the walk ended at E's volume
    EXPECT_EQ(FindVolumeByDosDevice("\\Device\\X"), 0);
    EXPECT_EQ(simwin::CallCounts()["FindVolumeClose"], 3);
    Load("[drive D]\ndos_device = \\Device\\D\n[drive F]\ndos_device = \\Device\\F\n");
    EXPECT_EQ(FindVolumeByDosDevice("\\Device\\F"), 1);
    simwin::SetFault("FindFirstVolumeA", 2, "");
    simwin::SetFault("FindNextVolumeA", 3, "");
    EXPECT_EQ(FindVolumeByDosDevice("\\Device\\F"), 0);
    EXPECT_EQ(FindVolumeByDosDevice("\\Device\\F"), 0);
    EXPECT_EQ(FindVolumeByDosDevice("\\Device\\F"), 1);
    EXPECT_EQ(simwin::TraceText(), "");
}

} // namespace
