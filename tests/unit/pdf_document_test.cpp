// The PDF document builder: the file to the byte, its cross-reference table, page and size limits.
#include "pdf/pdf_document.h"
#include "tests/support/machine.h"

namespace {

class PdfBuilder : public MachineTest { // the builder's heap is the simulated machine's
    void SetUp() override { MachineTest::SetUp(), Load(); }
};

const char kSizeLimit[] =
    "Add JPEG into PDF Skipped. Reason: PDF would be larger than 2147483647 bytes.\n";

// Adds jpeg (any bytes: the builder never looks inside) as a page of 1275 x 1650 pixels.
int Add(PdfDocument *document, const std::string &jpeg, unsigned char isColour = 1) {
    return AddJpegPage(document, 1275, 1650, (int32_t)jpeg.size(),
                       (const unsigned char *)jpeg.data(), isColour);
}

// A Letter document of count 20-byte pages "AAA...", "BBB...", ..., every second one greyscale.
PdfDocument *Pages(int count) {
    PdfDocument *document = CreatePdfDocument(8.5, 11.0);
    for (int page = 0; page < count; page++)
        EXPECT_EQ(Add(document, std::string(20, 'A' + page % 26), page % 2 == 0), 0) << page;
    return document;
}

// Finalises and writes a document of pages as the driver does, releasing it; "" when that fails.
std::string Serialise(PdfDocument *document) {
    std::string file(FinalizePdfDocument(document), '\0');
    int32_t written = -1, result = WritePdfDocument(document, (unsigned char *)&file[0], &written);
    return result == 0 && written == (int32_t)file.size() ? file : "";
}

// The file from "xref" on as it should be: each entry at the line "N 0 obj" of its own object;
// a titled document's Info is its last object, behind the Catalog.
std::string XrefFor(const std::string &file, int size, bool titled = false) {
    std::string end = "xref\r\n0 " + std::to_string(size) + "\r\n0000000000 65535 f\r\n";
    for (int object = 1; object < size; object++) {
        auto at = std::to_string(file.find("\n" + std::to_string(object) + " 0 obj\r\n") + 1);
        end += std::string(10 - at.size(), '0') + at + " 00000 n\r\n";
    }
    std::string info = titled ? " /Info " + std::to_string(size - 1) + " 0 R" : "";
    return end + "trailer\r\n<</Root " + std::to_string(size - (titled ? 2 : 1)) + " 0 R /Size " +
           std::to_string(size) + info + ">>\r\nstartxref\r\n" +
           std::to_string(file.rfind("xref\r\n0 ")) + "\r\n%%EOF\r\n";
}

TEST_F(PdfBuilder, OnePageFileToTheByte) {
    PdfDocument *document = CreatePdfDocument(8.5, 11.0);
    std::string jpeg = SyntheticJpeg(1275, 1650, 3, 1000).substr(0, 1000);
    // Offsets H + 1513 (Pages), H + 2, 1165, 1264, 1379, 1400, 1465 (Catalog); xref at H + 1571.
    const std::string file =
        "%PDF-1.3\r\n%\xFFVellumTransit\xFF\r\n\r\n2 0 obj\r\n<</Type/XObject/Subtype/Image/"
        "Filter/DCTDecode/BitsPerComponent 8/ColorSpace/DeviceRGB/Width 1275/Height 1650/"
        "Length 1000>>\r\nstream\r\n" +
        jpeg +
        "\r\nendstream\r\nendobj\r\n"
        "3 0 obj\r\n<</Type/Page/Parent 1 0 R/MediaBox[0 0 612 792]/Contents 4 0 R/Resources 6 0 "
        "R>>\r\nendobj\r\n4 0 obj\r\n<</Length 5 0 R>>stream\r\nq\r\n1 0 0 1 0.00 0.00 cm\r\n"
        "612.00 0 0 792.00 0 0 cm\r\n/I0 Do\r\nQ\r\nendstream\r\nendobj\r\n5 0 obj\r\n62\r\n"
        "endobj\r\n6 0 obj\r\n<</ProcSet[/PDF/ImageC]/XObject<</I0 2 0 R>>>>\r\nendobj\r\n"
        "7 0 obj\r\n<</Type/Catalog/Pages 1 0 R>>\r\nendobj\r\n"
        "1 0 obj\r\n<</Type /Pages /Kids [3 0 R] /Count 1>>\r\nendobj\r\nxref\r\n0 8\r\n"
        "0000000000 65535 f\r\n0000001541 00000 n\r\n0000000030 00000 n\r\n0000001193 00000 n\r\n"
        "0000001292 00000 n\r\n0000001407 00000 n\r\n0000001428 00000 n\r\n0000001493 00000 n\r\n"
        "trailer\r\n<</Root 7 0 R /Size 8>>\r\nstartxref\r\n1599\r\n%%EOF\r\n";
    EXPECT_EQ(CaptureStdout([&] { EXPECT_EQ(Add(document, jpeg), 0); }), "");
    jpeg.assign(1000, '\0');                              // the document keeps its own copy
    EXPECT_EQ(FinalizePdfDocument(document), 28u + 1800); // H + 1800
    EXPECT_EQ(Add(document, "late"), 1);                  // the tail is fixed once rendered
    EXPECT_EQ(Serialise(document), file);                 // finalising again changes nothing
}

TEST_F(PdfBuilder, PageLimitRefusesThe257thAndChangesNothing) {
    PdfDocument *full = Pages(kPdfMaxPages);
    EXPECT_EQ(CaptureStdout([&] { EXPECT_EQ(Add(full, "one too many"), 1); }),
              "Add JPEG into PDF Skipped. Reason: Reached Max Page Number (256) in single PDF.\n");
    const std::string file = Serialise(full);
    EXPECT_TRUE(file == Serialise(Pages(kPdfMaxPages)));
    EXPECT_EQ(file.substr(file.rfind("xref\r\n0 ")), XrefFor(file, 1283));
    for (const char *part : {"/Kids [3 0 R 8 0 R 13 0 R ", " 1278 0 R] /Count 256>>",
                             "/DeviceGray/Width 1275/Height 1650/Length 20>>\r\nstream\r\nBB",
                             "11 0 obj\r\n<</ProcSet[/PDF/ImageB]/XObject<</I1 7 0 R>>>>"})
        EXPECT_NE(file.find(part), std::string::npos) << part; // page order; the grey page
}

// The finished file may be 2,147,483,647 bytes, not one more. totalSize is moved up as if earlier
// pages were that large; the room is learnt from a twin finalised a little below the limit.
TEST_F(PdfBuilder, FileSizeLimitIsExact) {
    const std::string jpeg(1000, 'j');
    const uint32_t near = (uint32_t)kPdfMaxFileSize - 1000000;
    for (int pagesBefore : {0, 1, 2, 9, 19, 20, 99, 199, 200, 255}) { // where tail numbers grow
        SCOPED_TRACE(pagesBefore);
        PdfDocument *twin = Pages(pagesBefore), *document = Pages(pagesBefore);
        twin->totalSize += near;
        ASSERT_EQ(Add(twin, jpeg), 0);
        document->totalSize += near + (kPdfMaxFileSize - FinalizePdfDocument(twin)) + 1;
        WritePdfDocument(twin, nullptr, nullptr);
        const std::string before((const char *)document, sizeof *document);
        EXPECT_EQ(CaptureStdout([&] {
                      EXPECT_EQ(Add(document, jpeg), 1); // one byte over
                      EXPECT_TRUE(std::string((const char *)document, sizeof *document) == before);
                      document->totalSize -= 1;
                      EXPECT_EQ(Add(document, jpeg), 0); // at the limit
                  }),
                  kSizeLimit);
        EXPECT_EQ(FinalizePdfDocument(document), (uint32_t)kPdfMaxFileSize);
        WritePdfDocument(document, nullptr, nullptr);
    }
}

TEST_F(PdfBuilder, EmptyDocumentHasATailButNoPage) {
    PdfDocument *document = CreatePdfDocument(8.5, 11.0);
    const unsigned char few[16] = {0xFF, 0xD8}; // a page alone too large is refused unread
    EXPECT_EQ(
        CaptureStdout([&] { EXPECT_EQ(AddJpegPage(document, 1, 1, kPdfMaxFileSize, few, 1), 1); }),
        kSizeLimit);
    EXPECT_EQ(FinalizePdfDocument(document), 0u);
    EXPECT_EQ(std::string(document->tailText),
              "2 0 obj\r\n<</Type/Catalog/Pages 1 0 R>>\r\nendobj\r\n1 0 obj\r\n<</Type /Pages "
              "/Kids [] /Count 0>>\r\nendobj\r\nxref\r\n0 3\r\n0000000000 65535 f\r\n"
              "0000000076 00000 n\r\n0000000028 00000 n\r\ntrailer\r\n<</Root 2 0 R /Size 3>>\r\n"
              "startxref\r\n129\r\n%%EOF\r\n");
    WritePdfDocument(document, nullptr, nullptr);
}

// A titled document: its Info object between the last page and the Catalog, with its own
// cross-reference entry, named by the trailer; the title as an escaped literal when it is
// printable ASCII, else as UTF-16BE with its byte-order mark; read back from the file's tail.
// Everything before the Info object is the untitled document's.
TEST_F(PdfBuilder, ATitledDocumentHasItsInfoDictionary) {
    const struct {
        const char *title, *string;
    } cases[] = {
        {"Report (draft) C:\\new", "(Report \\(draft\\) C:\\\\new)"},
        {"\xE4\xBC\x9A\xE8\xAD\xB0 \xF0\x9F\x93\x96", "<FEFF4F1A8B700020D83DDCD6>"},
        {"tab\there", "<FEFF00740061006200090068006500720065>"},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.title);
        PdfDocument *titled = Pages(2);
        ASSERT_EQ(SetPdfDocumentTitle(titled, test.title), 0);
        const std::string file = Serialise(titled), plain = Serialise(Pages(2));
        const std::string info =
            "13 0 obj\r\n<</Title " + std::string(test.string) + "/Producer (VellumTransit)>>\r\n";
        size_t at = file.find(info);
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(file.substr(0, at), plain.substr(0, plain.find("12 0 obj"))); // the pages
        EXPECT_EQ(file.substr(file.rfind("xref\r\n0 ")), XrefFor(file, 14, true));
        char title[kPdfTitleStringSize];
        EXPECT_EQ(
            ReadPdfTitle((const unsigned char *)file.data(), file.size(), title, sizeof title), 1);
        EXPECT_STREQ(title, test.title);
        EXPECT_EQ(
            ReadPdfTitle((const unsigned char *)plain.data(), plain.size(), title, sizeof title),
            0);
    }
    // A full document takes the title too (the Info is object 1,283); a finalised one no more.
    PdfDocument *full = Pages(kPdfMaxPages);
    EXPECT_EQ(SetPdfDocumentTitle(full, "Manual (part 2)"), 0);
    const std::string file = Serialise(full);
    EXPECT_EQ(file.substr(file.rfind("xref\r\n0 ")), XrefFor(file, 1284, true));
    PdfDocument *late = Pages(1);
    FinalizePdfDocument(late);
    EXPECT_EQ(SetPdfDocumentTitle(late, "late"), 1);
    EXPECT_EQ(Serialise(late).find("/Title"), std::string::npos);
}

} // namespace
