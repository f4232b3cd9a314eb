// simwin's portable devices as machine.ini describes them: every mistake in a [media] section
// names its line, and COM refuses classes before it is initialised, as Windows does.
#include "tests/support/machine.h"

#include <filesystem>
#include <fstream>

#include "common/win32.h"

namespace {

class SimwinMedia : public MachineTest {};

TEST_F(SimwinMedia, MistakesInAMediaSectionNameTheirLine) {
    const std::string s = "[media A]\nstorages = S\n";
    const std::pair<std::string, const char *> cases[] = {
        {"[media ]\n", "machine.ini:1: unknown section [media]"},
        {"[media a/b]\n", "machine.ini:1: a media section names one folder"},
        {s + "[media A]\n", "machine.ini:3: media A is described twice"},
        {s + "[media a]\n", "machine.ini:3: media a is described twice"},
        {s + "pnp_id = X\n[media B]\nstorages = S\npnp_id = x\n", "machine.ini:6: "},
        {s + "storages = T\n", "machine.ini:3: storages is given twice"},
        {"[media A]\nmodel = Kindle\n", "machine.ini:1: media A has no storages"},
        {"[media A]\nstorages = \n", "machine.ini:2: "},
        {"[media A]\nstorages = One | \n", "machine.ini:2: "},
        {"[media A]\nstorages = One | ..\n", "machine.ini:2: "},
        {s + "open = 5\n", "machine.ini:3: "}, // a success is no refusal
        {s + "open = fail\n", "machine.ini:3: "},
        {s + "optimal_buffer = 0\n", "machine.ini:3: "},
        {s + "optimal_buffer = 4294967296\n", "machine.ini:3: "},
        {s + "enum_batch = 4294967296\n", "machine.ini:3: "},
        {s + "free_bytes = lots\n", "machine.ini:3: "},
        {s + "free_bytes = 18446744073709551616\n", "machine.ini:3: "},
        {s + "object_names = whole\n", "machine.ini:3: "},
        {s + "transfer = later\n", "machine.ini:3: "},
        {s + "unreadable = S/missing\n", "machine.ini:3: "}, // a path that names nothing
        {s + "no_original_name = T\n", "machine.ini:3: "},   // nor a storage the device has
        {s + "unreadable = S/../S\n", "machine.ini:3: "},
        {s + "serial = 1\n", "machine.ini:3: unknown key"},
        {"[machine]\nwpd = absent\n", "machine.ini:2: "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        std::ofstream(folder + "/machine.ini") << c.first;
        std::string error;
        EXPECT_FALSE(simwin::LoadMachine(folder, &error));
        EXPECT_EQ(error.compare(0, strlen(c.second), c.second), 0) << error;
    }
    std::filesystem::create_directories(folder + "/media/A/Two/x");
    Load("[media A]\nstorages = One | Two\nopen = 0x80070005\nunreadable = Two/x | Two\n");
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
