// What the printer advertises is what it takes: every advertised resolution, raster type and
// page size passes the raster decoder (and a pixel more does not), every advertised format
// and compression passes the request checks, operations-supported names exactly the served
// operations; and printer-uuid is a version 5 UUID of the computer name.
#include "tests/support/machine.h"

#include "printer/capabilities.h"
#include "printer/job_operations.h"
#include "printer/operations.h"
#include "printer/printer.h"
#include "printer/raster.h"
#include "printer/uuid.h"

#include <set>

namespace {

// The printer's attributes, all of them.
IppMessage Advertised() {
    Printer printer;
    IppMessage response;
    AddPrinterAttributes(printer, {}, &response);
    return response;
}

// The values of one advertised attribute (none when it is missing).
std::vector<IppValue> Values(const IppMessage &message, const char *name) {
    const IppAttribute *attribute = FindIppAttribute(message, IPP_TAG_PRINTER, name);
    return attribute ? attribute->values : std::vector<IppValue>();
}

// A 32-bit number at offset of bytes.
uint32_t At(const std::string &bytes, size_t offset) {
    const unsigned char *p = (const unsigned char *)bytes.data() + offset;
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

// What the decoder says of a document's sync word and first page header.
RasterResult Header(uint32_t resolution, const std::string &type, uint32_t width, uint32_t height) {
    std::string header(kRasterHeaderBytes, '\0');
    bool grey = type == "sgray_8";
    auto put = [&](size_t offset, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            header[offset + i] = (char)(value >> (24 - 8 * i));
    };
    for (auto field :
         {std::make_pair(276u, resolution), std::make_pair(280u, resolution),
          std::make_pair(372u, width), std::make_pair(376u, height), std::make_pair(384u, 8u),
          std::make_pair(388u, grey ? 8u : 24u), std::make_pair(392u, width * (grey ? 1 : 3)),
          std::make_pair(400u, grey ? 18u : 19u), std::make_pair(420u, grey ? 1u : 3u)})
        put(field.first, field.second);
    RasterDecoder decoder;
    StartRasterDecoder(
        &decoder, [](void *, const RasterPage &) { return 1; }, nullptr);
    std::string document = "RaS2" + header;
    return FeedRaster(&decoder, (const unsigned char *)document.data(), document.size());
}

TEST(Capabilities, EveryAdvertisedPageIsTakenAndNoLargerOne) {
    IppMessage advertised = Advertised();
    std::vector<IppValue> resolutions = Values(advertised, "printer-resolution-supported");
    std::vector<IppValue> types = Values(advertised, "pwg-raster-document-type-supported");
    std::vector<IppValue> sizes = Values(advertised, "media-size-supported");
    ASSERT_FALSE(resolutions.empty());
    ASSERT_FALSE(types.empty());
    ASSERT_FALSE(sizes.empty());
    for (const IppValue &resolution : resolutions) {
        uint32_t dpi = At(resolution.bytes, 0);
        uint32_t widest = 0, tallest = 0;
        for (const IppValue &size : sizes) {
            // hundredths of a millimetre to pixels, rounded up
            auto pixels = [&](const char *member) {
                int32_t length = IppValueInteger(FindIppMember(size, member)->values[0], 0);
                return (uint32_t)(((uint64_t)length * dpi + 2539) / 2540);
            };
            widest = std::max(widest, pixels("x-dimension"));
            tallest = std::max(tallest, pixels("y-dimension"));
        }
        for (const IppValue &type : types) {
            EXPECT_EQ(Header(dpi, type.bytes, widest, tallest), RASTER_OK) << dpi << type.bytes;
            EXPECT_EQ(Header(dpi, type.bytes, widest + 1, tallest), RASTER_PAGE_TOO_LARGE);
            EXPECT_EQ(Header(dpi, type.bytes, widest, tallest + 1), RASTER_PAGE_TOO_LARGE);
        }
    }
    for (uint32_t dpi : {72u, 200u, 600u})
        EXPECT_EQ(Header(dpi, "sgray_8", 100, 100), RASTER_UNSUPPORTED_HEADER) << dpi;
    // The colour modes are the raster types' own.
    EXPECT_EQ(Values(advertised, "print-color-mode-supported").size(), types.size());
}

TEST(Capabilities, EveryAdvertisedFormatAndCompressionIsTaken) {
    IppMessage advertised = Advertised();
    auto check = [](const char *name, uint8_t tag, const std::string &value) {
        IppMessage request, response;
        AddIppText(AddIppAttribute(&request, IPP_TAG_OPERATION, name), tag, value);
        return CheckDocumentAttributes(request, &response) ? (uint16_t)IPP_OK : response.code;
    };
    for (const IppValue &format : Values(advertised, "document-format-supported"))
        EXPECT_EQ(check("document-format", IPP_TAG_MIME_TYPE, format.bytes), IPP_OK);
    for (const IppValue &compression : Values(advertised, "compression-supported"))
        EXPECT_EQ(check("compression", IPP_TAG_KEYWORD, compression.bytes), IPP_OK);
    EXPECT_EQ(check("document-format", IPP_TAG_MIME_TYPE, "application/pdf"),
              IPP_FORMAT_NOT_SUPPORTED);
    EXPECT_EQ(check("compression", IPP_TAG_KEYWORD, "compress"), IPP_COMPRESSION_NOT_SUPPORTED);
    EXPECT_EQ(Values(advertised, "document-format-preferred")[0].bytes, "image/pwg-raster");
}

TEST(Capabilities, OperationsSupportedAreTheServedOperations) {
    std::set<int32_t> advertised;
    for (const IppValue &value : Values(Advertised(), "operations-supported"))
        advertised.insert(IppValueInteger(value, -1));
    for (int32_t code = 0; code < 0x100; ++code)
        EXPECT_EQ(FindPrinterOperation((uint16_t)code) != nullptr, advertised.count(code) > 0)
            << code;
    for (uint16_t code : {IPP_OP_PRINT_JOB, IPP_OP_CREATE_JOB, IPP_OP_SEND_DOCUMENT,
                          IPP_OP_GET_PRINTER_ATTRIBUTES, IPP_OP_CLOSE_JOB})
        EXPECT_TRUE(advertised.count(code)) << IppOperationName(code);
}

class PrinterUuid : public MachineTest {};

// RFC 4122's namespace for DNS names, and a long name (more than one SHA-1 block), against
// values made by another implementation (Python's uuid.uuid5).
TEST_F(PrinterUuid, IsAVersion5UuidOfTheComputerName) {
    const unsigned char dns[16] = {0x6b, 0xa7, 0xb8, 0x10, 0x9d, 0xad, 0x11, 0xd1,
                                   0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8};
    EXPECT_EQ(Uuid5(dns, "www.example.com"), "2ed6657d-e927-568b-95e1-2665a8aea6a2");
    EXPECT_EQ(Uuid5(dns, std::string(100, 'x') + ".example"),
              "b2947e18-143b-5f07-89de-4060be76abb5");
    EXPECT_EQ(NameBasedUuid("VELLUM-PC"), "urn:uuid:7a40d802-d16f-511b-93d8-0abfaa7a343e");

    Load("[machine]\ncomputer_name = READER-DESK\n");
    std::string first = MachinePrinterUuid();
    EXPECT_EQ(first, NameBasedUuid("READER-DESK"));
    EXPECT_EQ(MachinePrinterUuid(), first); // the same for every start
    Load("[machine]\ncomputer_name = READER-LAPTOP\n");
    EXPECT_NE(MachinePrinterUuid(), first);
    Load("[faults]\nGetComputerNameA = 1\n");
    EXPECT_EQ(MachinePrinterUuid(), NameBasedUuid(""));
}

} // namespace
