// The sweeps over the road of a print job, on each route to the e-reader (a drive, a media
// device as simwin first modelled them, one as real e-readers present themselves) and for each
// way a run can end badly: the nth call of an operation fails, the run is killed there, or the
// power goes there, for every operation and every n. After it, a page of the next job and clean
// runs: every page on the e-reader exactly once, what it held before unchanged, nothing broken
// or partial there, the spool empty. And on each route a long job, which arrives whole in one
// run, and on the media routes a document already delivered, recognised by its bytes. Each
// sweep runs with untitled pages too, and with two titled jobs at once: every document then on
// the e-reader once, under its own job's name and title, with its own job's pages only.
#include "tests/support/runs.h"

#include <filesystem>
#include <fstream>

#include "common/delivered_name.h"
#include "pdf/pdf_document.h"
#include "simwin/simwin_internal.h"

namespace {

const std::string kPdf = std::string(kSpool) + "\\VellumTransit.pdf";

// A media e-reader as simwin first modelled them, and one as real e-readers present themselves:
// described by the MTP driver and known by vendor and model, names without extensions, two
// identifiers per call, a nameless folder at the root that cannot be read, an older copy known
// only by its object name, and objects that exist from the create call on.
const char kModelledMedia[] = "[media Scribe]\nfriendly_name = Kindle Scribe\ndescription = Kindle "
                              "Scribe\nstorages = Internal Storage\noptimal_buffer = 4096\n";
const char kRealMedia[] =
    "[media Scribe]\npnp_id = \\\\?\\usb#vid_1949&pid_9981#g0001\nfriendly_name = Kindle "
    "Scribe\ndescription = MTP USB Device\nmodel = Kindle Scribe\nstorages = Internal "
    "Storage\noptimal_buffer = 4096\nenum_batch = 2\nunreadable = Internal Storage/_nameless\n"
    "no_original_name = Internal Storage/documents/VellumTransit.pdf\ntransfer = on_create\n";

struct Route {
    const char *name;
    std::string ini;
    std::string documents;   // below the machine folder
    const char *copied;      // the copy line
    const char *removed;     // the lines that end a run which copied
    std::string hiddenCheck; // a folder where nothing may be hidden but the storage ("": none)
    int crashes;             // at least this many crashes in a crash or power sweep
};

const Route kRoutes[] = {
    {"Drive", DriveEreader(), "E/documents", "E:\\Output copied to Kindle!\n",
     "Get drive type...\nE:\\ - Removable\r\nMedia in Drive E has been ejected safely.\n", "", 100},
    {"ModelledMedia", kModelledMedia, "media/Scribe/Internal Storage/documents",
     "Kindle Scribe: Output copied to Kindle!\n", "Kindle Scribe can be unplugged.\n",
     "media/Scribe", 250},
    {"RealMedia", kRealMedia, "media/Scribe/Internal Storage/documents",
     "Kindle Scribe: Output copied to Kindle!\n", "Kindle Scribe can be unplugged.\n",
     "media/Scribe", 250},
};

enum Ending { kFault, kCrash, kPowerLoss };
const char *const kEndingNames[] = {"Fault", "Crash", "PowerLoss"};

// What the e-reader holds before the print job, by name in documents.
const std::map<std::string, std::string> kOlder = {
    {"VellumTransit.pdf", "%PDF-1.3\r\n% an older document of ours\r\n%%EOF\r\n"},
    {"Notes.txt", "notes"}};

// Two jobs printed at once, as the printer spools them: the first half of the pages is job 1,
// the rest job 2; the page of the next job (pages + 1) is job 3, with job 1's title again.
const char *const kJobTitles[] = {"Report: Q3/Q4 \"final\"", "会議資料 2026"};
const char *const kJobNames[] = {"Report_ Q3_Q4 _final_", "会議資料 2026"};

// Which job (0, 1, or 2 for the next job's) a page of a titled run belongs to, the title that
// job has, and the page's name in the spool.
int TitledJob(int page, int pages) {
    return page > pages ? 2 : page <= pages / 2 ? 0 : 1;
}
int TitleOf(int job) {
    return job == 1 ? 1 : 0;
}
std::string TitledPagePath(int page, int pages) {
    int job = page > pages ? 3 : page <= pages / 2 ? 1 : 2;
    int number = job == 2 ? page - pages / 2 : job == 3 ? 1 : page;
    return std::string(kSpool) + "\\VellumTransit" + std::to_string(job) + "-" +
           std::to_string(number) + ".jpg";
}
std::string TitledPage(int page, int pages) {
    std::string jpeg = JobPage(page);
    std::string text = std::string(kPageTitlePrefix) + kJobTitles[TitleOf(TitledJob(page, pages))];
    size_t length = text.size() + 2;
    return jpeg.substr(0, 2) + "\xFF\xFE" + (char)(length >> 8) + (char)(length & 0xFF) + text +
           jpeg.substr(2);
}

class Road : public MachineTest {
  protected:
    bool titled = false; // two titled jobs at once, rather than untitled pages
    int spooled = 0;     // the pages of the run, without the next job's
    std::string PagePath(int page) {
        return titled ? TitledPagePath(page, spooled) : JobPagePath(page);
    }
    std::string Page(int page) { return titled ? TitledPage(page, spooled) : JobPage(page); }
    void Prepare(const Route &route, int pages) {
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
        std::filesystem::create_directories(Documents(route));
        std::filesystem::create_directories(folder + "/media/Scribe/Internal Storage/_nameless");
        for (const auto &[name, bytes] : kOlder)
            std::ofstream(Documents(route) + "/" + name, std::ios::binary) << bytes;
        Load(route.ini);
        spooled = pages;
        for (int page = 1; page <= pages; ++page)
            WriteFile(PagePath(page), Page(page));
    }
    void Reload() {
        std::string error;
        ASSERT_TRUE(simwin::LoadMachine(folder, &error)) << error; // the e-reader back in
    }
    std::string Documents(const Route &route) { return folder + "/" + route.documents; }
    // How often each page is on the e-reader, in the waiting PDF or spooled; what the e-reader
    // held before is unchanged, every other file on it is a whole PDF, nothing is partial or
    // hidden there.
    std::vector<int> Census(const Route &route, const std::string &context, int pages) {
        std::map<std::string, std::string> device = HostFiles(Documents(route));
        for (const auto &[name, bytes] : kOlder)
            EXPECT_EQ(device[name], bytes) << context;
        for (const auto &[name, bytes] : device)
            EXPECT_TRUE(kOlder.count(name) ||
                        (IsWholePdf(bytes) && name.find(".partial") == std::string::npos))
                << name << "\n"
                << context;
        if (!route.hiddenCheck.empty()) {
            for (const auto &entry :
                 std::filesystem::directory_iterator(folder + "/" + route.hiddenCheck))
                EXPECT_EQ(entry.path().filename(), "Internal Storage") << context;
        }
        std::string waiting = ReadFile(kPdf);
        EXPECT_TRUE(waiting.empty() || IsWholePdf(waiting)) << context;
        std::vector<int> copies(pages + 1, 0);
        for (int page = 1; page <= pages; ++page) {
            copies[page] = Exists(PagePath(page)) + Occurrences(waiting, Page(page));
            for (const auto &file : device)
                copies[page] += Occurrences(file.second, Page(page));
        }
        for (const auto &[name, bytes] : device)
            if (titled && !kOlder.count(name))
                CheckTitledDocument(name, bytes, context, pages);
        return copies;
    }
    // A titled run's document: the pages of one job only, named and titled after it.
    void CheckTitledDocument(const std::string &name, const std::string &bytes,
                             const std::string &context, int pages) {
        int job = -1;
        for (int page = 1; page <= pages; ++page) {
            if (Occurrences(bytes, Page(page)) == 0)
                continue;
            EXPECT_TRUE(job < 0 || job == TitledJob(page, spooled)) << name << "\n" << context;
            job = TitledJob(page, spooled);
        }
        ASSERT_GE(job, 0) << name << " holds no page\n" << context;
        EXPECT_NE(ParseDeliveredName(kJobNames[TitleOf(job)], name.c_str()), 0) << name << "\n"
                                                                                << context;
        char title[kPdfTitleStringSize];
        EXPECT_TRUE(
            ReadPdfTitle((const unsigned char *)bytes.data(), bytes.size(), title, sizeof title));
        EXPECT_STREQ(title, kJobTitles[TitleOf(job)]) << name << "\n" << context;
    }
    // A page of the next print job, spooled after the run: a PDF made again of the run's pages
    // would then differ from the one already delivered, and show as pages twice. Then clean
    // runs until the spool is empty (at most three): every page on the e-reader exactly once.
    void RunCleanAndCheck(const Route &route, const std::string &context, int pages) {
        WriteFile(PagePath(pages + 1), Page(pages + 1));
        for (int run = 0; run < 3 && !List(kSpool).empty(); ++run) {
            Reload();
            RunProgram();
        }
        EXPECT_TRUE(List(kSpool).empty()) << context;
        std::vector<int> copies = Census(route, context, pages + 1);
        for (int page = 1; page <= pages + 1; ++page)
            EXPECT_EQ(copies[page], 1) << "page " << page << "\n" << context;
    }
};

class Sweep : public Road, public ::testing::WithParamInterface<std::tuple<int, Ending, bool>> {};

// One fault per run, for every call of every operation (COM and WPD calls among them): each run
// exits 0, holds nothing, leaves no partial PDF and loses no page. A run killed at the nth call
// of any operation (a copy or transfer also cut half way), or one whose power goes there, loses
// what a kill or a power loss loses. Clean runs after either put every page on the e-reader
// exactly once.
TEST_P(Sweep, EveryPageOnceWhateverEndsARun) {
    const Route &route = kRoutes[std::get<0>(GetParam())];
    Ending ending = std::get<1>(GetParam());
    titled = std::get<2>(GetParam());
    const int pages = ending == kFault ? (titled ? 4 : 2) : 12;
    Prepare(route, pages);
    EXPECT_EQ(RunProgram().substr(0, 6), "Adding");
    const std::map<std::string, int> calls = simwin::CallCounts();
    int runs = 0, media = 0;
    for (const auto &[operation, count] : calls) {
        bool com = operation.find("::") != std::string::npos || operation == "CoInitializeEx" ||
                   operation == "CoCreateInstance";
        EXPECT_EQ(simwin::IsMediaOperation(operation), com) << operation; // [faults] takes it
        bool writes =
            operation == "WriteFile" || operation == "CopyFileA" || operation == "IStream::Write";
        std::vector<std::string> modes = {""};
        if (ending == kCrash)
            modes = writes ? std::vector<std::string>{"crash", "crash_half"}
                           : std::vector<std::string>{"crash"};
        if (ending == kPowerLoss)
            modes = {"power_loss"};
        for (int nth = 1; nth <= count; ++nth) {
            for (const std::string &mode : modes) {
                SCOPED_TRACE(operation + " #" + std::to_string(nth) + " " + mode);
                Prepare(route, pages);
                std::string context;
                if (ending == kFault) {
                    simwin::SetFault(operation, nth, "");
                    context = RunProgram();
                    EXPECT_FALSE(Exists(kPdf + ".partial")) << context;
                    std::vector<int> copies = Census(route, context, pages);
                    for (int page = 1; page <= pages; ++page)
                        EXPECT_GE(copies[page], 1) << "page " << page << " lost\n" << context;
                } else {
                    ASSERT_TRUE(RunKilledAt(folder, operation, nth, mode));
                    context = ReadHostFile(folder + "/events.log");
                    std::string end = mode == "power_loss" ? "power loss at " : "crash at ";
                    EXPECT_NE(context.find(end + operation + "\n"), std::string::npos);
                }
                RunCleanAndCheck(route, context, pages);
                ++runs;
                media += com;
            }
        }
    }
    std::cout << "[ sweep    ] " << runs << " runs over " << calls.size() << " operations, "
              << media << " at COM or WPD calls\n";
    EXPECT_GT(runs, ending == kFault ? 50 : route.crashes);
    if (ending == kFault && !route.hiddenCheck.empty()) {
        EXPECT_GT(media, 50);
    }
}

INSTANTIATE_TEST_SUITE_P(Routes, Sweep,
                         ::testing::Combine(::testing::Values(0, 1, 2),
                                            ::testing::Values(kFault, kCrash, kPowerLoss),
                                            ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<int, Ending, bool>> &info) {
                             return std::string(kRoutes[std::get<0>(info.param)].name) + "_" +
                                    kEndingNames[std::get<1>(info.param)] +
                                    (std::get<2>(info.param) ? "_TitledJobs" : "");
                         });

class RouteTest : public Road, public ::testing::WithParamInterface<int> {};

std::string RouteName(const ::testing::TestParamInfo<int> &info) {
    return kRoutes[info.param].name;
}

using LongJob = RouteTest;

// A long job in one run: a PDF of 256 pages a round, in page order, no page offered to a full
// document, each PDF under the next free name, and the e-reader found once and removed once, at
// the end.
TEST_P(LongJob, ArrivesWholeInOneRun) {
    const Route &route = kRoutes[GetParam()];
    const std::pair<int, std::vector<int>> jobs[] = {{300, {256, 44}}, {600, {256, 256, 88}}};
    for (const auto &[pages, documents] : jobs) {
        SCOPED_TRACE(pages);
        Prepare(route, pages);
        std::string transcript = RunProgram();
        EXPECT_EQ(Occurrences(transcript, "Adding "), pages);
        EXPECT_EQ(Occurrences(transcript, "Reached Max Page Number"), 0);
        EXPECT_EQ(Occurrences(transcript, route.copied), (int)documents.size());
        EXPECT_EQ(Occurrences(transcript, route.removed), 1);
        if (!route.hiddenCheck.empty()) {
            // The e-reader is found once a run: the devices listed once (a count, then the
            // list), the e-reader opened once, however many PDFs it takes.
            EXPECT_EQ(simwin::CallCounts()["IPortableDeviceManager::GetDevices"], 2);
            EXPECT_EQ(simwin::CallCounts()["IPortableDevice::Open"], 1);
        }
        std::string end = std::string(route.copied) + route.removed;
        EXPECT_EQ(transcript.substr(transcript.size() - end.size()), end);
        std::map<std::string, std::string> device = HostFiles(Documents(route));
        EXPECT_EQ(device.size(), kOlder.size() + documents.size());
        int page = 1;
        for (size_t d = 0; d < documents.size(); ++d) {
            std::string name = "VellumTransit (" + std::to_string(d + 2) + ").pdf";
            std::string pdf = device[name];
            size_t at = 0;
            for (int k = 0; k < documents[d]; ++k, ++page)
                EXPECT_NE(at = pdf.find(JobPage(page), at), std::string::npos)
                    << name << " " << page;
            EXPECT_EQ(Occurrences(pdf, "/Type/Page/"), documents[d]) << name;
        }
        EXPECT_TRUE(List(kSpool).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Routes, LongJob, ::testing::Values(0, 1, 2), RouteName);

using MediaRoute = RouteTest;

// A PDF whose delete is refused for a whole run stays beside its copy; the next run reads the
// copy back, says the PDF is already there and deletes it. A copy that cannot be read back is
// not taken for it: the PDF waits. The object a killed run was sending, when its bytes end
// before the size it reports and hold the start of the PDF, is a copy cut short: it goes, and
// the PDF is sent again under its name.
TEST_P(MediaRoute, ADeliveredDocumentIsRecognisedByItsBytes) {
    const Route &route = kRoutes[GetParam()];
    const std::string delivered = std::string(route.copied) + route.removed;
    Prepare(route, 2);
    for (int nth = 1; nth <= 100; ++nth)
        simwin::SetFault("DeleteFileA", nth, "32");
    EXPECT_NE(RunProgram().find(delivered), std::string::npos);
    EXPECT_TRUE(Exists(kPdf));
    std::string pdf = ReadFile(kPdf);
    Reload();
    simwin::SetFault("IStream::Read", 1, "0x8003001E");
    EXPECT_EQ(RunProgram(), "Kindle Scribe: Could not copy the PDF (error 0x8003001E).\nKindle "
                            "must be plugged in!\n");
    Reload();
    EXPECT_EQ(RunProgram(),
              "Kindle Scribe: Output already on Kindle!\n" + std::string(route.removed));
    EXPECT_TRUE(List(kSpool).empty());
    std::map<std::string, std::string> device = HostFiles(Documents(route));
    EXPECT_EQ(device.size(), kOlder.size() + 1);
    EXPECT_EQ(device["VellumTransit (2).pdf"], pdf);

    WriteFile(kPdf, pdf);
    WriteFile(std::string(kSpool) + "\\VellumTransit.pdf.sending", "VellumTransit (2).pdf");
    Reload();
    simwin::SetFault("IStream::Read", 1, "short");
    EXPECT_EQ(RunProgram(), delivered);
    EXPECT_EQ(HostFiles(Documents(route)), device);
    EXPECT_TRUE(List(kSpool).empty());
}

INSTANTIATE_TEST_SUITE_P(Routes, MediaRoute, ::testing::Values(1, 2), RouteName);

} // namespace
