// The JPEG page intake on the simulated machine: the console lines for each kind of spooled file,
// what became of it (added, unusable, refused) and the page it gave.
#include "pdf/jpeg_intake.h"
#include "pdf/pdf_document.h"
#include "simwin/simwin.h"
#include "tests/support/machine.h"

#include <cstdio>
#include <string>

namespace {

const char kName[] = "VellumTransit1.jpg";

// A synthetic baseline JPEG of exactly size bytes.
std::string JpegOfSize(size_t size, int components = 3) {
    size_t header = SyntheticJpeg(1275, 1650, components, 0).size();
    return SyntheticJpeg(1275, 1650, components, size - header);
}

struct IntakeCase {
    const char *name;
    bool present;          // whether the file exists
    std::string bytes;     // its contents
    uint32_t listedSize;   // the size the listing reported
    const char *faultCall; // a simulated call to fail, or null
    int faultNth;
    const char *faultMode;
    int pagesBefore; // pages already in the document
    PageIntakeResult result;
    std::string console;
    int pageBytes; // length of the new page's JPEG; -1 for no new page
    const char *colourSpace;
};

class JpegIntake : public MachineTest {};

TEST_F(JpegIntake, EachKindOfSpooledFile) {
    const std::string jpeg = JpegOfSize(3000);
    const std::string adding = "Adding VellumTransit1.jpg (1275x1650) into PDF\n";
    const std::string noSize = "Warning: Can't obtain image dimension from VellumTransit1.jpg. "
                               "Skipped.\n";
    const std::string readNothing = "Warning: File VellumTransit1.jpg should be 3000 Bytes. But "
                                    "only read in 0 Bytes.\n";
    std::string progressive = jpeg;
    progressive[progressive.find("\xFF\xC0")] = '\xFF';
    progressive[progressive.find("\xFF\xC0") + 1] = '\xC2';
    const IntakeCase cases[] = {
        {"baseline colour", true, jpeg, 3000, nullptr, 0, "", 0, PAGE_ADDED, adding, 3000,
         "DeviceRGB"},
        {"greyscale", true, JpegOfSize(3000, 1), 3000, nullptr, 0, "", 0, PAGE_ADDED, adding, 3000,
         "DeviceGray"},
        // A file that did not come through whole is kept for a later run, not made a page.
        {"short read", true, JpegOfSize(4000), 5000, nullptr, 0, "", 0, PAGE_REFUSED,
         "Warning: File VellumTransit1.jpg should be 5000 Bytes. But only read in 4000 Bytes.\n",
         -1, nullptr},
        {"read cut short by the runtime", true, jpeg, 3000, "fread", 1, "short", 0, PAGE_REFUSED,
         "Warning: File VellumTransit1.jpg should be 3000 Bytes. But only read in 1500 Bytes.\n",
         -1, nullptr},
        {"longer than listed", true, JpegOfSize(6000), 5000, nullptr, 0, "", 0, PAGE_ADDED, adding,
         5000, "DeviceRGB"},
        {"empty", true, "", 0, nullptr, 0, "", 0, PAGE_UNUSABLE, noSize, -1, nullptr},
        {"missing", false, "", 3000, nullptr, 0, "", 0, PAGE_UNUSABLE, readNothing + noSize, -1,
         nullptr},
        {"cannot be opened", true, jpeg, 3000, "fopen", 1, "", 0, PAGE_UNUSABLE,
         readNothing + noSize, -1, nullptr},
        {"read fails", true, jpeg, 3000, "fread", 1, "", 0, PAGE_UNUSABLE, readNothing + noSize, -1,
         nullptr},
        {"progressive", true, progressive, 3000, nullptr, 0, "", 0, PAGE_UNUSABLE, noSize, -1,
         nullptr},
        {"not a JPEG", true, std::string(3000, 'x'), 3000, nullptr, 0, "", 0, PAGE_UNUSABLE, noSize,
         -1, nullptr},
        // No block to read into is a passing shortage, not a bad file: keep it for a later run.
        {"no memory to read it", true, jpeg, 3000, "malloc", 1, "", 0, PAGE_REFUSED,
         readNothing + noSize, -1, nullptr},
        {"no memory for the page", true, jpeg, 3000, "malloc", 2, "", 0, PAGE_REFUSED, adding, -1,
         nullptr},
        // Listed past what any PDF can hold: refused unread, and kept like any refused page.
        {"larger than any PDF", true, jpeg, 2147483648u, nullptr, 0, "", 0, PAGE_REFUSED,
         "Add JPEG into PDF Skipped. Reason: PDF would be larger than 2147483647 bytes.\n", -1,
         nullptr},
        {"page limit", true, jpeg, 3000, nullptr, 0, "", kPdfMaxPages, PAGE_REFUSED,
         adding +
             "Add JPEG into PDF Skipped. Reason: Reached Max Page Number (256) in single PDF.\n",
         -1, nullptr},
    };
    for (const IntakeCase &c : cases) {
        SCOPED_TRACE(c.name);
        Load();
        ASSERT_TRUE(SetCurrentDirectoryA(kSpool));
        const std::string path = std::string(kSpool) + "\\" + kName;
        std::remove(simwin::HostPath(path).c_str());
        if (c.present) {
            WriteFile(path, c.bytes);
        }
        PdfDocument *document = CreatePdfDocument(8.5, 11.0);
        ASSERT_NE(document, nullptr);
        const unsigned char filler[4] = {1, 2, 3, 4};
        for (int page = 0; page < c.pagesBefore; page++) {
            ASSERT_EQ(AddJpegPage(document, 1, 1, 4, filler, 1), 0);
        }
        const uint32_t sizeBefore = document->totalSize;
        if (c.faultCall != nullptr) {
            simwin::SetFault(c.faultCall, c.faultNth, c.faultMode);
        }

        PageIntakeResult result = PAGE_ADDED;
        std::string console =
            CaptureStdout([&] { result = AddJpegFileAsPage(kName, c.listedSize, document); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(console, c.console);
        if (c.pageBytes >= 0) {
            ASSERT_EQ(document->pageCount, (uint32_t)c.pagesBefore + 1);
            const PdfPage *page = document->lastPage;
            ASSERT_EQ(page->jpegSize, c.pageBytes);
            EXPECT_EQ(std::string((const char *)page->jpegData, (size_t)page->jpegSize),
                      c.bytes.substr(0, (size_t)c.pageBytes));
            EXPECT_NE(std::string(page->imageObjectHead)
                          .find(std::string("/ColorSpace/") + c.colourSpace +
                                "/Width 1275/Height 1650/Length " + std::to_string(c.pageBytes) +
                                ">>"),
                      std::string::npos);
        } else {
            EXPECT_EQ(document->pageCount, (uint32_t)c.pagesBefore);
            EXPECT_EQ(document->totalSize, sizeBefore);
        }
        if (c.listedSize == 0) {
            EXPECT_EQ(simwin::CallCounts()["malloc"], c.pagesBefore * 2)
                << "an empty file needs no block";
        }
        WritePdfDocument(document, nullptr, nullptr);
        // Every case releases its block and closes its file.
        EXPECT_EQ(simwin::HeldNow().Total(), 0);
    }
}

} // namespace
