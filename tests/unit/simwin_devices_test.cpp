// simwin's configuration manager hands back a device identifier as the platform does, which the
// diagnostics rely on: one that exactly fills the buffer is a success without its terminator.
#include "tests/support/machine.h"

#include <string>

#include "common/win32.h"

namespace {

class SimwinDevices : public MachineTest {};

TEST_F(SimwinDevices, AnIdentifierThatFillsTheBufferHasNoTerminator) {
    Load("[interface one]\npath = \\\\?\\one\nparent_id = USB\\VID_1\n");
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVINTERFACE_DISK, nullptr, nullptr, 0x12);
    SP_DEVICE_INTERFACE_DATA data = {sizeof data, {}, 0, 0};
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_DISK, 0, &data));
    char block[64] = {};
    auto detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(block);
    detail->cbSize = sizeof *detail;
    SP_DEVINFO_DATA device = {sizeof device, {}, 0, 0};
    ASSERT_TRUE(
        SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof block, nullptr, &device));
    DEVINST parent = 0;
    ASSERT_EQ(CM_Get_Parent(&parent, device.DevInst, 0), CR_SUCCESS);
    char id[16];
    memset(id, 'x', sizeof id);
    EXPECT_EQ(CM_Get_Device_IDA(parent, id, 9, 0), CR_SUCCESS);
    EXPECT_EQ(std::string(id, 10), "USB\\VID_1x");
    EXPECT_EQ(CM_Get_Device_IDA(parent, id, 8, 0), CR_BUFFER_SMALL);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

} // namespace
