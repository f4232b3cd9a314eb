// The drive scan: the drive chosen, descriptor texts, a full machine's report and a fault sweep.
#include "tests/support/machine.h"

#include <string>
#include <tuple>
#include <vector>

#include "common/ereader_root.h"
#include "discovery/drive_scan.h"

namespace {

class DriveScan : public MachineTest {
  protected:
    // Runs the scan from EreaderRoot set to root and returns what it left there.
    std::string Scan(const std::string &ini, const char *root = "") {
        Load(ini);
        strcpy(EreaderRoot, root);
        FindEreaderDrive();
        EXPECT_EQ(simwin::HeldNow().Total(), 0);
        return EreaderRoot;
    }
};

std::string Drive(char letter, const std::string &keys) {
    return std::string("[drive ") + letter + "]\ntype = removable\nbus_type = 7\n" + keys + "\n";
}

// Drives D, E, F and a plain G; line is one that the report must hold.
TEST_F(DriveScan, WhichDriveIsChosen) {
    const char *g = "Drive G:\n    Dos Device Name"; // the walk went on to the end
    const std::string k = "vendor = Kindle";
    const std::tuple<std::string, std::string, std::string, const char *, const char *> cases[] = {
        {"vendor = Other\nbus_type = 0\nmedia = fail:5", k + " Internal", "", "E:\\",
         "    Volume Name: \"\"\n    Bus Type: Unknown\n    VendorId: \"Other\"\n"},
        {"", k + std::string(5000, 'x'), "", "E:\\", g}, // runs past the 4096 bytes returned
        {"", k + "\nbus_type = 200", "", "E:\\", "    Bus Type: Unknown (200)\n"},
        {"", "vendor = kindle\nbus_type = 16", "", "", "    Bus Type: Unknown (16)\n"},
        {"", "vendor = Kindl\nbus_type = 15", "", "", "    Bus Type: FileBackedVirtual\n"},
        {"", "product = Kindle", "", "", "    Bus Type: USB\n    ProductId: \"Kindle\"\n"},
        {"", k + "\nmedia = not_ready", "", "", "not accessible\n    Bus Type: USB\n    VendorId"},
        {"", k, k, "F:\\", g},
        // A drive that cannot be opened or numbered (network, cloud, RAM) is given up alone.
        {"open = fail:5", k, "device_number_query = fail", "E:\\", g},
        {"device_number_query = fail", k, "open = fail:5", "E:\\", g},
        {"", k + "\ndevice_number_query = fail", "", "E:\\", g},
    };
    for (const auto &[d, e, f, root, line] : cases) {
        SCOPED_TRACE(d + " | " + e.substr(0, 40) + " | " + f);
        EXPECT_EQ(Scan(Drive('D', d) + Drive('E', e) + Drive('F', f) + Drive('G', "")), root);
        EXPECT_NE(simwin::TraceText().find(line), std::string::npos) << line;
    }
}

// An offset at or past the bytes returned is no text (the vector ends where they do).
TEST_F(DriveScan, AnOffsetOutsideTheBytesReturnedIsNoText) {
    Load();
    std::vector<char> d(46, 'K');
    char text[8] = "kept";
    for (DWORD offset : {0u, 46u, 0xFFFFFFF0u})
        EXPECT_EQ(CopyDescriptorText(d.data(), 46, offset, text, sizeof text), 0);
    EXPECT_STREQ(text, "kept");
}

const std::string kMachine =
    "[drive C]\nlabel = System\nbus_type = 11\n"
    "[drive E]\ntype = removable\nlabel = Kindle\nbus_type = 7\nvendor = Kindle\n"
    "product = Internal Storage\nrevision = 0100\ndevice_number = 2\ncharacteristics = 0x1\n"
    "[interface usb]\npath = \\\\?\\usbstor#disk&ven_kindle#g0&0#{53f56307-b6bf-11d0-94f2}\n"
    "device_number = 2\ninstance_id = USBSTOR\\DISK&VEN_KINDLE\\G0&0\nremoval_policy = 3\n"
    "setup_class = DiskDrive\nhardware_ids = USBSTOR\\DiskKindle0100 | GenDisk\n"
    "friendly_name = Kindle USB Device\npdo_name = \\Device\\0000004f\ndescription = Disk\n"
    "parent_id = USB\\VID_0AB1&PID_0C22&MI_00\\7&1A2B3C&0&0000\n";

TEST_F(DriveScan, TheReportOfAFullMachineToTheByte) {
    EXPECT_EQ(Scan("[machine]\ntrace = on\n" + kMachine), "E:\\");
    EXPECT_EQ(ReadHostFile(folder + "/trace.log"), R"(Drive C:
    Dos Device Name: \Device\HarddiskVolume1
    Volume Name: "System"
    the device media are accessible
    Bus Type: SATA
    DeviceType: 7, DeviceNumber: 0, PartitionNumber: 1
Drive E:
    Dos Device Name: \Device\HarddiskVolume2
    Volume Name: "Kindle"
    the device media are accessible
    Bus Type: USB
    VendorId: "Kindle"
    ProductId: "Internal Storage"
    ProductRevision: "0100"
    DeviceType: 7, DeviceNumber: 2, PartitionNumber: 1
    DevicePath: \\?\usbstor#disk&ven_kindle#g0&0#{53f56307-b6bf-11d0-94f2}
    Class: "DiskDrive"
    Hardware IDs:
        "USBSTOR\DiskKindle0100"
        "GenDisk"
    Friendly Name: "Kindle USB Device"
    Physical Device Object Name: "\Device\0000004f"
    Device Description: "Disk"
    Parent Device Instance ID: USB\VID_0AB1&PID_0C22&MI_00\7&1A2B3C&0&0000
        vid: "0AB1"
        pid: "0C22"
        mi: "00"
    DeviceInstanceId: USBSTOR\DISK&VEN_KINDLE\G0&0
    Drive E: is removeable
)");
}

// Fails each call of every operation in turn: nothing is held, EreaderRoot is never emptied, and
// only the drive list or the e-reader's own volume open, media check and descriptor lose it.
TEST_F(DriveScan, AFaultAnywhereHoldsNothingAndLosesTheEreaderOnlyThroughItsOwnChecks) {
    EXPECT_EQ(Scan(kMachine), "E:\\");
    std::string lost; // the faults after which EreaderRoot is not E's, and what it is then
    for (const auto &operation : simwin::CallCounts())
        for (int nth = 1; nth <= operation.second; ++nth) {
            std::string n = std::to_string(nth);
            std::string root = Scan(kMachine + "[faults]\n" + operation.first + " = " + n, "kept");
            if (root != "E:\\")
                lost += operation.first + " " + n + ": " + root +
                        (simwin::TraceText().empty() ? " (no drive examined)\n" : "\n");
        }
    EXPECT_EQ(lost, "CreateFileA 3: kept\nDeviceIoControl 5: kept\nDeviceIoControl 6: kept\n"
                    "GetLogicalDriveStringsA 1: kept (no drive examined)\n"
                    "GetLogicalDriveStringsA 2: kept (no drive examined)\n"
                    "LocalAlloc 1: kept (no drive examined)\n");
}

} // namespace
