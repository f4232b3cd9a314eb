// The fault sweep over the road of one print job to a media e-reader: conversion, then the
// portable device, with the 1st, 2nd, ... call of every operation (COM and WPD calls among
// them) failing in turn.
#include "tests/support/machine.h"

#include <filesystem>

#include "driver/run.h"
#include "simwin/simwin_internal.h"

namespace {

const std::string kPdf = std::string(kSpool) + "\\VellumTransit.pdf";
const std::string kIni = "[media Scribe]\nfriendly_name = Kindle Scribe\ndescription = Kindle "
                         "Scribe\nstorages = Internal Storage\noptimal_buffer = 4096\n";

class MediaRoad : public MachineTest {
  protected:
    void Prepare() {
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
        Load(kIni);
        std::filesystem::create_directories(Documents());
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
        return transcript;
    }
};

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// Each run exits 0 and holds nothing; the device holds at most whole copies and never a hidden
// half-written object; every page is on the device, in a whole waiting PDF, or still spooled.
TEST_F(MediaRoad, NoPageOrPdfIsLostWhicheverCallFails) {
    Prepare();
    EXPECT_TRUE(Contains(Run(), "Kindle Scribe: Output copied to Kindle!\n"));
    const std::map<std::string, int> calls = simwin::CallCounts();
    int faults = 0, media = 0;
    for (const auto &call : calls) {
        bool com = call.first.find("::") != std::string::npos || call.first == "CoInitializeEx" ||
                   call.first == "CoCreateInstance";
        EXPECT_EQ(simwin::IsMediaOperation(call.first), com) << call.first; // [faults] takes it
        for (int nth = 1; nth <= call.second; ++nth, ++faults, media += com) {
            SCOPED_TRACE(call.first + " #" + std::to_string(nth));
            Prepare();
            simwin::SetFault(call.first, nth, "");
            std::string transcript = Run(), waiting = ReadFile(kPdf), delivered;
            EXPECT_EQ(simwin::HeldNow().Total(), 0) << transcript;
            for (const auto &entry : std::filesystem::directory_iterator(Documents())) {
                delivered = ReadHostFile(entry.path().string());
                EXPECT_EQ(delivered.substr(delivered.size() - 7), "%%EOF\r\n");
            }
            for (const auto &entry : std::filesystem::directory_iterator(folder + "/media/Scribe"))
                EXPECT_EQ(entry.path().filename(), "Internal Storage");
            EXPECT_TRUE(waiting.empty() || waiting.substr(waiting.size() - 7) == "%%EOF\r\n");
            if (Contains(transcript, "Output copied to Kindle!")) { // the copy was read back
                EXPECT_FALSE(delivered.empty()) << transcript;
            }
            for (int i = 1; i <= 2; ++i)
                EXPECT_TRUE(Contains(delivered, SyntheticJpeg(1275, 1650, 3, 5000 + i)) ||
                            Contains(waiting, SyntheticJpeg(1275, 1650, 3, 5000 + i)) ||
                            Exists(PagePath(i)))
                    << "page " << i << " lost\n"
                    << transcript;
        }
    }
    std::cout << "[ sweep    ] " << faults << " faults tried, " << media << " of them COM or WPD\n";
    EXPECT_GT(media, 30);
}

} // namespace
