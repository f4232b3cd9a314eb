// Whole runs in-process: conversion and delivery on simulated machines with and without an
// e-reader, and the fault sweep over the road of one print job.
#include "tests/support/machine.h"

#include <fstream>

#include "driver/run.h"

namespace {

const std::string kPdf = std::string(kSpool) + "\\VellumTransit.pdf";
const std::string kDelivered = "E:\\documents\\VellumTransit.pdf";

// An e-reader at E:; driveKeys go into its drive section.
std::string EreaderIni(const std::string &driveKeys = "") {
    return "[drive E]\n"
           "type = removable\n"
           "label = Reader\n"
           "vendor = Kindle\n"
           "product = Internal Storage\n"
           "bus_type = 7\n"
           "removable_media = 1\n"
           "device_number = 1\n" +
           driveKeys +
           "[interface reader]\n"
           "class = disk\n"
           "path = \\\\?\\usbstor#disk&ven_r#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}\n"
           "device_number = 1\n"
           "instance_id = USBSTOR\\DISK&VEN_R\\1\n"
           "removal_policy = 3\n"
           "parent_id = USB\\VID_0AB1&PID_0C22\\1\n";
}
const std::string kEreader = EreaderIni();

std::string SpoolPath(int page) {
    return std::string(kSpool) + "\\VellumTransit" + std::to_string(page) + ".jpg";
}

std::string Page(int number) {
    return SyntheticJpeg(1275, 1650, 3, 100 + number);
}

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

const char kDelivery[] = "E:\\Output copied to Kindle!\n"
                         "Get drive type...\n"
                         "E:\\ - Removable\r\n"
                         "Media in Drive E has been ejected safely.\n";

class Delivery : public MachineTest {
  protected:
    // The PDF on the e-reader, read past simwin: once ejected, the drive's media are gone for
    // the rest of the run.
    std::string Delivered() { return ReadHostFile(folder + "/E/documents/VellumTransit.pdf"); }

    // Loads the machine and spools pages 1..pages.
    void Prepare(const std::string &ini, int pages, bool documents = true) {
        Load(ini);
        if (documents && Contains(ini, "[drive E]"))
            MakeDirectory("E:\\documents");
        for (int i = 1; i <= pages; ++i)
            WriteFile(SpoolPath(i), Page(i));
    }

    std::string Run() {
        int code = -1;
        std::string transcript = CaptureStdout([&] { code = RunVellumTransit(); });
        EXPECT_EQ(code, 0);
        return transcript;
    }

    // The console lines of converting pages 1..pages of Page().
    std::string Converted(int pages) {
        std::string lines;
        size_t size = 0;
        for (int i = 1; i <= pages; ++i)
            lines += "Adding VellumTransit" + std::to_string(i) + ".jpg (1275x1650) into PDF\n";
        std::string pdf = Exists(kPdf) ? ReadFile(kPdf) : Delivered();
        size = pdf.size();
        return lines + "=> Generating PDF File...Done\nWritten PDF " + std::to_string(size) + "/" +
               std::to_string(size) + ".\n";
    }
};

// The road of one print job: two pages in, one PDF on the e-reader, everything local gone.
TEST_F(Delivery, OnePrintJobReachesTheEreader) {
    Prepare(kEreader, 2);
    std::string transcript = Run();
    EXPECT_EQ(transcript, Converted(2) + kDelivery);
    std::string delivered = Delivered();
    EXPECT_LT(delivered.find(Page(1)), delivered.find(Page(2)));
    EXPECT_TRUE(List(kSpool).empty());
    const std::vector<std::string> expected = {
        "MoveFileExA VellumTransit.pdf.partial VellumTransit.pdf ok",
        "CopyFileA VellumTransit.pdf E:\\documents\\VellumTransit.pdf ok",
        "CreateFileA \\\\.\\E: GENERIC_READ|GENERIC_WRITE ok",
        "DeviceIoControl FSCTL_LOCK_VOLUME \\\\.\\E: ok",
        "DeviceIoControl FSCTL_DISMOUNT_VOLUME \\\\.\\E: ok",
        "DeviceIoControl IOCTL_STORAGE_MEDIA_REMOVAL allow \\\\.\\E: ok",
        "DeviceIoControl IOCTL_STORAGE_EJECT_MEDIA \\\\.\\E: ok",
        "CloseHandle \\\\.\\E: ok",
        "DeleteFileA VellumTransit.pdf ok"};
    std::vector<std::string> events = simwin::Events();
    auto at = events.begin();
    for (const std::string &line : expected) {
        at = std::find(at, events.end(), line);
        ASSERT_NE(at, events.end()) << "missing, or out of order: " << line;
    }
}

TEST_F(Delivery, WithoutAnEreaderThePdfWaitsAndTheNextRunOnlyDelivers) {
    Prepare("", 1);
    std::string transcript = Run();
    EXPECT_EQ(transcript, Converted(1) + "Kindle must be plugged in!\n");
    std::string waiting = ReadFile(kPdf);
    ASSERT_FALSE(waiting.empty());

    // Pages spooled meanwhile wait for the run after the delivery.
    WriteFile(SpoolPath(7), Page(7));
    std::ofstream(folder + "/machine.ini") << kEreader;
    std::string error;
    ASSERT_TRUE(simwin::LoadMachine(folder, &error)) << error;
    MakeDirectory("E:\\documents");
    EXPECT_EQ(Run(), kDelivery);
    EXPECT_EQ(Delivered(), waiting);
    EXPECT_EQ(List(kSpool), std::vector<std::string>{"VellumTransit7.jpg"});
    EXPECT_EQ(simwin::CallCounts().count("_findfirst"), 0u);
}

// A copy that fails keeps the PDF waiting; the root printed before the message is the
// program's long-standing wording.
TEST_F(Delivery, AFailedCopyKeepsThePdf) {
    struct Case {
        const char *name;
        std::string ini;
        bool documents;
    };
    const Case cases[] = {
        {"no documents folder", EreaderIni(), false},
        {"the device is full", EreaderIni("free_bytes = 100\n"), true},
        {"the copy is refused", EreaderIni() + "[faults]\nCopyFileA = 1\n", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Prepare(c.ini, 1, c.documents);
        std::string transcript = Run();
        EXPECT_TRUE(Contains(transcript, ".\nE:\\Kindle must be plugged in!\n")) << transcript;
        EXPECT_TRUE(Exists(kPdf));
        EXPECT_TRUE(Delivered().empty());
        EXPECT_EQ(simwin::CallCounts().count("GetDriveTypeA"), 0u); // no removal tried
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
    }
}

TEST_F(Delivery, AnEarlierPdfOnTheDeviceIsReplaced) {
    Prepare(kEreader, 1);
    WriteFile(kDelivered, "an older document");
    std::string transcript = Run();
    EXPECT_EQ(transcript, Converted(1) + kDelivery);
    EXPECT_TRUE(Contains(Delivered(), Page(1)));
}

// Once the PDF is on the device, the local copy goes whatever the removal did.
TEST_F(Delivery, TheLocalPdfGoesEvenWhenRemovalFails) {
    const std::pair<const char *, const char *> cases[] = {
        {"lock_refusals = always\n", "E:\\Output copied to Kindle!\nGet drive type...\n"
                                     "E:\\ - Removable\r\n"},
        {"eject = fail\n", "E:\\Output copied to Kindle!\nGet drive type...\nE:\\ - Removable\r\n"
                           "Media in Drive E can be safely removed.\n"},
        {"close = fail\n", "E:\\Output copied to Kindle!\nGet drive type...\n"
                           "E:\\ - Removable\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        Prepare("", 1);
        Run(); // no e-reader yet: the PDF waits
        std::ofstream(folder + "/machine.ini") << EreaderIni(c.first);
        std::string error;
        ASSERT_TRUE(simwin::LoadMachine(folder, &error)) << error;
        MakeDirectory("E:\\documents");
        EXPECT_EQ(Run(), c.second);
        EXPECT_FALSE(Exists(kPdf));
        EXPECT_FALSE(Delivered().empty());
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
    }
}

TEST_F(Delivery, TheEmptyListingScansNoDrive) {
    Prepare(kEreader, 0);
    EXPECT_EQ(Run(), "VellumTransit*.jpg\nNo *.jpg files in temp directory!\n");
    EXPECT_EQ(simwin::CallCounts().count("GetLogicalDriveStringsA"), 0u);
}

// The road of one print job with the 1st, 2nd, ... call of every operation failing in turn,
// one fault per run: each run exits 0, holds nothing, and loses no page: every spooled page is
// on the e-reader, in a complete waiting PDF, still in the spool, or was reported unusable
// (a page file that could not be read).
TEST_F(Delivery, NoPageIsLostWhicheverCallFails) {
    const int kPages = 2;
    Prepare(kEreader, kPages);
    Run();
    const std::map<std::string, int> calls = simwin::CallCounts();
    int faults = 0;
    for (const auto &call : calls) {
        for (int nth = 1; nth <= call.second; ++nth) {
            SCOPED_TRACE(call.first + " #" + std::to_string(nth));
            ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
            Prepare(kEreader, kPages);
            simwin::SetFault(call.first, nth, "");
            std::string transcript = Run();
            ++faults;
            simwin::Held held = simwin::HeldNow();
            EXPECT_EQ(held.Total(), 0) << transcript;
            std::string waiting = ReadFile(kPdf), delivered = Delivered();
            for (const std::string *pdf : {&waiting, &delivered}) {
                if (!pdf->empty()) {
                    EXPECT_EQ(pdf->substr(pdf->size() - 7), "%%EOF\r\n");
                }
            }
            EXPECT_FALSE(Exists(kPdf + ".partial"));
            for (int i = 1; i <= kPages; ++i) {
                std::string name = "VellumTransit" + std::to_string(i) + ".jpg";
                bool kept = Contains(delivered, Page(i)) || Contains(waiting, Page(i)) ||
                            Exists(SpoolPath(i)) ||
                            Contains(transcript, "Can't obtain image dimension from " + name);
                EXPECT_TRUE(kept) << name << " lost\n" << transcript;
            }
        }
    }
    RecordProperty("faults_tried", faults);
    std::cout << "[ sweep    ] " << faults << " faults tried over " << calls.size()
              << " operations\n";
    EXPECT_GT(faults, 50);
}

} // namespace
