// The PDF document builder: the file to the byte, the cross-reference table against the file
// itself, the page limit, the 2 GiB limit and the refusals that must leave a document unchanged.
#include "pdf/pdf_document.h"
#include "tests/support/machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Every document lives on a simulated machine, whose heap also shows that a released document
// leaves nothing behind.
class PdfBuilder : public MachineTest {
  protected:
    void SetUp() override {
        MachineTest::SetUp();
        Load();
    }
};

const std::string kHeader = std::string("%PDF-1.3\r\n%\xFF") + "VellumTransit" + "\xFF\r\n";
const char kPageLimitMessage[] =
    "Add JPEG into PDF Skipped. Reason: Reached Max Page Number (256) in single PDF.\n";
const char kSizeLimitMessage[] =
    "Add JPEG into PDF Skipped. Reason: PDF would be larger than 2147483647 bytes.\n";

// JPEG-like payload: the builder never looks inside, so any bytes do; seeded so pages differ.
std::vector<unsigned char> Payload(size_t size, unsigned seed) {
    std::vector<unsigned char> bytes(size);
    for (size_t i = 0; i < size; i++) {
        bytes[i] = (unsigned char)((i * 131 + seed * 7 + 1) & 0xFF);
    }
    return bytes;
}

// A Letter document with count pages of a small payload each.
PdfDocument *LetterDocument(int count) {
    PdfDocument *document = CreatePdfDocument(8.5, 11.0);
    for (int page = 0; document != nullptr && page < count; page++) {
        std::vector<unsigned char> bytes = Payload(20, (unsigned)page);
        if (AddJpegPage(document, 100, 200, (int32_t)bytes.size(), bytes.data(), 1) != 0) {
            ADD_FAILURE() << "page " << page << " refused";
        }
    }
    return document;
}

// Finalises and serialises a document the way the driver does; the document is gone after.
struct Serialised {
    uint32_t finalSize = 0;
    int32_t written = -1;
    int result = -1;
    std::string bytes;
};
Serialised Serialise(PdfDocument *document) {
    Serialised out;
    out.finalSize = FinalizePdfDocument(document);
    if (out.finalSize == 0) {
        out.result = WritePdfDocument(document, nullptr, &out.written);
        return out;
    }
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[out.finalSize]);
    out.result = WritePdfDocument(document, buffer.get(), &out.written);
    if (out.written >= 0 && (uint32_t)out.written <= out.finalSize) {
        out.bytes.assign((const char *)buffer.get(), (size_t)out.written);
    }
    return out;
}

// Reads the cross-reference table that "startxref" names and checks that every in-use entry
// points at the first byte of a line "N 0 obj" for its own N; returns the table's size.
testing::AssertionResult XrefPointsAtObjects(const std::string &file, int *objectCount) {
    size_t startxref = file.rfind("startxref\r\n");
    if (startxref == std::string::npos) {
        return testing::AssertionFailure() << "no startxref";
    }
    unsigned long xref = std::strtoul(file.c_str() + startxref + 11, nullptr, 10);
    if (file.compare(xref, 8, "xref\r\n0 ") != 0) {
        return testing::AssertionFailure() << "startxref " << xref << " does not name xref";
    }
    char *end = nullptr;
    long size = std::strtol(file.c_str() + xref + 8, &end, 10);
    if (std::strncmp(end, "\r\n", 2) != 0 || size < 1) {
        return testing::AssertionFailure() << "bad subsection line";
    }
    const char *entries = end + 2;
    if (std::string(entries, 20) != "0000000000 65535 f\r\n") {
        return testing::AssertionFailure() << "bad free entry";
    }
    for (long object = 1; object < size; object++) {
        std::string entry(entries + 20 * object, 20);
        if (entry.compare(10, 10, " 00000 n\r\n") != 0) {
            return testing::AssertionFailure() << "entry " << object << " malformed: " << entry;
        }
        unsigned long offset = std::strtoul(entry.c_str(), nullptr, 10);
        std::string opening = std::to_string(object) + " 0 obj\r\n";
        if (offset == 0 || offset >= file.size() || file[offset - 1] != '\n' ||
            file.compare(offset, opening.size(), opening) != 0) {
            return testing::AssertionFailure()
                   << "entry " << object << " (" << offset << ") does not open object " << object;
        }
    }
    if (file.compare(entries + 20 * size - file.c_str(), 9, "trailer\r\n") != 0) {
        return testing::AssertionFailure() << "table not followed by the trailer";
    }
    *objectCount = (int)size;
    return testing::AssertionSuccess();
}

TEST_F(PdfBuilder, OnePageFileToTheByte) {
    PdfDocument *document = CreatePdfDocument(8.5, 11.0);
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(std::string(document->headerText), kHeader);
    const uint32_t h = (uint32_t)kHeader.size();
    EXPECT_EQ(h, 28u);
    EXPECT_EQ(document->totalSize, h);

    std::vector<unsigned char> jpeg = Payload(1000, 3);
    CaptureStdout();
    EXPECT_EQ(AddJpegPage(document, 1275, 1650, 1000, jpeg.data(), 1), 0);
    EXPECT_EQ(GetCapturedStdout(), "");
    const std::vector<unsigned char> original = jpeg;
    std::fill(jpeg.begin(), jpeg.end(), 0); // the document keeps its own copy

    const std::string head = "\r\n2 0 obj\r\n<</Type/XObject/Subtype/Image/Filter/DCTDecode/"
                             "BitsPerComponent 8/ColorSpace/DeviceRGB/Width 1275/Height 1650/"
                             "Length 1000>>\r\nstream\r\n";
    const std::string objects =
        "\r\nendstream\r\nendobj\r\n"
        "3 0 obj\r\n<</Type/Page/Parent 1 0 R/MediaBox[0 0 612 792]/Contents 4 0 R/Resources 6 0 "
        "R>>\r\nendobj\r\n"
        "4 0 obj\r\n<</Length 5 0 R>>stream\r\n"
        "q\r\n1 0 0 1 0.00 0.00 cm\r\n612.00 0 0 792.00 0 0 cm\r\n/I0 Do\r\nQ\r\n"
        "endstream\r\nendobj\r\n"
        "5 0 obj\r\n62\r\nendobj\r\n"
        "6 0 obj\r\n<</ProcSet[/PDF/ImageC]/XObject<</I0 2 0 R>>>>\r\nendobj\r\n";
    ASSERT_NE(document->firstPage, nullptr);
    EXPECT_EQ(std::string(document->firstPage->imageObjectHead), head);
    EXPECT_EQ(head.size(), 144u);
    EXPECT_EQ(std::string(document->firstPage->pageObjectsText), objects);
    EXPECT_EQ(objects.size(), 321u);

    // Offsets H + 1513 (Pages), H + 2, 1165, 1264, 1379, 1400, 1465 (Catalog); xref at H + 1571.
    const std::string tail = "7 0 obj\r\n<</Type/Catalog/Pages 1 0 R>>\r\nendobj\r\n"
                             "1 0 obj\r\n<</Type /Pages /Kids [3 0 R] /Count 1>>\r\nendobj\r\n"
                             "xref\r\n0 8\r\n"
                             "0000000000 65535 f\r\n"
                             "0000001541 00000 n\r\n"
                             "0000000030 00000 n\r\n"
                             "0000001193 00000 n\r\n"
                             "0000001292 00000 n\r\n"
                             "0000001407 00000 n\r\n"
                             "0000001428 00000 n\r\n"
                             "0000001493 00000 n\r\n"
                             "trailer\r\n<</Root 7 0 R /Size 8>>\r\n"
                             "startxref\r\n1599\r\n%%EOF\r\n";
    Serialised out = Serialise(document);
    EXPECT_EQ(out.finalSize, h + 1800);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.written, (int32_t)(h + 1800));
    EXPECT_EQ(out.bytes,
              kHeader + head + std::string(original.begin(), original.end()) + objects + tail);
    int objectsInTable = 0;
    EXPECT_TRUE(XrefPointsAtObjects(out.bytes, &objectsInTable));
    EXPECT_EQ(objectsInTable, 8);
}

TEST_F(PdfBuilder, EmptyDocumentRendersItsTailButHasNothingToWrite) {
    PdfDocument *document = CreatePdfDocument(8.5, 11.0);
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(FinalizePdfDocument(document), 0u);
    EXPECT_EQ(std::string(document->tailText),
              "2 0 obj\r\n<</Type/Catalog/Pages 1 0 R>>\r\nendobj\r\n"
              "1 0 obj\r\n<</Type /Pages /Kids [] /Count 0>>\r\nendobj\r\n"
              "xref\r\n0 3\r\n"
              "0000000000 65535 f\r\n"
              "0000000076 00000 n\r\n"
              "0000000028 00000 n\r\n"
              "trailer\r\n<</Root 2 0 R /Size 3>>\r\n"
              "startxref\r\n129\r\n%%EOF\r\n");
    int32_t written = -7;
    EXPECT_EQ(WritePdfDocument(document, nullptr, &written), 1);
    EXPECT_EQ(written, -7);
}

TEST_F(PdfBuilder, PagesKeepTheirOrderInFileAndKids) {
    PdfDocument *document = CreatePdfDocument(8.5, 11.0);
    ASSERT_NE(document, nullptr);
    std::vector<std::string> payloads = {"first page bytes", "second page!", "third"};
    for (const std::string &payload : payloads) {
        ASSERT_EQ(AddJpegPage(document, 10, 10, (int32_t)payload.size(),
                              (const unsigned char *)payload.data(), 1),
                  0);
    }
    Serialised out = Serialise(document);
    ASSERT_EQ(out.result, 0);
    size_t previous = 0;
    for (size_t page = 0; page < payloads.size(); page++) {
        size_t at = out.bytes.find(payloads[page]);
        ASSERT_NE(at, std::string::npos);
        EXPECT_GT(at, previous) << "page " << page;
        previous = at;
        // Page k's image is object 5k - 3 and is drawn as /I(k-1) through its resources.
        std::string resources = "<</ProcSet[/PDF/ImageC]/XObject<</I" + std::to_string(page) + " " +
                                std::to_string(5 * page + 2) + " 0 R>>>>";
        EXPECT_NE(out.bytes.find(resources), std::string::npos) << resources;
    }
    EXPECT_NE(out.bytes.find("/Kids [3 0 R 8 0 R 13 0 R] /Count 3>>"), std::string::npos);
    int objectsInTable = 0;
    EXPECT_TRUE(XrefPointsAtObjects(out.bytes, &objectsInTable));
    EXPECT_EQ(objectsInTable, 18);
}

TEST_F(PdfBuilder, GreyscaleAndNarrowPages) {
    // 8.26 inches is 594.72 points, truncated to 594.
    PdfDocument *document = CreatePdfDocument(8.26, 11.0);
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->pageWidth, 594);
    EXPECT_EQ(document->pageHeight, 792);
    std::vector<unsigned char> jpeg = Payload(50, 1);
    ASSERT_EQ(AddJpegPage(document, 7, 9, 50, jpeg.data(), 1), 0);
    ASSERT_EQ(AddJpegPage(document, 7, 9, 50, jpeg.data(), 0), 0);
    const PdfPage *grey = document->lastPage;
    EXPECT_NE(std::string(grey->imageObjectHead).find("/ColorSpace/DeviceGray/Width 7/Height 9/"),
              std::string::npos);
    std::string objects = grey->pageObjectsText;
    EXPECT_NE(objects.find("/ProcSet[/PDF/ImageB]"), std::string::npos);
    EXPECT_NE(objects.find("/MediaBox[0 0 594 792]"), std::string::npos);
    EXPECT_NE(objects.find("\r\n594.00 0 0 792.00 0 0 cm\r\n/I1 Do\r\n"), std::string::npos);

    Serialised out = Serialise(document);
    ASSERT_EQ(out.result, 0);
    EXPECT_NE(out.bytes.find("/ColorSpace/DeviceRGB/"), std::string::npos);
    int objectsInTable = 0;
    EXPECT_TRUE(XrefPointsAtObjects(out.bytes, &objectsInTable));
    EXPECT_EQ(objectsInTable, 13);
}

TEST_F(PdfBuilder, PageLimitRefusesThe257thAndChangesNothing) {
    PdfDocument *full = LetterDocument(kPdfMaxPages);
    PdfDocument *twin = LetterDocument(kPdfMaxPages);
    ASSERT_NE(full, nullptr);
    ASSERT_NE(twin, nullptr);
    ASSERT_EQ(full->pageCount, 256u);

    std::unique_ptr<PdfDocument> before(new PdfDocument);
    std::memcpy(before.get(), full, sizeof(PdfDocument));
    std::vector<unsigned char> jpeg = Payload(20, 999);
    CaptureStdout();
    EXPECT_EQ(AddJpegPage(full, 100, 200, 20, jpeg.data(), 1), 1);
    EXPECT_EQ(GetCapturedStdout(), kPageLimitMessage);
    EXPECT_EQ(std::memcmp(before.get(), full, sizeof(PdfDocument)), 0);

    Serialised refused = Serialise(full);
    Serialised untouched = Serialise(twin);
    ASSERT_EQ(refused.result, 0);
    EXPECT_EQ(refused.finalSize, untouched.finalSize);
    EXPECT_TRUE(refused.bytes == untouched.bytes);
    EXPECT_NE(refused.bytes.find("\r\n1282 0 obj\r\n<</Type/Catalog/Pages 1 0 R>>"),
              std::string::npos);
    EXPECT_NE(refused.bytes.find("/Count 256>>"), std::string::npos);
    EXPECT_NE(refused.bytes.find("xref\r\n0 1283\r\n"), std::string::npos);
    EXPECT_NE(refused.bytes.find("<</Root 1282 0 R /Size 1283>>"), std::string::npos);
    int objectsInTable = 0;
    EXPECT_TRUE(XrefPointsAtObjects(refused.bytes, &objectsInTable));
    EXPECT_EQ(objectsInTable, 1283);
}

// The finished file may be exactly 2,147,483,647 bytes and not one more. The documents are real;
// only totalSize is moved up, as if earlier pages had been that large. The finished size of the
// page in question is learnt from a twin document moved up a little less and finalised for real
// (near the limit, so that its "startxref" number has as many digits).
TEST_F(PdfBuilder, FileSizeLimitIsExact) {
    const uint32_t nearLimit = (uint32_t)kPdfMaxFileSize - 1000000;
    // Page counts where the digits of some number in the tail grow.
    for (int pagesBefore : {0, 1, 2, 9, 19, 20, 99, 199, 200, 255}) {
        SCOPED_TRACE("pages before: " + std::to_string(pagesBefore));
        std::vector<unsigned char> jpeg = Payload(1000, 5);

        PdfDocument *reference = LetterDocument(pagesBefore);
        reference->totalSize += nearLimit;
        ASSERT_EQ(AddJpegPage(reference, 1275, 1650, 1000, jpeg.data(), 1), 0);
        const uint32_t finished = FinalizePdfDocument(reference);
        WritePdfDocument(reference, nullptr, nullptr);
        ASSERT_GT(finished, nearLimit);
        const uint32_t room = (uint32_t)kPdfMaxFileSize - finished;

        PdfDocument *atLimit = LetterDocument(pagesBefore);
        atLimit->totalSize += nearLimit + room;
        CaptureStdout();
        EXPECT_EQ(AddJpegPage(atLimit, 1275, 1650, 1000, jpeg.data(), 1), 0);
        EXPECT_EQ(GetCapturedStdout(), "");
        EXPECT_EQ(FinalizePdfDocument(atLimit), (uint32_t)kPdfMaxFileSize);
        WritePdfDocument(atLimit, nullptr, nullptr);

        PdfDocument *over = LetterDocument(pagesBefore);
        over->totalSize += nearLimit + room + 1;
        std::unique_ptr<PdfDocument> before(new PdfDocument);
        std::memcpy(before.get(), over, sizeof(PdfDocument));
        CaptureStdout();
        EXPECT_EQ(AddJpegPage(over, 1275, 1650, 1000, jpeg.data(), 1), 1);
        EXPECT_EQ(GetCapturedStdout(), kSizeLimitMessage);
        EXPECT_EQ(std::memcmp(before.get(), over, sizeof(PdfDocument)), 0);
        WritePdfDocument(over, nullptr, nullptr);
    }
}

TEST_F(PdfBuilder, HugePageIsRefusedBeforeItsBytesAreRead) {
    PdfDocument *document = CreatePdfDocument(8.5, 11.0);
    ASSERT_NE(document, nullptr);
    unsigned char few[16] = {0xFF, 0xD8};
    CaptureStdout();
    EXPECT_EQ(AddJpegPage(document, 1, 1, kPdfMaxFileSize, few, 1), 1);
    EXPECT_EQ(GetCapturedStdout(), kSizeLimitMessage);
    EXPECT_EQ(document->pageCount, 0u);
    EXPECT_EQ(document->totalSize, (uint32_t)kHeader.size());
    WritePdfDocument(document, nullptr, nullptr);
}

TEST_F(PdfBuilder, RefusesBadArgumentsSilently) {
    unsigned char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    PdfDocument *document = CreatePdfDocument(8.5, 11.0);
    ASSERT_NE(document, nullptr);
    std::unique_ptr<PdfDocument> before(new PdfDocument);
    std::memcpy(before.get(), document, sizeof(PdfDocument));

    CaptureStdout();
    EXPECT_EQ(AddJpegPage(nullptr, 1, 1, 8, bytes, 1), 1);
    EXPECT_EQ(AddJpegPage(document, 1, 1, -1, bytes, 1), 1);
    EXPECT_EQ(AddJpegPage(document, 1, 1, 8, nullptr, 1), 1);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(std::memcmp(before.get(), document, sizeof(PdfDocument)), 0);

    EXPECT_EQ(FinalizePdfDocument(nullptr), 0u);
    int32_t written = -7;
    EXPECT_EQ(WritePdfDocument(nullptr, bytes, &written), 1);
    EXPECT_EQ(written, -7);

    // Once finalised, the tail is fixed: no page may follow, and a second call changes nothing.
    ASSERT_EQ(AddJpegPage(document, 1, 1, 8, bytes, 1), 0);
    const uint32_t size = FinalizePdfDocument(document);
    EXPECT_EQ(AddJpegPage(document, 1, 1, 8, bytes, 1), 1);
    EXPECT_EQ(FinalizePdfDocument(document), size);
    WritePdfDocument(document, nullptr, nullptr);

    // A page size that is negative, not a number or beyond 32 bits gives no document.
    EXPECT_EQ(CreatePdfDocument(-1.0, 11.0), nullptr);
    EXPECT_EQ(CreatePdfDocument(8.5, std::nan("")), nullptr);
    EXPECT_EQ(CreatePdfDocument(3e7, 11.0), nullptr);
}

TEST_F(PdfBuilder, UnfinalisedDocumentIsReleasedButNotWritten) {
    PdfDocument *document = LetterDocument(2);
    ASSERT_NE(document, nullptr);
    std::vector<unsigned char> buffer(document->totalSize + 4096, 0xAB);
    int32_t written = -7;
    EXPECT_EQ(WritePdfDocument(document, buffer.data(), &written), 1);
    EXPECT_EQ(written, -7);
    EXPECT_EQ(buffer[0], 0xAB);
}

} // namespace
