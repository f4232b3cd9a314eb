// The simulated machine itself: machine.ini is read strictly, paths map onto the folder as
// NTFS names do, planned faults hit the call they name, and what is held is counted.
#include "tests/support/machine.h"

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "common/win32.h"

namespace {

class Simwin : public MachineTest {
  protected:
    std::string LoadError(const std::string &ini) {
        std::ofstream(folder + "/machine.ini") << ini;
        std::string error;
        EXPECT_FALSE(simwin::LoadMachine(folder, &error));
        Load("[machine]\n"); // leave a machine for the fixture's end check
        return error;
    }
};

// A typo in machine.ini must never silently test nothing: every mistake names its line.
TEST_F(Simwin, MistakesInMachineIniNameTheirLine) {
    const std::pair<const char *, const char *> cases[] = {
        {"[machine]\nwindows_dir = C:\\W\n\ntrace = maybe\n", "machine.ini:4: "},
        {"[drive E]\ntype = removable\nvendr = Kindle\n", "machine.ini:3: unknown key"},
        {"[drive E]\nopen = fail:x\n", "machine.ini:2: "},
        {"[drive EF]\n", "machine.ini:1: a drive section names one letter"},
        {"[drive E]\n[drive e]\n", "machine.ini:2: drive e is described twice"},
        {"[printer]\n", "machine.ini:1: unknown section"},
        {"; comment\ntype = fixed\n", "machine.ini:2: key outside any section"},
        {"[faults]\nCopyFileA = 0\n", "machine.ini:2: "},
        {"[faults]\nfwrite = 1:halfway\n", "machine.ini:2: "},
        {"[interface a]\nclass = tape\n", "machine.ini:2: "},
        // A fault on a name simwin has no operation for, or a code past 32 bits, would fail
        // nothing.
        {"[faults]\nDeleteFile = 1\n", "machine.ini:2: unknown key"},
        {"[faults]\nfrobnicate = 1\n", "machine.ini:2: unknown key"},
        {"[faults]\nCopyFileA = 1:0x100000000\n", "machine.ini:2: "},
        {"[faults]\nCopyFileA = 1:0\n", "machine.ini:2: "},           // success: no fault
        {"[faults]\nIStream::Commit = 1:1\n", "machine.ini:2: "},     // S_FALSE succeeds
        {"[faults]\nIStream::Commit = 1:short\n", "machine.ini:2: "}, // has no short answer
        {"[machine]\ntrace = on\ntrace = off\n", "machine.ini:3: trace is given twice"},
        {"[drive E]\nlock_refusals = 4294967295\n", "machine.ini:2: "}, // not "always"
        {"[machine]\ncm_notification = absent\n", "machine.ini:2: "},
        {"[faults]\nCM_Register_Notification = 1:short\n", "machine.ini:2: "},
        {"[faults]\nGetMessageA = 1\n", "machine.ini:2: unknown key"}, // nothing to fail there
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        std::string error = LoadError(c.first);
        EXPECT_EQ(error.compare(0, strlen(c.second), c.second), 0) << error;
    }
    // A comment stands at the start of a line; a ';' inside a value is part of it.
    Load("[machine]\n  ; the Windows folder\nwindows_dir = C:\\Win;dows\n");
    char windows[MAX_PATH];
    ASSERT_EQ(GetWindowsDirectoryA(windows, sizeof windows), 11u);
    EXPECT_STREQ(windows, "C:\\Win;dows");
}

// A machine.ini that is no readable file would run the default machine in place of the one meant.
TEST_F(Simwin, AMachineIniThatIsNoFileIsAnError) {
    const std::string ini = folder + "/machine.ini";
    for (const char *kind : {"folder", "dangling link"}) {
        SCOPED_TRACE(kind);
        std::string error;
        ASSERT_EQ(strcmp(kind, "folder") == 0 ? mkdir(ini.c_str(), 0755)
                                              : symlink((folder + "/nowhere").c_str(), ini.c_str()),
                  0);
        EXPECT_FALSE(simwin::LoadMachine(folder, &error));
        EXPECT_EQ(error, "machine.ini is not a readable file");
        ASSERT_EQ(remove(ini.c_str()), 0);
    }
    Load();
}

TEST_F(Simwin, PathsMapOntoTheFolderWithoutRegardToCase) {
    Load("[drive E]\ntype = removable\n");
    WriteFile("C:\\Windows\\VellumTransit\\Page.jpg", "x");
    EXPECT_EQ(simwin::HostPath("c:\\WINDOWS\\vellumtransit\\PAGE.JPG"),
              folder + "/C/Windows/VellumTransit/Page.jpg");
    EXPECT_EQ(simwin::HostPath("E:\\documents\\..\\a\\.\\b.pdf"), folder + "/E/a/b.pdf");
    EXPECT_EQ(simwin::HostPath("Q:\\x"), ""); // no such drive
    EXPECT_EQ(simwin::HostPath("\\\\.\\E:"), "");
    ASSERT_TRUE(SetCurrentDirectoryA("c:\\windows\\VELLUMTRANSIT"));
    EXPECT_EQ(simwin::HostPath("page.jpg"), folder + "/C/Windows/VellumTransit/Page.jpg");
    EXPECT_EQ(simwin::HostPath("\\x.txt"), folder + "/C/x.txt");
}

TEST_F(Simwin, APlannedFaultFailsExactlyTheCallItNames) {
    Load("[faults]\nDeleteFileA = 2:32\n");
    WriteFile(std::string(kSpool) + "\\a", "1");
    WriteFile(std::string(kSpool) + "\\b", "2");
    WriteFile(std::string(kSpool) + "\\c", "3");
    ASSERT_TRUE(SetCurrentDirectoryA(kSpool));
    const std::pair<const char *, DWORD> expected[] = {
        {"a", 0}, {"b", ERROR_SHARING_VIOLATION}, {"c", 0}, {"c", ERROR_FILE_NOT_FOUND}};
    for (const auto &e : expected) {
        SetLastError(0xdeadbeef);
        BOOL ok = DeleteFileA(e.first);
        EXPECT_EQ(ok, e.second == 0) << e.first;
        EXPECT_EQ(GetLastError(), e.second == 0 ? 0xdeadbeef : e.second) << e.first;
    }
    EXPECT_EQ(List(kSpool), std::vector<std::string>{"b"});
    EXPECT_EQ(simwin::CallCounts()["DeleteFileA"], 4);
    std::vector<std::string> events = simwin::Events();
    EXPECT_EQ(events.back(), "DeleteFileA c fail 2");
}

TEST_F(Simwin, HeldThingsAreCountedUntilReleased) {
    Load();
    WriteFile(std::string(kSpool) + "\\VellumTransit1.jpg", "1");
    ASSERT_TRUE(SetCurrentDirectoryA(kSpool));
    _finddata_t entry;
    intptr_t search = _findfirst("VellumTransit*.jpg", &entry);
    ASSERT_NE(search, -1);
    FILE *file = SimFopen("VellumTransit1.jpg", "rb");
    ASSERT_NE(file, nullptr);
    void *block = SimMalloc(10);
    HLOCAL local = LocalAlloc(LMEM_ZEROINIT, 10);
    simwin::Held held = simwin::HeldNow();
    EXPECT_EQ(held.findHandles, 1);
    EXPECT_EQ(held.files, 1);
    EXPECT_EQ(held.heapBlocks, 2);
    _findclose(search);
    SimFclose(file);
    SimFree(block);
    EXPECT_EQ(LocalFree(local), nullptr);
    EXPECT_EQ(simwin::HeldNow().Total(), 0);
}

} // namespace
