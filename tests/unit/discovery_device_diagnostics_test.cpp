// The device diagnostics: interface class, removable verdict, buffer edges and the volume walk.
#include "tests/support/machine.h"

#include <algorithm>
#include <string>
#include <tuple>

#include "discovery/device_diagnostics.h"
#include "discovery/drive_scan.h"

namespace {

class Diagnostics : public MachineTest {
  protected:
    // Scans drive E (C is not numbered) of type and number 5 beside one interface of each class
    // of that type and number; returns E's report from its device on ("" without one).
    std::string Report(const std::string &type, const std::string &driveKeys,
                       const std::string &interfaceKeys) {
        std::string ini = "[drive C]\ndevice_number_query = fail\n[drive E]\ndevice_number = 5\n";
        ini += "device_type = " + type + "\n" + driveKeys + "\n";
        for (std::string klass : {"disk", "cdrom", "floppy"})
            ini += "[interface " + klass + "]\nclass = " + klass + "\npath = \\\\?\\" + klass +
                   "\ndevice_type = " + type + "\ndevice_number = 5\ninstance_id = ID\\" + klass +
                   "\n" + interfaceKeys + "\n";
        Load(ini);
        FindEreaderDrive();
        EXPECT_EQ(simwin::HeldNow().Total(), 0);
        std::string trace = simwin::TraceText();
        return trace.substr(std::min(trace.size(), trace.find("    DevicePath")));
    }
};

std::string Found(const std::string &k, const std::string &lines = "") {
    return "    DevicePath: \\\\?\\" + k + "\n" + lines + "    DeviceInstanceId: ID\\" + k + "\n";
}

TEST_F(Diagnostics, TheDeviceFoundAndItsReport) {
    const std::string id199 = "USBSTOR\\" + std::string(191, 'A'), p191 = std::string(191, 'P');
    const std::string x47 = std::string(47, 'x'), x47Line = "        \"" + x47 + "\"\n";
    // Reported size 4000: only the texts beginning at an offset of at most 96 are sent.
    const std::string near = x47 + " | " + x47 + " | " + x47 + " | " + std::string(3854, 'd');
    const std::string removable = "    Drive E: is removeable\n", ids = "    Hardware IDs:\n";
    const std::string parent = "    Parent Device Instance ID: ";
    const std::string split = "\\\\VID_0AB1##vid_1&Pid_2&mi_3\\MI_7#PID_&"; // case-sensitive
    const std::tuple<std::string, std::string, std::string, std::string, int> cases[] = {
        {"2", "", "removal_policy = 2", Found("cdrom") + removable, 0},
        {"0x33", "", "removal_policy = 3", Found("cdrom") + removable, 0},
        {"7", "characteristics = 0x5", "", Found("floppy") + removable, 1},
        {"7", "characteristics = 0x1", "", Found("disk") + removable, 1},
        {"7", "removable_media = 1", "", Found("disk") + removable, 1},
        {"7", "", "removal_policy = 1", Found("disk"), 1},
        {"7", "removable_media = 1\ncharacteristics = fail", "", "", 1},
        {"7", "removable_media = 1\n[machine]\nntdll = missing", "", "", 0},
        {"0x24", "", "", "", 0},
        {"7", "", "hardware_ids = A | B\\1 | C",
         Found("disk", ids + "        \"A\"\n        \"B\\1\"\n        \"C\"\n"), 1},
        {"7", "", "hardware_ids =", Found("disk", ids), 1},
        {"7", "", "hardware_ids = " + near, Found("disk", ids + x47Line + x47Line + x47Line), 1},
        // A value over 4096 bytes, or one that cannot be read, leaves out only its own line.
        {"7", "",
         "friendly_name = " + std::string(4096, 'f') + "\npdo_name = P\nsetup_class = fail",
         Found("disk", "    Physical Device Object Name: \"P\"\n"), 1},
        {"7", "", "parent_id = fail", Found("disk"), 1},
        {"7", "", "parent_id = USB\\" + std::string(196, 'P'), Found("disk"), 1}, // 200: no NUL
        {"7", "", "parent_id = USB\\VID_" + p191,
         Found("disk", parent + "USB\\VID_" + p191 + "\n        vid: \"" + p191 + "\"\n"), 1},
        {"7", "", "parent_id = " + split,
         Found("disk",
               parent + split + "\n        vid: \"0AB1\"\n        mi: \"7\"\n        pid: \"\"\n"),
         1},
        {"7", "", "instance_id = " + id199,
         "    DevicePath: \\\\?\\disk\n    DeviceInstanceId: " + id199 + "\n", 1},
        {"7", "", "instance_id = " + id199 + "B", "    DevicePath: \\\\?\\disk\n", 1}, // given up
    };
    for (const auto &[type, driveKeys, interfaceKeys, report, queries] : cases) {
        SCOPED_TRACE(type + " " + driveKeys + " " + interfaceKeys.substr(0, 40));
        EXPECT_EQ(Report(type, driveKeys, interfaceKeys), report);
        EXPECT_EQ(simwin::CallCounts()["SetupDiGetClassDevsA"], 1);
        EXPECT_EQ(simwin::CallCounts()["NtQueryVolumeInformationFile"], queries);
    }
}

TEST_F(Diagnostics, TheVolumeWalkEndsAtTheFirstVolumeItCannotName) {
    Load("[drive D]\ndos_device = \\Device\\D\n[drive E]\ndos_device = fail\n"
         "[drive F]\ndos_device = \\Device\\F\n");
    simwin::SetFault("FindNextVolumeA", 4, ""); // the step to D's volume in the third walk
    EXPECT_EQ(FindVolumeByDosDevice("\\Device\\D"), 1);
    EXPECT_EQ(FindVolumeByDosDevice("\\Device\\F"), 0); // the walk ended at E's volume
    EXPECT_EQ(FindVolumeByDosDevice("\\Device\\D"), 0);
}

} // namespace
