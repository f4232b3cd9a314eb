// The JPEG page intake on simwin: for each kind of spooled file, the console, the result, the page.
#include "pdf/jpeg_intake.h"
#include "pdf/pdf_document.h"
#include "simwin/simwin.h"
#include "tests/support/machine.h"

namespace {

using JpegIntake = MachineTest;

TEST_F(JpegIntake, EachKindOfSpooledFile) {
    const std::string colour = SyntheticJpeg(1275, 1650, 3, 6000).substr(0, 6000);
    const std::string grey = SyntheticJpeg(1275, 1650, 1, 3000).substr(0, 3000);
    const char *rgb = "/DeviceRGB/Width 1275/Height 1650/";
    const std::string adding = "Adding 1.jpg (1275x1650) into PDF\n";
    const std::string noSize = "Warning: Can't obtain image dimension from 1.jpg. Skipped.\n";
    const std::string cmyk = SyntheticJpeg(1275, 1650, 4, 1000);
    const std::string adobeCmyk = SyntheticJpeg(1275, 1650, 4, 1000)
                                      .insert(20, std::string("\xFF\xEE\0\x0E"
                                                              "Adobe\0\x64\0\0\0\0\x02",
                                                              16));
    const std::string readNone =
        "Warning: File 1.jpg should be 3000 Bytes. But only read in 0 Bytes.\n" + noSize;
    const struct {
        const char *name;
        std::string bytes;
        uint32_t listed; // the size the listing reported
        PageIntakeResult result;
        std::string console;
        const char *page = nullptr, *faults = ""; // the new page's image; [faults]
        int pagesBefore = 0;
    } cases[] = {
        {"colour", colour.substr(0, 3000), 3000, PAGE_ADDED, adding, rgb},
        {"greyscale", grey, 3000, PAGE_ADDED, adding, "/DeviceGray/Width 1275/Height 1650/"},
        // A file of another size than listed is kept whole for a later run, not cut short.
        {"longer than listed", colour, 5000, PAGE_REFUSED, ""},
        {"short read", colour.substr(0, 4000), 5000, PAGE_REFUSED,
         "Warning: File 1.jpg should be 5000 Bytes. But only read in 4000 Bytes.\n"},
        {"empty", "", 0, PAGE_UNUSABLE, noSize},
        {"not a JPEG", std::string(3000, 'x'), 3000, PAGE_UNUSABLE, noSize},
        // A failure that may pass never costs a page: the file stays for a later run.
        {"read fails", colour, 3000, PAGE_REFUSED, readNone, nullptr, "fread = 1"},
        {"open fails", colour, 3000, PAGE_REFUSED, readNone, nullptr, "fopen = 1"},
        {"its end unconfirmed", colour.substr(0, 3000), 3000, PAGE_REFUSED, "", nullptr,
         "fread = 2"},
        {"no memory to read it", colour, 3000, PAGE_REFUSED, readNone, nullptr, "malloc = 1"},
        // Listed as empty: still being written then, or 4 GiB, which the listing shows as 0.
        {"listed empty, whole now", colour, 0, PAGE_REFUSED, ""},
        {"listed empty, open fails", "", 0, PAGE_REFUSED, noSize, nullptr, "fopen = 1"},
        {"listed empty, read fails", "", 0, PAGE_REFUSED, noSize, nullptr, "fread = 1"},
        {"CMYK", cmyk, (uint32_t)cmyk.size(), PAGE_ADDED, adding,
         "/DeviceCMYK/Width 1275/Height 1650/"},
        {"Adobe CMYK", adobeCmyk, (uint32_t)adobeCmyk.size(), PAGE_ADDED, adding,
         "/DeviceCMYK/Decode[1 0 1 0 1 0 1 0]/Width 1275/Height 1650/"},
        {"larger than any PDF", colour, 2147483648u, PAGE_REFUSED,
         "Add JPEG into PDF Skipped. Reason: PDF would be larger than 2147483647 bytes.\n"},
        {"page limit", colour, 6000, PAGE_REFUSED,
         adding +
             "Add JPEG into PDF Skipped. Reason: Reached Max Page Number (256) in single PDF.\n",
         nullptr, "", kPdfMaxPages},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Load(std::string("[faults]\n") + c.faults + "\n");
        WriteFile("C:\\1.jpg", c.bytes); // in the current directory
        PdfDocument *document = CreatePdfDocument(8.5, 11.0);
        for (int page = 0; page < c.pagesBefore; page++)
            ASSERT_EQ(AddJpegPage(document, 1, 1, 3, (const unsigned char *)"abc", 1), 0);
        EXPECT_EQ(CaptureStdout(
                      [&] { EXPECT_EQ(AddJpegFileAsPage("1.jpg", c.listed, document), c.result); }),
                  c.console);
        EXPECT_EQ(document->pageCount, c.pagesBefore + (c.page ? 1u : 0u));
        if (c.page != nullptr) { // the listed bytes, with their colour space and pixel size
            const PdfPage *page = document->lastPage;
            EXPECT_EQ(std::string((const char *)page->jpegData, page->jpegSize),
                      c.bytes.substr(0, c.listed));
            EXPECT_NE(std::strstr(page->imageObjectHead, c.page), nullptr);
        }
        EXPECT_TRUE(c.listed > 0 || simwin::CallCounts()["malloc"] == 0) << "empty: no block";
        WritePdfDocument(document, nullptr, nullptr);
        EXPECT_EQ(simwin::HeldNow().Total(), 0); // the block released, the file closed
    }

    // A page still being written is not read cut short: it waits whole for a later run.
    Load();
    WriteFile("C:\\1.jpg", colour.substr(0, 3000));
    FILE *writer = SimFopen("1.jpg", "ab");
    PdfDocument *document = CreatePdfDocument(8.5, 11.0);
    EXPECT_EQ(
        CaptureStdout([&] { EXPECT_EQ(AddJpegFileAsPage("1.jpg", 3000, document), PAGE_REFUSED); }),
        readNone);
    SimFclose(writer);
    WritePdfDocument(document, nullptr, nullptr);
}

} // namespace

namespace {

// Each spooled page on the page its density gives: its MediaBox and the matrix it is drawn with.
TEST_F(JpegIntake, EachPageOnThePageOfItsDensity) {
    auto at = [](int width, int height, unsigned char units, uint16_t dpi) {
        const char density[5] = {(char)units, (char)(dpi >> 8), (char)dpi, (char)(dpi >> 8),
                                 (char)dpi};
        return SyntheticJpeg(width, height, 1).replace(13, 5, density, 5);
    };
    const std::string letter = "MediaBox[0 0 612 792]|612.00 0 0 792.00 0 0 cm";
    const std::pair<std::string, std::string> cases[] = {
        {SyntheticJpeg(1275, 1650), letter}, // a page as the front ends have always made it
        {at(2480, 3508, 0, 300), letter},
        {at(2550, 3300, 1, 300), letter},
        {at(2480, 3508, 1, 300), "MediaBox[0 0 595 841]|595.00 0 0 841.00 0 0 cm"},
        {at(1240, 1754, 1, 150), "MediaBox[0 0 595 841]|595.00 0 0 841.00 0 0 cm"},
        {at(3300, 2550, 1, 300), "MediaBox[0 0 792 612]|792.00 0 0 612.00 0 0 cm"},
        {at(2480, 3508, 1, 1), letter}, // 2480 inches: no density
    };
    Load();
    PdfDocument *document = CreatePdfDocument(8.5, 11.0); // one document of mixed sizes
    for (const auto &[page, expected] : cases) {
        const std::string &jpeg = page; // a lambda may not capture a structured binding
        WriteFile("C:\\1.jpg", jpeg);
        CaptureStdout([&] {
            EXPECT_EQ(AddJpegFileAsPage("1.jpg", (uint32_t)jpeg.size(), document), PAGE_ADDED);
        });
        const std::string text = document->lastPage->pageObjectsText;
        const size_t box = text.find("MediaBox["), matrix = text.find(" 0 0 cm\r\n/I");
        ASSERT_NE(box, std::string::npos);
        ASSERT_NE(matrix, std::string::npos);
        const size_t start = text.rfind("cm\r\n", matrix) + 4;
        EXPECT_EQ(text.substr(box, text.find(']', box) + 1 - box) + "|" +
                      text.substr(start, matrix + 7 - start),
                  expected);
    }
    EXPECT_EQ(document->pageCount, sizeof cases / sizeof *cases);
    WritePdfDocument(document, nullptr, nullptr);
}

} // namespace
