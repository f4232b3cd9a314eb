// simwin's device side answers as the platform does: results, sizes and the exact error code of
// every failure (each call gets the sentinel 0xdeadbeef as its last error first).
#include "tests/support/machine.h"

#include <string>

#include "common/win32.h"

namespace {

class SimwinDevices : public MachineTest {
  protected:
    // Expects the call to fail (false, zero or null) with exactly error as its last error.
    template <typename Fn> void ExpectFailure(Fn call, DWORD error, const char *what) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(call()) << what;
        EXPECT_EQ(GetLastError(), error) << what;
    }
};

TEST_F(SimwinDevices, DrivesVolumesAndTheirNames) {
    Load("[drive E]\nlabel = Reader\ndos_device = \\Device\\V7\n"
         "[drive F]\ndos_device = fail\nmedia = not_ready\n[drive G]\nvolume_info = fail\n");
    char buffer[300];
    EXPECT_EQ(GetLogicalDriveStringsA(0, nullptr), 17u); // four drives and the final NUL
    EXPECT_EQ(GetLogicalDriveStringsA(17, buffer), 16u);
    EXPECT_EQ(std::string(buffer, 17), std::string("C:\\\0E:\\\0F:\\\0G:\\\0\0", 17));
    EXPECT_EQ(QueryDosDeviceA("e:", buffer, 12), 12u); // the target and an empty one
    EXPECT_EQ(std::string(buffer, 12), std::string("\\Device\\V7\0\0", 12));
    ExpectFailure([&] { return QueryDosDeviceA("E:", buffer, 11); }, ERROR_INSUFFICIENT_BUFFER,
                  "small");
    ExpectFailure([&] { return QueryDosDeviceA("F:", buffer, 300); }, ERROR_FILE_NOT_FOUND, "F");

    // One volume per drive, in drive order; its name leads back to the drive's device.
    HANDLE search = FindFirstVolumeA(buffer, 300);
    ASSERT_TRUE(FindNextVolumeA(search, buffer, 300));
    std::string volume = buffer;
    ASSERT_EQ(volume.compare(0, 11, "\\\\?\\Volume{"), 0);
    EXPECT_EQ(QueryDosDeviceA(volume.substr(4, volume.size() - 5).c_str(), buffer, 300), 12u);
    EXPECT_STREQ(buffer, "\\Device\\V7");
    ASSERT_TRUE(FindNextVolumeA(search, buffer, 300) && FindNextVolumeA(search, buffer, 300));
    ExpectFailure([&] { return FindNextVolumeA(search, buffer, 300); }, ERROR_NO_MORE_FILES, "end");
    EXPECT_TRUE(FindVolumeClose(search));
    ExpectFailure([&] { return FindVolumeClose(search); }, ERROR_INVALID_HANDLE, "closed");
    ExpectFailure([&] { return FindFirstVolumeA(buffer, 49) != INVALID_HANDLE_VALUE; },
                  ERROR_FILENAME_EXCED_RANGE, "name buffer");

    const std::pair<const char *, DWORD> failures[] = {{"E:", ERROR_INVALID_NAME},
                                                       {"Q:\\", ERROR_PATH_NOT_FOUND},
                                                       {"F:\\", ERROR_NOT_READY},
                                                       {"G:\\", ERROR_UNRECOGNIZED_VOLUME}};
    for (const auto &f : failures)
        ExpectFailure(
            [&] {
                return GetVolumeInformationA(f.first, buffer, 261, nullptr, nullptr, nullptr,
                                             nullptr, 0);
            },
            f.second, f.first);
    EXPECT_TRUE(GetVolumeInformationA("E:\\", buffer, 7, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ(buffer, "Reader");
}

TEST_F(SimwinDevices, DeviceInterfacesAndTheirDevices) {
    Load("[interface one]\npath = \\\\?\\one\ninstance_id = USB\\ONE\nhardware_ids = A | BB\n"
         "parent_id = USB\\VID_1\nfriendly_name = fail\n"
         "[interface two]\nclass = cdrom\npath = \\\\?\\two\n");
    ExpectFailure(
        [&] {
            return SetupDiGetClassDevsA(nullptr, nullptr, nullptr, 0x12) != INVALID_HANDLE_VALUE;
        },
        ERROR_INVALID_PARAMETER, "no class");
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVINTERFACE_DISK, nullptr, nullptr, 0x12);
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = 28; // the 32-bit size is refused in a 64-bit process
    const GUID *disk = &GUID_DEVINTERFACE_DISK;
    ExpectFailure([&] { return SetupDiEnumDeviceInterfaces(set, nullptr, disk, 0, &data); },
                  ERROR_INVALID_PARAMETER, "cbSize");
    data.cbSize = sizeof data;
    ExpectFailure([&] { return SetupDiEnumDeviceInterfaces(set, nullptr, nullptr, 0, &data); },
                  ERROR_INVALID_PARAMETER, "no class to enumerate");
    ExpectFailure([&] { return SetupDiEnumDeviceInterfaces(set, nullptr, disk, 1, &data); },
                  ERROR_NO_MORE_ITEMS, "one disk only");
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, disk, 0, &data));

    DWORD required = 0;
    ExpectFailure(
        [&] {
            return SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
        },
        ERROR_INSUFFICIENT_BUFFER, "sizing");
    EXPECT_EQ(required, 4u + 7u + 1u);
    char block[64] = {};
    auto detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(block);
    detail->cbSize = 5;
    ExpectFailure(
        [&] {
            return SetupDiGetDeviceInterfaceDetailA(set, &data, detail, 12, &required, nullptr);
        },
        ERROR_INVALID_USER_BUFFER, "detail cbSize");
    detail->cbSize = sizeof *detail;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, 12, &required, &device));
    EXPECT_STREQ(detail->DevicePath, "\\\\?\\one");

    char id[16];
    ExpectFailure([&] { return SetupDiGetDeviceInstanceIdA(set, &device, id, 7, &required); },
                  ERROR_INSUFFICIENT_BUFFER, "id");
    EXPECT_EQ(required, 8u);
    BYTE value[16];
    DWORD type = 0;
    ExpectFailure(
        [&] {
            return SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, &type, value,
                                                     5, &required);
        },
        ERROR_INSUFFICIENT_BUFFER, "list");
    EXPECT_EQ(required, 6u);
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, &type, value, 6,
                                                  &required));
    EXPECT_EQ(std::string((char *)value, 6), std::string("A\0BB\0\0", 6));
    for (DWORD property : {SPDRP_FRIENDLYNAME, SPDRP_DEVICEDESC, SPDRP_REMOVAL_POLICY})
        ExpectFailure(
            [&] {
                return SetupDiGetDeviceRegistryPropertyA(set, &device, property, &type, value, 16,
                                                         &required);
            },
            ERROR_INVALID_DATA, "absent or failing");

    // An identifier exactly as long as the buffer is copied without its terminator.
    DEVINST parent = 0;
    EXPECT_EQ(CM_Get_Parent(&parent, device.DevInst, 0), CR_SUCCESS);
    EXPECT_EQ(CM_Get_Device_IDA(parent, id, 9, 0), CR_SUCCESS);
    EXPECT_EQ(std::string(id, 9), "USB\\VID_1");
    EXPECT_EQ(CM_Get_Device_IDA(parent, id, 8, 0), CR_BUFFER_SMALL);
    EXPECT_EQ(CM_Get_Parent(&parent, parent, 0), CR_NO_SUCH_DEVNODE);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    ExpectFailure([&] { return SetupDiDestroyDeviceInfoList(set); }, ERROR_INVALID_HANDLE,
                  "destroyed");

    // All classes: each interface is found under its own class only.
    set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, 0x16);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_CDROM, 0, &data));
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, 64, &required, &device));
    EXPECT_STREQ(detail->DevicePath, "\\\\?\\two");
    EXPECT_EQ(CM_Get_Parent(&parent, device.DevInst, 0), CR_NO_SUCH_DEVNODE);
    SetupDiDestroyDeviceInfoList(set);

    Load("[machine]\nsetupapi = fail\nntdll = missing\n");
    ExpectFailure([&] { return GetModuleHandleA("ntdll.dll"); }, ERROR_MOD_NOT_FOUND, "ntdll");
    ExpectFailure(
        [&] { return SetupDiGetClassDevsA(disk, nullptr, nullptr, 0x12) != INVALID_HANDLE_VALUE; },
        ERROR_NOT_ENOUGH_MEMORY, "setupapi = fail");
}

} // namespace
