// Delivery to media e-readers on simwin's portable devices: which device is recognised, how far
// the walk goes, the free name beside older copies, and every failure keeping the PDF with
// nothing partial on the device, after which the next run delivers.
#include "tests/support/runs.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>

#include "common/delivered_name.h"
#include "driver/run.h"

namespace {

namespace fs = std::filesystem;

const std::string kPdfPath = std::string(kSpool) + "\\VellumTransit.pdf";
const std::string kKindle = "friendly_name = Kindle Scribe\ndescription = Kindle Scribe\n";
const char kNotPluggedIn[] = "Kindle must be plugged in!\n";
const char kDelivered[] =
    "Kindle Scribe: Output copied to Kindle!\nKindle Scribe can be unplugged.\n";

// A [media NAME] section: keys, and for those not among them an e-reader's pnp_id, one
// "Internal Storage" and pieces of 1000 bytes.
std::string Reader(const std::string &name, const std::string &keys = kKindle) {
    std::string section = "[media " + name + "]\n" + keys;
    const std::pair<std::string, std::string> defaults[] = {
        {"pnp_id", "\\\\?\\usb#vid_1949&pid_" + name + "#g0001"},
        {"storages", "Internal Storage"},
        {"optimal_buffer", "1000"}};
    for (const auto &[key, value] : defaults)
        if (keys.find(key + " = ") == std::string::npos)
            section += key + " = " + value + "\n";
    return section;
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
    // A machine from ini with a waiting PDF, the device folders given and files (paths below
    // media/), made before the machine loads, as its keys may name them.
    void Prepare(const std::string &ini, const std::vector<std::string> &folders,
                 const std::string &pdf = Pdf(),
                 const std::map<std::string, std::string> &files = {}) {
        ASSERT_EQ(system(("rm -rf '" + folder + "'/*").c_str()), 0);
        for (const std::string &each : folders)
            fs::create_directories(folder + "/media/" + each);
        for (const auto &[path, bytes] : files)
            Put(path, bytes);
        Load(ini);
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
    std::string EventText() {
        std::string text;
        for (const std::string &line : simwin::Events())
            text += line + "\n";
        return text;
    }
};

// The description decides, compared exactly as the drive scan compares vendors; without
// "Kindle" in it, a device of vendor 1949 whose model begins so (the maker's tablets report
// "Fire"). Only devices of that vendor or description are opened, each closed again unless
// chosen. The console name: the friendly name, else the description, else the model.
TEST_F(MediaDelivery, TheFirstDeviceDescribedAsAKindleIsTheOne) {
    const std::string mtp = "description = MTP USB Device\n", fire = "model = Fire\n";
    const std::string phone = "pnp_id = \\\\?\\usb#vid_18d1&pid_4ee1#p1\n";
    const std::string scribe = "model = Kindle Scribe\n", desc = "description = Kindle Scribe\n";
    // ini; the devices, each with a documents folder; the one delivered to, by its console
    // name; how many devices were opened
    const std::tuple<std::string, std::string, char, std::string, int> cases[] = {
        {Reader("S", "friendly_name = Anna's\n" + desc), "S", 'S', "Anna's", 1},
        {Reader("P", "friendly_name = Kindle\ndescription = Phone X1\n"), "P", 0, "", 1},
        {Reader("S", "description = kindle scribe\n"), "S", 0, "", 1},
        {Reader("P", "friendly_name = My phone\ndescription = Phone X1\n") + Reader("S", desc),
         "PS", 'S', "Kindle Scribe", 2},
        {Reader("O", "friendly_name = Oasis\ndescription = Kindle Oasis\n") + Reader("S"), "OS",
         'O', "Oasis", 1},
        {Reader("S", "friendly_name = Scribe\n" + mtp + scribe), "S", 'S', "Scribe", 1},
        {Reader("S", "pnp_id = USB\\VID_1949&PID_9981\\G1\nmodel = Kindle Paperwhite\n"), "S", 'S',
         "Kindle Paperwhite", 1},
        {Reader("F", mtp + fire), "F", 0, "", 1},
        {Reader("F", mtp + fire) + Reader("S", mtp + scribe), "FS", 'S', "MTP USB Device", 2},
        {Reader("P", phone + mtp + "model = Kindle Phone\n"), "P", 0, "", 0},
        // a friendly name that fills the buffer only without its terminator is not read
        {Reader("S", "friendly_name = " + std::string(259, 'x') + "y\n" + desc), "S", 'S',
         "Kindle Scribe", 1},
    };
    for (const auto &[ini, devices, target, name, opened] : cases) {
        SCOPED_TRACE(ini);
        std::vector<std::string> folders;
        for (char device : devices)
            folders.push_back(device + std::string("/Internal Storage/documents"));
        Prepare(ini, folders);
        std::map<std::string, std::string> expected;
        if (target)
            expected[folders[devices.find(target)] + "/VellumTransit.pdf"] = Pdf();
        EXPECT_EQ(Run(), target
                             ? name + ": Output copied to Kindle!\n" + name + " can be unplugged.\n"
                             : kNotPluggedIn);
        EXPECT_EQ(Devices(), expected);
        EXPECT_EQ(Exists(kPdfPath), !target);
        EXPECT_EQ(Occurrences(EventText(), "IPortableDevice::Open "), opened);
        EXPECT_EQ(Occurrences(EventText(), "IPortableDevice::Close "), opened);
        EXPECT_EQ(Occurrences(simwin::TraceText(), "    Model: "),
                  opened); // for each device opened
    }
}

// Device object, its storages, a folder at a storage's root: nothing deeper is searched. A
// folder named exactly "documents" wins over one in other letters on any storage (a
// case-sensitive device reads only it); an object that cannot be read is passed over, and the
// walk goes on to the last identifier, however few each call hands out.
TEST_F(MediaDelivery, TheDocumentsFolderIsFoundAtAStoragesRootOnly) {
    const std::string two = "storages = Internal Storage | SD Card\n";
    const char kNoFolder[] = "Kindle Scribe: No documents folder.\nKindle must be plugged in!\n";
    const std::string in = "S/Internal Storage/", sd = "S/SD Card/";
    // keys, folders, the documents folder used
    const std::tuple<std::string, std::vector<std::string>, std::string> cases[] = {
        {two, {in + "Documents", sd + "documents"}, sd + "documents"},
        {two, {in + "documents", sd + "Documents"}, in + "documents"},
        {"", {in + "Documents", in + "documents"}, in + "documents"},
        {"unreadable = Internal Storage/audible\n",
         {in + "audible", in + "documents"},
         in + "documents"},
        {two + "unreadable = Internal Storage\n",
         {in + "documents", sd + "documents"},
         sd + "documents"},
        {"enum_batch = 1\n", {in + "books", in + "documents"}, in + "documents"},
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

// A name is free only once every child of documents is judged: by its original file name, or
// else by its object name with or without ".pdf" (MTP devices drop the extension), in any case,
// however few identifiers each call hands out. A child that cannot be read leaves none free.
TEST_F(MediaDelivery, EveryChildOfDocumentsIsJudgedBeforeANameIsFree) {
    const std::string doc = "S/Internal Storage/documents/", path = "Internal Storage/documents/";
    std::map<std::string, std::string> forty = {{doc + "VellumTransit.pdf", "old"}};
    for (int i = 10; i < 49; ++i)
        forty[doc + "Note" + std::to_string(i) + ".txt"] = "n";
    // keys, files, the name the PDF gets (or the failure's code)
    const std::tuple<std::string, std::map<std::string, std::string>, std::string> cases[] = {
        {"enum_batch = 5\n", forty, "VellumTransit (2).pdf"},
        {"enum_batch = 5\nno_original_name = " + path + "VellumTransit.pdf\n", forty,
         "VellumTransit (2).pdf"},
        {"object_names = file\nno_original_name = " + path + "vellumtransit.PDF\n",
         {{doc + "vellumtransit.PDF", "old"}},
         "VellumTransit (2).pdf"},
        {"no_original_name = " + path + "VELLUMTRANSIT (2).txt\n",
         {{doc + "VellumTransit.pdf", "1"}, {doc + "VELLUMTRANSIT (2).txt", "2"}},
         "VellumTransit (3).pdf"},
        {"no_original_name = " + path + "VellumTransit (2).pdf\n",
         {{doc + "VellumTransit (2).pdf", "2"}},
         "VellumTransit.pdf"},
        {"unreadable = " + path + "Note.txt\n", {{doc + "Note.txt", "n"}}, "0x8007001F"},
    };
    for (const auto &[keys, files, outcome] : cases) {
        SCOPED_TRACE(keys);
        Prepare(Reader("S", kKindle + keys), {doc}, Pdf(), files);
        std::map<std::string, std::string> expected = files;
        if (outcome[0] == '0') {
            EXPECT_EQ(Run(), "Kindle Scribe: Could not copy the PDF (error " + outcome + ").\n" +
                                 kNotPluggedIn);
        } else {
            EXPECT_EQ(Run(), kDelivered);
            expected[doc + outcome] = Pdf();
        }
        EXPECT_EQ(Devices(), expected);
    }
}

// The object is dated by the time of the copy (the device shows it as the file's time) and
// written in pieces of the size the device asks for, but never more than 4 MiB.
TEST_F(MediaDelivery, TheObjectIsDatedAndWrittenInPiecesOfAtMost4MiB) {
    Prepare(Reader("S", kKindle + "optimal_buffer = 16777216\n"), {"S/Internal Storage/documents"},
            Pdf() + std::string(4 << 20, 'z'));
    EXPECT_EQ(Run(), kDelivered);
    EXPECT_EQ(Occurrences(EventText(), ".pdf 4194304 ok\nIStream::Write"), 1);
    struct stat info = {};
    stat((folder + "/media/S/Internal Storage/documents/VellumTransit.pdf").c_str(), &info);
    EXPECT_EQ(info.st_mtime, 1730799000); // simwin's clock: 5 November 2024, 09:30:00
}

// Each failure: its exact lines, the PDF kept, nothing new or hidden left on the device, and
// nothing held (Run checks); then the fault is gone and the next run delivers.
TEST_F(MediaDelivery, AFailedCopyKeepsThePdfAndTheNextRunDelivers) {
    const std::string plain = Reader("S");
    // A device that makes the object at the create call, and keeps it after a Revert.
    const std::string onCreate = Reader("S", kKindle + "transfer = on_create\n");
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
        {Reader("S", kKindle + "transfer = on_create\nfree_bytes = 1500\n"), failed("0x80030070")},
        {onCreate + "[faults]\nIStream::Write = 3:0x8003001D\n", failed("0x8003001D")},
        {onCreate + "[faults]\nIStream::Commit = 1:0x80070079\n", failed("0x80070079")},
        {onCreate + "[faults]\nIStream::Write = 2:short\n", failed("0x8007000D")},
        {onCreate + "[faults]\nIPortableDeviceProperties::GetValues = 4:0x8007001F\n",
         failed("0x8007001F")}, // the size read back
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
        Reload(ini.find("on_create") != std::string::npos ? onCreate : plain);
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

    // Only a failing delete leaves a partial object (the first piece), and the report says so.
    Prepare(onCreate + "[faults]\nIStream::Write = 2\nIPortableDeviceContent::Delete = 1\n",
            {"S/Internal Storage/documents"});
    EXPECT_EQ(Run(), failed("0x80004005"));
    EXPECT_EQ(Devices()["S/Internal Storage/documents/VellumTransit.pdf"], Pdf().substr(0, 1000));
    EXPECT_NE(simwin::TraceText().find("\"VellumTransit.pdf\" may be left on the device"),
              std::string::npos);
}

} // namespace
