// The drive scan on simulated machines: which drive is chosen, the report it sends, the reading
// of storage descriptors that are cut short or malformed, and a fault sweep over a whole scan.
#include "tests/support/machine.h"

#include <map>
#include <string>
#include <vector>

#include "common/ereader_root.h"
#include "discovery/drive_scan.h"

namespace {

class DriveScan : public MachineTest {
  protected:
    // Runs the scan from an emptied EreaderRoot and returns what it left there.
    std::string Scan(const std::string &ini) {
        Load(ini);
        EreaderRoot[0] = '\0';
        FindEreaderDrive();
        EXPECT_EQ(simwin::HeldNow().Total(), 0);
        return EreaderRoot;
    }
    bool Traced(const std::string &line) {
        return simwin::TraceText().find(line) != std::string::npos;
    }
};

// A removable drive whose descriptor and media are as given.
std::string Drive(char letter, const std::string &keys) {
    return std::string("[drive ") + letter + "]\ntype = removable\nbus_type = 7\n" + keys + "\n";
}

TEST_F(DriveScan, TheVendorTextAndTheMediaDecideTheMatch) {
    const std::pair<std::string, const char *> cases[] = {
        {"vendor = Kindle", "E:\\"},
        {"vendor = Kindle Internal", "E:\\"}, // characters after the sixth are ignored
        {"vendor = KindleX\nremovable_media = 0\nbus_type = 0", "E:\\"},
        {"vendor = kindle", ""},
        {"vendor = KINDLE", ""},
        {"vendor = Kindl", ""},
        {"product = Kindle", ""},
        {"vendor = Kindle\nmedia = not_ready", ""},
        {"vendor = Kindle\nmedia = fail:5", ""},
        {"vendor = Kindle\ndescriptor = fail", ""},
        // Runs past the 4096 bytes returned: read up to their end, and still matches.
        {"vendor = Kindle" + std::string(5000, 'x'), "E:\\"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first.substr(0, 60));
        EXPECT_EQ(Scan(Drive('D', "vendor = Other") + Drive('E', c.first) + Drive('F', "")),
                  c.second);
        EXPECT_TRUE(Traced("Drive F:\n")); // the walk always goes on to the end
    }
}

TEST_F(DriveScan, TheLastOfTwoEreadersWins) {
    EXPECT_EQ(Scan(Drive('F', "vendor = Kindle") + Drive('G', "vendor = Other") +
                   Drive('H', "vendor = Kindle") +
                   Drive('J', "vendor = Kindle\nmedia = not_ready")),
              "H:\\");
}

// Drives that cannot be opened or numbered (network, cloud and RAM drives) are given up one by
// one; they neither end the walk nor lose an e-reader already found.
TEST_F(DriveScan, ADriveThatCannotBeOpenedOrNumberedIsGivenUp) {
    const std::pair<std::string, std::string> cases[] = {
        {Drive('D', "open = fail:5"), Drive('F', "")},
        {Drive('D', "device_number_query = fail"), Drive('F', "")},
        {Drive('D', ""), Drive('F', "open = fail:5")},
        {Drive('D', ""), Drive('F', "device_number_query = fail")},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Scan(c.first + Drive('E', "vendor = Kindle") + c.second + Drive('G', "")),
                  "E:\\");
        EXPECT_TRUE(Traced("Drive G:\n    Dos Device Name"));
    }
    // The e-reader's own number cannot be read: it stays chosen and the walk goes on.
    EXPECT_EQ(Scan(Drive('E', "vendor = Kindle\ndevice_number_query = fail") + Drive('F', "")),
              "E:\\");
    EXPECT_TRUE(Traced("    VendorId: \"Kindle\"\nDrive F:\n"));
}

TEST_F(DriveScan, BusTypesAreNamedOrNumbered) {
    const std::pair<int, const char *> cases[] = {
        {7, "    Bus Type: USB\n"},
        {0, "    Bus Type: Unknown\n"},
        {15, "    Bus Type: FileBackedVirtual\n"},
        {16, "    Bus Type: Unknown (16)\n"},
        {200, "    Bus Type: Unknown (200)\n"}, // beyond the enumeration's own range
    };
    for (const auto &c : cases) {
        Scan("[drive E]\nbus_type = " + std::to_string(c.first) + "\n");
        EXPECT_TRUE(Traced(c.second)) << c.second;
    }
    EXPECT_EQ(GetBusTypeName(-1), nullptr);
    EXPECT_STREQ(GetBusTypeName(6), "Fibre Channel");
}

// No drive is examined when the list cannot be had; EreaderRoot keeps what the caller left.
TEST_F(DriveScan, NoDriveListMeansNoScan) {
    const std::pair<const char *, int> faults[] = {
        {"GetLogicalDriveStringsA", 1}, {"GetLogicalDriveStringsA", 2}, {"LocalAlloc", 1}};
    for (const auto &fault : faults) {
        Load(Drive('E', "vendor = Kindle"));
        simwin::SetFault(fault.first, fault.second, "");
        strcpy(EreaderRoot, "kept");
        FindEreaderDrive();
        EXPECT_STREQ(EreaderRoot, "kept") << fault.first << fault.second;
        EXPECT_EQ(simwin::TraceText(), "");
        EXPECT_EQ(simwin::CallCounts()["CreateFileA"], 0);
    }
}

TEST_F(DriveScan, TextsAreSentEvenWithoutAVendorText) {
    EXPECT_EQ(Scan(Drive('E', "product = Kindle\nrevision = 0100\nmedia = not_ready")), "");
    EXPECT_TRUE(Traced("    the device media are not accessible\n    Bus Type: USB\n"
                       "    ProductId: \"Kindle\"\n    ProductRevision: \"0100\"\n"));
    EXPECT_FALSE(Traced("VendorId"));
}

// ---- Reading one descriptor ---------------------------------------------------------------

// A descriptor of exactly the bytes given (so that the sanitizer sees any read past them).
struct Descriptor {
    std::vector<unsigned char> bytes;
    explicit Descriptor(size_t size) : bytes(size, 0) {}
    void Set(size_t offset, DWORD value) { memcpy(&bytes[offset], &value, sizeof value); }
    void Text(size_t offset, const std::string &text) {
        memcpy(&bytes[offset], text.data(), text.size());
    }
};

// Reads a descriptor with the vendor text at offset 40; returns the match and the trace.
std::pair<int, std::string> ReadVendor(const std::string &vendor, DWORD vendorOffset, size_t size) {
    Descriptor d(size);
    d.Set(12, vendorOffset);
    d.Set(28, 7);
    if (size > 40)
        d.Text(40, vendor.substr(0, size - 40));
    std::string before = simwin::TraceText();
    int removable = 0;
    int match = ReadStorageDescriptor(d.bytes.data(), (DWORD)size, &removable);
    return {match, simwin::TraceText().substr(before.size())};
}

TEST_F(DriveScan, DescriptorTextsAreReadOnlyInsideTheBytesReturned) {
    Load();
    const std::string bus = "    Bus Type: USB\n";
    const struct {
        std::string vendor;
        DWORD offset;
        size_t size;
        int match;
        std::string trace;
    } cases[] = {
        {std::string("Kindle  \0", 9), 40, 49, 1, bus + "    VendorId: \"Kindle  \"\n"},
        {"Kindle", 40, 46, 1, bus + "    VendorId: \"Kindle\"\n"}, // no NUL: cut at the end
        {"Kindle", 40, 43, 0, bus + "    VendorId: \"Kin\"\n"},
        {"Kindle", 46, 46, 0, bus},          // an offset at the end is no text
        {"Kindle", 0xFFFFFFF0u, 46, 0, bus}, // nor one far past it
        {std::string(2000, 'K'), 40, 2040, 0,
         bus + "    VendorId: \"" + std::string(2000, 'K') + "\"\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.trace.substr(0, 60));
        std::pair<int, std::string> got = ReadVendor(c.vendor, c.offset, c.size);
        EXPECT_EQ(got.first, c.match);
        EXPECT_EQ(got.second, c.trace);
    }
    // The copy compared is bounded by its 1024 bytes; a long text still matches on its start.
    EXPECT_EQ(ReadVendor("Kindle" + std::string(3000, ' ') + '\0', 40, 3047).first, 1);

    // Fields past the bytes returned read as 0: no texts, not removable.
    Descriptor d(12);
    d.bytes[10] = 1; // RemovableMedia
    int removable = 0;
    EXPECT_EQ(ReadStorageDescriptor(d.bytes.data(), 10, &removable), 0);
    EXPECT_EQ(removable, 0);
    EXPECT_EQ(ReadStorageDescriptor(d.bytes.data(), 12, &removable), 0);
    EXPECT_EQ(removable, 1);
}

// ---- The report of one full machine, and a fault sweep over it ----------------------------

const char kFullMachine[] = R"(
[drive C]
type = fixed
label = System
dos_device = \Device\HarddiskVolume1
bus_type = 11
vendor = ATA
product = Fast Disk
revision = 2B6Q
device_type = 7
device_number = 0
partition_number = 1

[drive E]
type = removable
label = Kindle
dos_device = \Device\HarddiskVolume7
bus_type = 7
vendor = Kindle
product = Internal Storage
revision = 0100
device_type = 7
device_number = 2
partition_number = 1
characteristics = 0x1

[drive F]
type = fixed
label = Data
dos_device = \Device\HarddiskVolume2
bus_type = 11
vendor = ATA
product = Fast Disk
revision = 2B6Q
device_type = 7
device_number = 0
partition_number = 2

[interface ssd]
class = disk
path = \\?\scsi#disk&ven_ata&prod_fast_disk#4&2f1c0a&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
device_type = 7
device_number = 0
instance_id = SCSI\DISK&VEN_ATA&PROD_FAST_DISK\4&2F1C0A&0&000000
removal_policy = 1
setup_class = DiskDrive
hardware_ids = SCSI\DiskATA_____Fast_Disk | GenDisk
friendly_name = Fast Disk
pdo_name = \Device\00000032
description = Disk drive
parent_id = PCI\VEN_1234&DEV_5678&SUBSYS_00000000&REV_31\3&11583659&0&B8

[interface usb1]
class = disk
path = \\?\usbstor#disk&ven_kindle&prod_internal_storage&rev_0100#g0000&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
device_type = 7
device_number = 2
instance_id = USBSTOR\DISK&VEN_KINDLE&PROD_INTERNAL_STORAGE&REV_0100\G0000&0
removal_policy = 3
setup_class = DiskDrive
hardware_ids = USBSTOR\DiskKindle__Internal_Storage0100 | USBSTOR\DiskKindle__Internal_Storage | GenDisk
friendly_name = Kindle Internal Storage USB Device
pdo_name = \Device\0000004f
description = Disk drive
parent_id = USB\VID_0AB1&PID_0C22&MI_00\7&1A2B3C&0&0000
)";

// The lines of the internal disk's device, which drives C and F (two partitions) share.
const char kSsdLines[] =
    R"(    DevicePath: \\?\scsi#disk&ven_ata&prod_fast_disk#4&2f1c0a&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
    Class: "DiskDrive"
    Hardware IDs:
        "SCSI\DiskATA_____Fast_Disk"
        "GenDisk"
    Friendly Name: "Fast Disk"
    Physical Device Object Name: "\Device\00000032"
    Device Description: "Disk drive"
    Parent Device Instance ID: PCI\VEN_1234&DEV_5678&SUBSYS_00000000&REV_31\3&11583659&0&B8
    DeviceInstanceId: SCSI\DISK&VEN_ATA&PROD_FAST_DISK\4&2F1C0A&0&000000
)";

TEST_F(DriveScan, TheReportOfAFullMachineToTheByte) {
    EXPECT_EQ(Scan(std::string("[machine]\ntrace = on\n") + kFullMachine), "E:\\");
    std::string expected = std::string(R"(Drive C:
    Dos Device Name: \Device\HarddiskVolume1
    Volume Name: "System"
    the device media are accessible
    Bus Type: SATA
    VendorId: "ATA"
    ProductId: "Fast Disk"
    ProductRevision: "2B6Q"
    DeviceType: 7, DeviceNumber: 0, PartitionNumber: 1
)") + kSsdLines + R"(Drive E:
    Dos Device Name: \Device\HarddiskVolume7
    Volume Name: "Kindle"
    the device media are accessible
    Bus Type: USB
    VendorId: "Kindle"
    ProductId: "Internal Storage"
    ProductRevision: "0100"
    DeviceType: 7, DeviceNumber: 2, PartitionNumber: 1
    DevicePath: \\?\usbstor#disk&ven_kindle&prod_internal_storage&rev_0100#g0000&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
    Class: "DiskDrive"
    Hardware IDs:
        "USBSTOR\DiskKindle__Internal_Storage0100"
        "USBSTOR\DiskKindle__Internal_Storage"
        "GenDisk"
    Friendly Name: "Kindle Internal Storage USB Device"
    Physical Device Object Name: "\Device\0000004f"
    Device Description: "Disk drive"
    Parent Device Instance ID: USB\VID_0AB1&PID_0C22&MI_00\7&1A2B3C&0&0000
        vid: "0AB1"
        pid: "0C22"
        mi: "00"
    DeviceInstanceId: USBSTOR\DISK&VEN_KINDLE&PROD_INTERNAL_STORAGE&REV_0100\G0000&0
    Drive E: is removeable
Drive F:
    Dos Device Name: \Device\HarddiskVolume2
    Volume Name: "Data"
    the device media are accessible
    Bus Type: SATA
    VendorId: "ATA"
    ProductId: "Fast Disk"
    ProductRevision: "2B6Q"
    DeviceType: 7, DeviceNumber: 0, PartitionNumber: 2
)" + kSsdLines;
    EXPECT_EQ(ReadHostFile(folder + "/trace.log"), expected);
}

// Fail each call of every operation the scan makes, in turn: the scan always returns holding
// nothing, and only a failure of the e-reader's own checks (its volume open, media check and
// descriptor query) or of the drive list loses it.
TEST_F(DriveScan, AFaultAnywhereHoldsNothingAndLosesTheEreaderOnlyThroughItsOwnChecks) {
    EXPECT_EQ(Scan(kFullMachine), "E:\\");
    std::map<std::string, int> counts = simwin::CallCounts();
    const std::map<std::string, int> lossesExpected = {{"GetLogicalDriveStringsA", 2},
                                                       {"LocalAlloc", 1},
                                                       {"CreateFileA", 1},
                                                       {"DeviceIoControl", 2}};
    int faults = 0;
    for (const auto &operation : counts) {
        int losses = 0;
        for (int nth = 1; nth <= operation.second; ++nth, ++faults) {
            Load(kFullMachine);
            simwin::SetFault(operation.first, nth, "");
            EreaderRoot[0] = '\0';
            FindEreaderDrive();
            std::string root = EreaderRoot;
            EXPECT_TRUE(root == "E:\\" || root.empty()) << root;
            losses += root.empty();
            simwin::Held held = simwin::HeldNow();
            EXPECT_EQ(held.Total(), 0) << operation.first << " call " << nth;
        }
        auto expected = lossesExpected.find(operation.first);
        EXPECT_EQ(losses, expected == lossesExpected.end() ? 0 : expected->second)
            << operation.first;
    }
    EXPECT_GT(faults, 100);
    EXPECT_GT(counts["SetupDiGetDeviceRegistryPropertyA"], 0);
    EXPECT_GT(counts["CM_Get_Device_IDA"], 0);
    EXPECT_GT(counts["FindNextVolumeA"], 0);
}

} // namespace
