// simwin's portable devices as machine.ini describes them: every mistake in a [media] section
// names its line, and COM refuses classes before it is initialised, as Windows does.
#include "tests/support/machine.h"

#include <fstream>

#include "common/win32.h"

namespace {

class SimwinMedia : public MachineTest {};

TEST_F(SimwinMedia, MistakesInAMediaSectionNameTheirLine) {
    const std::pair<const char *, const char *> cases[] = {
        {"[media ]\n", "machine.ini:1: unknown section [media]"},
        {"[media a/b]\n", "machine.ini:1: a media section names one folder"},
        {"[media A]\n[media A]\n", "machine.ini:2: media A is described twice"},
        {"[media A]\nstorages = \n", "machine.ini:2: "},
        {"[media A]\nstorages = One | ..\n", "machine.ini:2: "},
        {"[media A]\nopen = 5\n", "machine.ini:2: "}, // a success is no refusal
        {"[media A]\nopen = fail\n", "machine.ini:2: "},
        {"[media A]\noptimal_buffer = 0\n", "machine.ini:2: "},
        {"[media A]\nfree_bytes = lots\n", "machine.ini:2: "},
        {"[media A]\nserial = 1\n", "machine.ini:2: unknown key"},
        {"[machine]\nwpd = absent\n", "machine.ini:2: "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        std::ofstream(folder + "/machine.ini") << c.first;
        std::string error;
        EXPECT_FALSE(simwin::LoadMachine(folder, &error));
        EXPECT_EQ(error.compare(0, strlen(c.second), c.second), 0) << error;
    }
    Load("[media A]\nstorages = One | Two\nopen = 0x80070005\n");
}

TEST_F(SimwinMedia, ClassesNeedComInitialisedAndWpdPresent) {
    Load("[machine]\nwpd = missing\n");
    IPortableDeviceValues *values = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IPortableDeviceValues, reinterpret_cast<void **>(&values)),
              CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(simwin::HeldNow().comInitialisations, 2);
    EXPECT_EQ(CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IPortableDeviceValues, reinterpret_cast<void **>(&values)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(values, nullptr);
    CoUninitialize();
    CoUninitialize();
}

} // namespace
