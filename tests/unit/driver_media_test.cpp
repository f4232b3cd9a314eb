// Whole runs to a media e-reader, on a device as simwin first modelled them and on one as real
// e-readers present themselves: a delivered document recognised by its bytes. (The sweeps and
// the long job are in driver_sweep_test.cpp, for every route.)
#include "tests/support/runs.h"

#include <filesystem>
#include <fstream>

namespace {

const std::string kPdf = std::string(kSpool) + "\\VellumTransit.pdf";
const std::string kModelled = kModelledMedia, kReal = kRealMedia;
// What the device holds before the print job, by name in documents.
const std::map<std::string, std::string> kOlder = {
    {"VellumTransit.pdf", "%PDF-1.3\r\n% an older document of ours\r\n%%EOF\r\n"},
    {"Notes.txt", "notes"}};
const char kCopied[] = "Kindle Scribe: Output copied to Kindle!\n";
const char kUnplug[] = "Kindle Scribe can be unplugged.\n";

class MediaRoad : public MachineTest {
  protected:
    void Prepare(const std::string &ini, int pages) {
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
        std::filesystem::create_directories(Documents());
        std::filesystem::create_directories(folder + "/media/Scribe/Internal Storage/_nameless");
        for (const auto &[name, bytes] : kOlder)
            std::ofstream(Documents() + "/" + name, std::ios::binary) << bytes;
        Load(ini);
        for (int page = 1; page <= pages; ++page)
            WriteFile(JobPagePath(page), JobPage(page));
    }
    void Reload() {
        std::string error;
        ASSERT_TRUE(simwin::LoadMachine(folder, &error)) << error;
    }
    std::string Documents() { return folder + "/media/Scribe/Internal Storage/documents"; }
};

// A PDF whose delete is refused for a whole run stays beside its copy; the next run reads the
// copy back, says the PDF is already there and deletes it. A copy that cannot be read back is
// not taken for it: the PDF waits. The object a killed run was sending, when its bytes end
// before the size it reports and hold the start of the PDF, is a copy cut short: it goes, and
// the PDF is sent again under its name.
TEST_F(MediaRoad, ADeliveredDocumentIsRecognisedByItsBytes) {
    for (const std::string &ini : {kModelled, kReal}) {
        SCOPED_TRACE(ini);
        Prepare(ini, 2);
        for (int nth = 1; nth <= 100; ++nth)
            simwin::SetFault("DeleteFileA", nth, "32");
        EXPECT_NE(RunProgram().find(std::string(kCopied) + kUnplug), std::string::npos);
        EXPECT_TRUE(Exists(kPdf));
        std::string pdf = ReadFile(kPdf);
        Reload();
        simwin::SetFault("IStream::Read", 1, "0x8003001E");
        EXPECT_EQ(RunProgram(),
                  "Kindle Scribe: Could not copy the PDF (error 0x8003001E).\nKindle must be "
                  "plugged in!\n");
        Reload();
        EXPECT_EQ(RunProgram(),
                  "Kindle Scribe: Output already on Kindle!\n" + std::string(kUnplug));
        EXPECT_TRUE(List(kSpool).empty());
        std::map<std::string, std::string> device = HostFiles(Documents());
        EXPECT_EQ(device.size(), kOlder.size() + 1);
        EXPECT_EQ(device["VellumTransit (2).pdf"], pdf);

        WriteFile(kPdf, pdf);
        WriteFile(std::string(kSpool) + "\\VellumTransit.pdf.sending", "VellumTransit (2).pdf");
        Reload();
        simwin::SetFault("IStream::Read", 1, "short");
        EXPECT_EQ(RunProgram(), std::string(kCopied) + kUnplug);
        EXPECT_EQ(HostFiles(Documents()), device);
        EXPECT_TRUE(List(kSpool).empty());
    }
}

} // namespace
