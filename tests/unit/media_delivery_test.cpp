// Delivery to media e-readers on simwin's portable devices: which device is recognised, how far
// the walk goes, the free name beside older copies, and every failure keeping the PDF with
// nothing partial on the device, after which the next run delivers.
#include "tests/support/machine.h"

#include <filesystem>
#include <fstream>
#include <map>

#include "common/delivered_name.h"
#include "driver/run.h"

namespace {

namespace fs = std::filesystem;

const std::string kPdfPath = std::string(kSpool) + "\\VellumTransit.pdf";
const std::string kKindle = "friendly_name = Kindle Scribe\ndescription = Kindle Scribe\n";
const char kNotPluggedIn[] = "Kindle must be plugged in!\n";
const char kDelivered[] =
    "Kindle Scribe: Output copied to Kindle!\nKindle Scribe can be unplugged.\n";

// A [media NAME] section; keys without storages get one "Internal Storage".
std::string Reader(const std::string &name, const std::string &keys = kKindle) {
    std::string storages =
        keys.find("storages") == std::string::npos ? "storages = Internal Storage\n" : "";
    return "[media " + name + "]\npnp_id = \\\\?\\usb#vid_1949&pid_" + name + "#g0001\n" + keys +
           storages + "optimal_buffer = 1000\n";
}

// 2500 bytes that are not one byte repeated: pieces out of order would show.
std::string Pdf(int run = 0) {
    std::string bytes = "%PDF-1.3\r\n";
    for (int i = 0; bytes.size() < 2500; ++i)
        bytes += (char)('A' + (i * 7 + run) % 26);
    return bytes;
}

class MediaDelivery : public MachineTest {
  protected:
    // A machine from ini with a waiting PDF and the device folders given (below media/).
    void Prepare(const std::string &ini, const std::vector<std::string> &folders,
                 const std::string &pdf = Pdf()) {
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
        Load(ini);
        for (const std::string &each : folders)
            fs::create_directories(folder + "/media/" + each);
        WriteFile(kPdfPath, pdf);
    }
    // Loads ini again, keeping every file (a fault gone, a device changed).
    void Reload(const std::string &ini) {
        std::ofstream(folder + "/machine.ini") << ini;
        std::string error;
        ASSERT_TRUE(simwin::LoadMachine(folder, &error)) << error;
    }
    std::string Run() {
        int code = -1;
        std::string transcript = CaptureStdout([&] { code = RunVellumTransit(); });
        EXPECT_EQ(code, 0);
        EXPECT_EQ(simwin::HeldNow().Total(), 0) << transcript;
        return transcript;
    }
    // Every file below media/, hidden ones included, by path, with its bytes.
    std::map<std::string, std::string> Devices() {
        std::map<std::string, std::string> files;
        if (fs::exists(folder + "/media"))
            for (const auto &entry : fs::recursive_directory_iterator(folder + "/media"))
                if (entry.is_regular_file())
                    files[entry.path().string().substr(folder.size() + 7)] =
                        ReadHostFile(entry.path().string());
        return files;
    }
    void Put(const std::string &path, const std::string &bytes) {
        std::ofstream(folder + "/media/" + path, std::ios::binary) << bytes;
    }
};

// The description decides, compared exactly as the drive scan compares vendors; the friendly
// name only names the device on the console (the description when it is empty).
TEST_F(MediaDelivery, TheFirstDeviceDescribedAsAKindleIsTheOne) {
    const std::string doc = "/Internal Storage/documents";
    const std::string pdf = doc + "/VellumTransit.pdf";
    const std::tuple<std::string, std::vector<std::string>, std::string, std::string> cases[] = {
        {Reader("S", "friendly_name = Anna's\ndescription = Kindle Scribe\n"),
         {"S" + doc},
         "Anna's: Output copied to Kindle!\nAnna's can be unplugged.\n",
         "S" + pdf},
        {Reader("P", "friendly_name = Kindle\ndescription = Phone X1\n"),
         {"P" + doc},
         kNotPluggedIn,
         ""},
        {Reader("S", "description = kindle scribe\n"), {"S" + doc}, kNotPluggedIn, ""},
        {Reader("P", "friendly_name = My phone\ndescription = Phone X1\n") +
             Reader("S", "description = Kindle Scribe\n"),
         {"P" + doc, "S" + doc},
         kDelivered,
         "S" + pdf},
        {Reader("O", "friendly_name = Oasis\ndescription = Kindle Oasis\n") + Reader("S"),
         {"O" + doc, "S" + doc},
         "Oasis: Output copied to Kindle!\nOasis can be unplugged.\n",
         "O" + pdf},
    };
    for (const auto &[ini, folders, console, delivered] : cases) {
        SCOPED_TRACE(ini);
        Prepare(ini, folders);
        EXPECT_EQ(Run(), console);
        std::map<std::string, std::string> expected;
        if (!delivered.empty())
            expected[delivered] = Pdf();
        EXPECT_EQ(Devices(), expected);
        EXPECT_EQ(Exists(kPdfPath), delivered.empty());
    }
}

// Device object, its storages, a folder at a storage's root: nothing deeper is searched.
TEST_F(MediaDelivery, TheDocumentsFolderIsFoundAtAStoragesRootOnly) {
    const std::string two = "storages = Internal Storage | SD Card\n";
    const char kNoFolder[] = "Kindle Scribe: No documents folder.\nKindle must be plugged in!\n";
    const std::tuple<std::string, std::vector<std::string>, std::string> cases[] = {
        {two, {"S/Internal Storage/books", "S/SD Card/documents"}, "S/SD Card/documents"},
        {two,
         {"S/Internal Storage/documents", "S/SD Card/documents"},
         "S/Internal Storage/documents"},
        {"", {"S/Internal Storage/DOCUMENTS"}, "S/Internal Storage/DOCUMENTS"},
        {"", {"S/Internal Storage/books/documents"}, ""},
        {"", {"S/Internal Storage", "S/documents"}, ""}, // a folder outside every storage
        {"", {"S/Internal Storage/file"}, ""},           // "documents" below is a file
    };
    for (const auto &[storages, folders, documents] : cases) {
        SCOPED_TRACE(folders.back());
        Prepare(Reader("S", kKindle + storages), folders);
        if (folders.back() == "S/Internal Storage/file")
            Put("S/Internal Storage/documents", "a file, not a folder");
        auto before = Devices();
        EXPECT_EQ(Run(), documents.empty() ? kNoFolder : kDelivered);
        if (!documents.empty())
            before[documents + "/VellumTransit.pdf"] = Pdf();
        EXPECT_EQ(Devices(), before);
        EXPECT_EQ(Exists(kPdfPath), documents.empty());
    }
    EXPECT_NE(simwin::TraceText().find("        \"Internal Storage\": no documents folder\n"),
              std::string::npos);
}

// Nothing on the device is replaced: each delivery takes the first free name, in any case.
TEST_F(MediaDelivery, OlderCopiesStayAndTheNewOneTakesTheNextFreeName) {
    Prepare(Reader("S"), {"S/Internal Storage/documents"});
    const std::string doc = "S/Internal Storage/documents/";
    Put(doc + "VellumTransit.pdf", "first");
    Put(doc + "vellumtransit (2).PDF", "second");
    Put(doc + "VellumTransit (4).pdf", "fourth");
    Put(doc + "VellumTransit (3).pdf.txt", "notes");
    auto expected = Devices();
    EXPECT_EQ(Run(), kDelivered);
    expected[doc + "VellumTransit (3).pdf"] = Pdf();
    EXPECT_EQ(Devices(), expected);
    WriteFile(kPdfPath, Pdf(1));
    EXPECT_EQ(Run(), kDelivered);
    expected[doc + "VellumTransit (5).pdf"] = Pdf(1);
    EXPECT_EQ(Devices(), expected);
    std::vector<std::string> events = simwin::Events();
    EXPECT_NE(std::find(events.begin(), events.end(),
                        "IStream::Commit Internal Storage\\documents\\VellumTransit (5).pdf ok"),
              events.end());
}

// Each failure: its exact lines, the PDF kept, nothing new or hidden left on the device, and
// nothing held (Run checks); then the fault is gone and the next run delivers.
TEST_F(MediaDelivery, AFailedCopyKeepsThePdfAndTheNextRunDelivers) {
    const std::string plain = Reader("S");
    auto failed = [](const char *code) {
        return std::string("Kindle Scribe: Could not copy the PDF (error ") + code + ").\n" +
               kNotPluggedIn;
    };
    const std::pair<std::string, std::string> cases[] = {
        {"[machine]\nwpd = missing\n" + plain, kNotPluggedIn},
        {"[faults]\nCoCreateInstance = 1\n" + plain, kNotPluggedIn},
        {"[faults]\nIPortableDeviceManager::GetDevices = 2\n" + plain, kNotPluggedIn},
        {Reader("S", kKindle + "open = 0x80070005\n"), failed("0x80070005")},
        {plain + "[faults]\nIPortableDeviceContent::EnumObjects = 2:0x8007001F\n",
         failed("0x8007001F")},
        {Reader("S", kKindle + "free_bytes = 1500\n"), failed("0x80030070")},
        {plain + "[faults]\nIStream::Write = 3:0x8003001D\n", failed("0x8003001D")},
        {plain + "[faults]\nIStream::Commit = 1:0x80070079\n", failed("0x80070079")},
        {plain + "[faults]\nIStream::Write = 2:short\n", failed("0x8007000D")}, // size read back
        {plain, failed("0x80070050")}, // every name up to (999) taken
    };
    for (const auto &[ini, console] : cases) {
        SCOPED_TRACE(ini);
        Prepare(ini, {"S/Internal Storage/documents"});
        if (console == failed("0x80070050")) {
            Put("S/Internal Storage/documents/VellumTransit.pdf", "1");
            for (int n = 2; n <= kDeliveredNameLast; ++n)
                Put("S/Internal Storage/documents/VellumTransit (" + std::to_string(n) + ").pdf",
                    "n");
        }
        auto expected = Devices();
        EXPECT_EQ(Run(), console);
        EXPECT_EQ(ReadFile(kPdfPath), Pdf());
        std::string name = "S/Internal Storage/documents/VellumTransit.pdf";
        EXPECT_EQ(Devices(), expected);
        std::string events;
        for (const std::string &line : simwin::Events())
            if (line.compare(0, 14, "IStream::Write") != 0)
                events += line + "\n";
        bool written = console == failed("0x80030070") || console == failed("0x8003001D") ||
                       console == failed("0x80070079");
        size_t revert =
            events.find("IStream::Revert Internal Storage\\documents\\VellumTransit.pdf ok");
        EXPECT_EQ(revert != std::string::npos, written) << events;
        if (console == failed("0x8007000D")) {
            EXPECT_NE(events.find("IPortableDeviceContent::Delete Internal "
                                  "Storage\\documents\\VellumTransit.pdf ok"),
                      std::string::npos)
                << events;
        }
        if (console == failed("0x80070050"))
            continue;
        Reload(plain);
        EXPECT_EQ(Run(), kDelivered);
        EXPECT_FALSE(Exists(kPdfPath));
        expected[name] = Pdf();
        EXPECT_EQ(Devices(), expected);
    }

    // A committed object whose identifier cannot be had is found by its name and checked: one
    // copy, not one more with each run.
    Prepare(plain + "[faults]\nIPortableDeviceDataStream::GetObjectID = 1\n",
            {"S/Internal Storage/documents"});
    auto expected = Devices();
    EXPECT_EQ(Run(), kDelivered);
    EXPECT_FALSE(Exists(kPdfPath));
    expected["S/Internal Storage/documents/VellumTransit.pdf"] = Pdf();
    EXPECT_EQ(Devices(), expected);
}

} // namespace
