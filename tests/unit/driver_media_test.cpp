// Whole runs to a media e-reader, on a device as simwin first modelled them and on one as real
// e-readers present themselves: fault and crash sweeps over the road of a print job, a long job
// in rounds, and a delivered document recognised by its bytes.
#include "tests/support/runs.h"

#include <filesystem>
#include <fstream>

#include "simwin/simwin_internal.h"

namespace {

const std::string kPdf = std::string(kSpool) + "\\VellumTransit.pdf";
const std::string kModelled = "[media Scribe]\nfriendly_name = Kindle Scribe\ndescription = Kindle "
                              "Scribe\nstorages = Internal Storage\noptimal_buffer = 4096\n";
// Described by the MTP driver and known by vendor and model; names without extensions, two
// identifiers per call, a nameless folder at the root that cannot be read, an older copy known
// only by its object name, and objects that exist from the create call on.
const std::string kReal =
    "[media Scribe]\npnp_id = \\\\?\\usb#vid_1949&pid_9981#g0001\nfriendly_name = Kindle "
    "Scribe\ndescription = MTP USB Device\nmodel = Kindle Scribe\nstorages = Internal "
    "Storage\noptimal_buffer = 4096\nenum_batch = 2\nunreadable = Internal Storage/_nameless\n"
    "no_original_name = Internal Storage/documents/VellumTransit.pdf\ntransfer = on_create\n";
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
    // How often each page is on the device, in the waiting PDF or spooled; what the device held
    // before is unchanged, every other file on it is a whole PDF, and nothing is hidden there.
    std::vector<int> Census(const std::string &context, int pages) {
        std::map<std::string, std::string> device = HostFiles(Documents());
        for (const auto &[name, bytes] : kOlder)
            EXPECT_EQ(device[name], bytes) << context;
        for (const auto &[name, bytes] : device)
            EXPECT_TRUE(kOlder.count(name) || IsWholePdf(bytes)) << name << "\n" << context;
        for (const auto &entry : std::filesystem::directory_iterator(folder + "/media/Scribe"))
            EXPECT_EQ(entry.path().filename(), "Internal Storage") << context;
        std::string waiting = ReadFile(kPdf);
        EXPECT_TRUE(waiting.empty() || IsWholePdf(waiting)) << context;
        std::vector<int> copies(pages + 1, 0);
        for (int page = 1; page <= pages; ++page) {
            copies[page] = Exists(JobPagePath(page)) + Occurrences(waiting, JobPage(page));
            for (const auto &file : device)
                copies[page] += Occurrences(file.second, JobPage(page));
        }
        return copies;
    }
    // A page of the next job, then clean runs until the spool is empty: every page on the
    // device exactly once.
    void RunCleanAndCheck(const std::string &context, int pages) {
        WriteFile(JobPagePath(pages + 1), JobPage(pages + 1));
        for (int run = 0; run < 3 && !List(kSpool).empty(); ++run) {
            Reload();
            RunProgram();
        }
        EXPECT_TRUE(List(kSpool).empty()) << context;
        std::vector<int> copies = Census(context, pages + 1);
        for (int page = 1; page <= pages + 1; ++page)
            EXPECT_EQ(copies[page], 1) << "page " << page << "\n" << context;
    }
};

// One fault per run, for every call of every operation (COM and WPD calls among them): each run
// exits 0, holds nothing and loses no page; the clean runs after it put every page on the device
// exactly once.
TEST_F(MediaRoad, NoPageIsLostOrDoubledWhicheverCallFails) {
    int faults = 0, media = 0;
    for (const std::string &ini : {kModelled, kReal}) {
        Prepare(ini, 2);
        EXPECT_EQ(RunProgram().substr(0, 6), "Adding");
        const std::map<std::string, int> calls = simwin::CallCounts();
        for (const auto &[operation, count] : calls) {
            bool com = operation.find("::") != std::string::npos || operation == "CoInitializeEx" ||
                       operation == "CoCreateInstance";
            EXPECT_EQ(simwin::IsMediaOperation(operation), com) << operation; // [faults] takes it
            for (int nth = 1; nth <= count; ++nth, ++faults, media += com) {
                SCOPED_TRACE(operation + " #" + std::to_string(nth) + "\n" + ini);
                Prepare(ini, 2);
                simwin::SetFault(operation, nth, "");
                std::string transcript = RunProgram();
                std::vector<int> copies = Census(transcript, 2);
                for (int page = 1; page <= 2; ++page)
                    EXPECT_GE(copies[page], 1) << "page " << page << " lost\n" << transcript;
                RunCleanAndCheck(transcript, 2);
            }
        }
    }
    std::cout << "[ sweep    ] " << faults << " faults tried, " << media << " of them COM or WPD\n";
    EXPECT_GT(media, 100);
}

// A run killed at the nth call of any operation, for every n (a transfer also cut half way),
// then clean runs: every page on the device exactly once, nothing cut short left there.
TEST_F(MediaRoad, EveryPageOnceWhereverTheRunIsKilled) {
    const int pages = 12;
    int crashes = 0;
    for (const std::string &ini : {kModelled, kReal}) {
        Prepare(ini, pages);
        RunProgram();
        const std::map<std::string, int> calls = simwin::CallCounts();
        for (const auto &[operation, count] : calls) {
            for (int nth = 1; nth <= count; ++nth) {
                for (const char *mode : {"crash", "crash_half"}) {
                    if (std::string(mode) == "crash_half" && operation != "IStream::Write" &&
                        operation != "WriteFile")
                        continue;
                    SCOPED_TRACE(operation + " #" + std::to_string(nth) + " " + mode + "\n" + ini);
                    Prepare(ini, pages);
                    ASSERT_TRUE(RunKilledAt(folder, operation, nth, mode));
                    RunCleanAndCheck(ReadHostFile(folder + "/events.log"), pages);
                    ++crashes;
                }
            }
        }
    }
    std::cout << "[ sweep    ] " << crashes << " crashes\n";
    EXPECT_GT(crashes, 500);
}

// A long job in one run: 256 pages a PDF, in page order, each PDF under the next free name, and
// the device found once and told once, at the end, that it can be unplugged.
TEST_F(MediaRoad, ALongJobArrivesWholeInOneRun) {
    const std::pair<int, std::vector<int>> jobs[] = {{300, {256, 44}}, {600, {256, 256, 88}}};
    for (const auto &[pages, documents] : jobs) {
        SCOPED_TRACE(pages);
        Prepare(kReal, pages);
        std::string transcript = RunProgram();
        EXPECT_EQ(Occurrences(transcript, "Adding "), pages);
        EXPECT_EQ(Occurrences(transcript, kCopied), (int)documents.size());
        EXPECT_EQ(Occurrences(transcript, kUnplug), 1);
        // The e-reader is found once a run: the devices listed once (a count, then the list),
        // the e-reader opened once, however many PDFs it takes.
        EXPECT_EQ(simwin::CallCounts()["IPortableDeviceManager::GetDevices"], 2);
        EXPECT_EQ(simwin::CallCounts()["IPortableDevice::Open"], 1);
        EXPECT_EQ(transcript.substr(transcript.size() - strlen(kCopied) - strlen(kUnplug)),
                  std::string(kCopied) + kUnplug);
        std::map<std::string, std::string> device = HostFiles(Documents());
        EXPECT_EQ(device.size(), kOlder.size() + documents.size());
        int page = 1;
        for (size_t d = 0; d < documents.size(); ++d) {
            std::string pdf = device["VellumTransit (" + std::to_string(d + 2) + ").pdf"];
            size_t at = 0;
            for (int k = 0; k < documents[d]; ++k, ++page)
                EXPECT_NE(at = pdf.find(JobPage(page), at), std::string::npos) << d << " " << page;
            EXPECT_EQ(Occurrences(pdf, "/Type/Page/"), documents[d]);
        }
        EXPECT_TRUE(List(kSpool).empty());
    }
}

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
