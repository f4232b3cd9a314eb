// The fault sweep over the road of one print job to a media e-reader: conversion, then the
// portable device, with the 1st, 2nd, ... call of every operation (COM and WPD calls among
// them) failing in turn, on a device as simwin first modelled them and on one as real e-readers
// present themselves.
#include "tests/support/machine.h"

#include <filesystem>
#include <fstream>
#include <set>

#include "driver/run.h"
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
const std::map<std::string, std::string> kOlder = {{"VellumTransit.pdf", "an older document"},
                                                   {"Notes.txt", "notes"}};

class MediaRoad : public MachineTest {
  protected:
    void Prepare(const std::string &ini) {
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
        std::filesystem::create_directories(Documents());
        std::filesystem::create_directories(folder + "/media/Scribe/Internal Storage/_nameless");
        for (const auto &[name, bytes] : kOlder)
            std::ofstream(Documents() + "/" + name) << bytes;
        Load(ini);
        for (int i = 1; i <= 2; ++i)
            WriteFile(PagePath(i), SyntheticJpeg(1275, 1650, 3, 5000 + i));
    }
    std::string Documents() { return folder + "/media/Scribe/Internal Storage/documents"; }
    std::string PagePath(int page) {
        return std::string(kSpool) + "\\VellumTransit" + std::to_string(page) + ".jpg";
    }
    std::string Run() {
        int code = -1;
        std::string transcript = CaptureStdout([&] { code = RunVellumTransit(); });
        EXPECT_EQ(code, 0);
        EXPECT_EQ(simwin::HeldNow().Total(), 0) << transcript;
        return transcript;
    }
    // The pages whose delete failed after the conversion: they stay spooled beside the PDF that
    // holds them, and so come twice (the conversion's doing, not the delivery's).
    std::set<int> KeptPages() {
        std::set<int> kept;
        for (const std::string &line : simwin::Events())
            for (int i = 1; i <= 2; ++i)
                if (line.rfind("DeleteFileA VellumTransit" + std::to_string(i) + ".jpg fail", 0) ==
                    0)
                    kept.insert(i);
        return kept;
    }
    // What the device held before is unchanged, every other file on it is a whole PDF (nothing
    // half-written under the chosen name, no hidden object), a waiting PDF is whole, and every
    // page is exactly once on the device, in the waiting PDF or still spooled (twice if kept).
    void CheckPages(const std::string &transcript, const std::set<int> &kept) {
        std::string waiting = ReadFile(kPdf);
        std::vector<std::string> delivered = {waiting};
        EXPECT_TRUE(waiting.empty() || waiting.substr(waiting.size() - 7) == "%%EOF\r\n");
        for (const auto &entry : std::filesystem::directory_iterator(Documents())) {
            std::string name = entry.path().filename(), bytes = ReadHostFile(entry.path());
            if (kOlder.count(name)) {
                EXPECT_EQ(bytes, kOlder.at(name));
                continue;
            }
            EXPECT_EQ(bytes.substr(bytes.size() < 7 ? 0 : bytes.size() - 7), "%%EOF\r\n") << name;
            delivered.push_back(bytes);
        }
        for (const auto &entry : std::filesystem::directory_iterator(folder + "/media/Scribe"))
            EXPECT_EQ(entry.path().filename(), "Internal Storage");
        for (int i = 1; i <= 2; ++i) {
            int copies = Exists(PagePath(i));
            for (const std::string &pdf : delivered)
                copies += pdf.find(SyntheticJpeg(1275, 1650, 3, 5000 + i)) != std::string::npos;
            EXPECT_EQ(copies, 1 + (int)kept.count(i)) << "page " << i << "\n" << transcript;
        }
    }
};

// Each run exits 0 and holds nothing, and every page is exactly once where CheckPages looks;
// after a failure on the real device, the next clean run delivers everything, exactly once.
TEST_F(MediaRoad, NoPageOrPdfIsLostWhicheverCallFails) {
    int faults = 0, media = 0;
    for (const std::string &ini : {kModelled, kReal}) {
        Prepare(ini);
        EXPECT_NE(Run().find("Kindle Scribe: Output copied to Kindle!\n"), std::string::npos);
        const std::map<std::string, int> calls = simwin::CallCounts();
        for (const auto &call : calls) {
            bool com = call.first.find("::") != std::string::npos ||
                       call.first == "CoInitializeEx" || call.first == "CoCreateInstance";
            EXPECT_EQ(simwin::IsMediaOperation(call.first), com) << call.first; // [faults] takes it
            for (int nth = 1; nth <= call.second; ++nth, ++faults, media += com) {
                SCOPED_TRACE(call.first + " #" + std::to_string(nth) + "\n" + ini);
                Prepare(ini);
                simwin::SetFault(call.first, nth, "");
                std::string transcript = Run();
                std::set<int> kept = KeptPages();
                CheckPages(transcript, kept);
                if (ini != kReal)
                    continue;
                Load(ini); // the fault gone
                transcript = Run();
                CheckPages(transcript, kept);
                EXPECT_FALSE(Exists(kPdf)) << transcript;
                EXPECT_FALSE(Exists(PagePath(1)) || Exists(PagePath(2))) << transcript;
            }
        }
    }
    std::cout << "[ sweep    ] " << faults << " faults tried, " << media << " of them COM or WPD\n";
    EXPECT_GT(media, 100);
}

} // namespace
