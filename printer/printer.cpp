// The printer's description: what Get-Printer-Attributes answers.
#include "printer/printer.h"

#include <ctime>

#include "printer/capabilities.h"
#include "printer/operations.h"
#include "vellumtransit_version.h"

namespace {

// Adds attributes to the response when they were asked for.
struct Adder {
    const std::set<std::string> &requested;
    IppMessage *response;

    // The new attribute, or null when it was not asked for.
    IppAttribute *Add(const char *name) {
        bool all = requested.empty() || requested.count("all") ||
                   requested.count("printer-description") || requested.count("job-template");
        if (!all && !requested.count(name))
            return nullptr;
        return AddIppAttribute(response, IPP_TAG_PRINTER, name);
    }
    void Texts(const char *name, uint8_t tag, std::initializer_list<const char *> values) {
        if (IppAttribute *attribute = Add(name))
            for (const char *value : values)
                AddIppText(attribute, tag, value);
    }
    void Integers(const char *name, uint8_t tag, std::initializer_list<int32_t> values) {
        if (IppAttribute *attribute = Add(name))
            for (int32_t value : values)
                AddIppInteger(attribute, tag, value);
    }
    void Boolean(const char *name, bool value) {
        if (IppAttribute *attribute = Add(name))
            AddIppBoolean(attribute, value);
    }
};

// A media-col value: the size, no margins (the page is an image), the one source and type (PWG
// keywords: Windows is reported to hang on sources given as numbers).
void AddMediaCol(IppAttribute *attribute, const MediaSize &media) {
    IppValue *col = AddIppCollection(attribute);
    IppValue *size = AddIppCollection(AddIppMember(col, "media-size"));
    AddIppInteger(AddIppMember(size, "x-dimension"), IPP_TAG_INTEGER, media.width);
    AddIppInteger(AddIppMember(size, "y-dimension"), IPP_TAG_INTEGER, media.height);
    for (const char *margin :
         {"media-bottom-margin", "media-left-margin", "media-right-margin", "media-top-margin"})
        AddIppInteger(AddIppMember(col, margin), IPP_TAG_INTEGER, 0);
    AddIppText(AddIppMember(col, "media-source"), IPP_TAG_KEYWORD, "auto");
    AddIppText(AddIppMember(col, "media-type"), IPP_TAG_KEYWORD, "stationery");
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(long long days, int *year, int *month, int *day) {
    days += 719468;
    long long era = (days >= 0 ? days : days - 146096) / 146097;
    long long dayOfEra = days - era * 146097;
    long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    long long monthIndex = (5 * dayOfYear + 2) / 153;
    *day = (int)(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    *month = (int)(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    *year = (int)(yearOfEra + era * 400 + (*month <= 2));
}

} // namespace

long PrinterUpTime(const Printer &printer) {
    return 1 + (long)std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::steady_clock::now() - printer.started)
                   .count();
}

std::string PrinterUri(const Printer &printer, int jobId) {
    std::string uri = "ipp://127.0.0.1:" + std::to_string(printer.port) + "/ipp/print";
    return jobId > 0 ? uri + "/" + std::to_string(jobId) : uri;
}

std::string PrinterPage(const Printer &printer) {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>VellumTransit</title>"
           "</head>\n<body><h1>VellumTransit</h1>\n<p>This computer's printer for the e-reader "
           "(" +
           PrinterUri(printer) +
           "): each job's pages are put into one PDF on the e-reader.</p></body></html>\n";
}

std::string WaitingMessage(int waiting) {
    return std::to_string(waiting) + (waiting == 1 ? " document waits" : " documents wait") +
           " for the e-reader to be plugged in.";
}

bool PrinterBusy(const Printer &printer) {
    if (printer.delivering)
        return true;
    for (const auto &entry : printer.jobs)
        if (entry.second->receiving || entry.second->spooling)
            return true;
    return false;
}

void AddIppDateTime(const Printer &printer, IppAttribute *attribute, long upTime) {
    // The wall clock of that up-time, in UTC.
    long long now = (long long)time(nullptr) - (PrinterUpTime(printer) - upTime);
    long long days = now >= 0 ? now / 86400 : (now - 86399) / 86400;
    long long seconds = now - days * 86400;
    int year, month, day;
    CivilFromDays(days, &year, &month, &day);
    IppValue value;
    value.tag = IPP_TAG_DATE;
    const unsigned char bytes[11] = {(unsigned char)(year >> 8),
                                     (unsigned char)year,
                                     (unsigned char)month,
                                     (unsigned char)day,
                                     (unsigned char)(seconds / 3600),
                                     (unsigned char)(seconds / 60 % 60),
                                     (unsigned char)(seconds % 60),
                                     0,
                                     '+',
                                     0,
                                     0};
    value.bytes.assign((const char *)bytes, sizeof bytes);
    attribute->values.push_back(value);
}

void AddPrinterAttributes(const Printer &printer, const std::set<std::string> &requested,
                          IppMessage *response) {
    Adder add = {requested, response};
    const Capabilities &can = PrinterCapabilities();
    std::string base = "http://127.0.0.1:" + std::to_string(printer.port);
    long upTime = PrinterUpTime(printer);
    IppAttribute *attribute;
    // Each list of the capabilities record as the values of one attribute.
    auto texts = [&](const char *name, uint8_t tag, const char *const *values, size_t count) {
        if (IppAttribute *listed = add.Add(name))
            for (size_t i = 0; i < count; ++i)
                AddIppText(listed, tag, values[i]);
    };
    auto resolutions = [&](const char *name, size_t count) {
        if (IppAttribute *listed = add.Add(name))
            for (size_t i = 0; i < count; ++i)
                AddIppResolution(listed, can.resolutions[i], can.resolutions[i], IPP_RES_PER_INCH);
    };
    auto media = [&](const char *name, uint8_t tag, size_t count) {
        if (IppAttribute *listed = add.Add(name))
            for (size_t i = 0; i < count; ++i)
                AddIppText(listed, tag, can.media[i].name);
    };

    add.Texts("charset-configured", IPP_TAG_CHARSET, {"utf-8"});
    add.Texts("charset-supported", IPP_TAG_CHARSET, {"utf-8"});
    add.Boolean("color-supported", true);
    texts("compression-supported", IPP_TAG_KEYWORD, can.compressions, can.compressionCount);
    add.Integers("copies-default", IPP_TAG_INTEGER, {1});
    if ((attribute = add.Add("copies-supported")))
        AddIppRange(attribute, 1, 1);
    add.Texts("document-format-default", IPP_TAG_MIME_TYPE, {can.formatDefault});
    add.Texts("document-format-preferred", IPP_TAG_MIME_TYPE, {can.formatPreferred});
    texts("document-format-supported", IPP_TAG_MIME_TYPE, can.formats, can.formatCount);
    add.Integers("finishings-default", IPP_TAG_ENUM, {IPP_FINISHINGS_NONE});
    add.Integers("finishings-supported", IPP_TAG_ENUM, {IPP_FINISHINGS_NONE});
    add.Texts("generated-natural-language-supported", IPP_TAG_LANGUAGE, {"en"});
    add.Texts("identify-actions-default", IPP_TAG_KEYWORD, {"display"});
    add.Texts("identify-actions-supported", IPP_TAG_KEYWORD, {"display"});
    add.Texts("ipp-features-supported", IPP_TAG_KEYWORD, {"ipp-everywhere"});
    add.Texts("ipp-versions-supported", IPP_TAG_KEYWORD, {"1.1", "2.0"});
    add.Texts("job-creation-attributes-supported", IPP_TAG_KEYWORD,
              {"copies", "finishings", "ipp-attribute-fidelity", "job-name", "media", "media-col",
               "orientation-requested", "output-bin", "print-color-mode", "print-content-optimize",
               "print-quality", "print-rendering-intent", "printer-resolution", "sides"});
    add.Boolean("job-ids-supported", true);
    for (const char *margin : {"media-bottom-margin-supported", "media-left-margin-supported",
                               "media-right-margin-supported", "media-top-margin-supported"})
        add.Integers(margin, IPP_TAG_INTEGER, {0});
    for (const char *name : {"media-col-database", "media-col-ready"})
        if ((attribute = add.Add(name)))
            for (size_t i = 0; i < can.mediaCount; ++i)
                AddMediaCol(attribute, can.media[i]);
    if ((attribute = add.Add("media-col-default")))
        AddMediaCol(attribute, can.media[0]);
    add.Texts("media-col-supported", IPP_TAG_KEYWORD,
              {"media-bottom-margin", "media-left-margin", "media-right-margin", "media-size",
               "media-source", "media-top-margin", "media-type"});
    media("media-default", IPP_TAG_KEYWORD, 1);
    media("media-ready", IPP_TAG_KEYWORD, can.mediaCount);
    media("media-supported", IPP_TAG_KEYWORD, can.mediaCount);
    if ((attribute = add.Add("media-size-supported"))) {
        for (size_t i = 0; i < can.mediaCount; ++i) {
            IppValue *size = AddIppCollection(attribute);
            AddIppInteger(AddIppMember(size, "x-dimension"), IPP_TAG_INTEGER, can.media[i].width);
            AddIppInteger(AddIppMember(size, "y-dimension"), IPP_TAG_INTEGER, can.media[i].height);
        }
    }
    add.Texts("media-source-supported", IPP_TAG_KEYWORD, {"auto"});
    add.Texts("media-type-supported", IPP_TAG_KEYWORD, {"stationery"});
    // Mopria clients, Windows among them, take a printer that says it is certified (as other
    // driverless printers do); 1.3 is the version whose requirements it meets.
    add.Texts("mopria-certified", IPP_TAG_TEXT, {"1.3"});
    add.Texts("mopria_certified", IPP_TAG_TEXT, {"1.3"}); // as Windows' wizard spells it too
    add.Boolean("multiple-document-jobs-supported", false);
    add.Integers("multiple-operation-time-out", IPP_TAG_INTEGER, {printer.clientTimeoutSeconds});
    add.Texts("multiple-operation-time-out-action", IPP_TAG_KEYWORD, {"abort-job"});
    add.Texts("natural-language-configured", IPP_TAG_LANGUAGE, {"en"});
    if ((attribute = add.Add("operations-supported")))
        for (size_t i = 0; i < kPrinterOperationCount; ++i)
            AddIppInteger(attribute, IPP_TAG_ENUM, kPrinterOperations[i].code);
    add.Integers("orientation-requested-default", IPP_TAG_ENUM, {IPP_ORIENTATION_PORTRAIT});
    add.Integers("orientation-requested-supported", IPP_TAG_ENUM, {IPP_ORIENTATION_PORTRAIT});
    // Face-up would make clients send the pages last first.
    add.Texts("output-bin-default", IPP_TAG_KEYWORD, {"face-down"});
    add.Texts("output-bin-supported", IPP_TAG_KEYWORD, {"face-down"});
    // Every page is made the same way, so per-document and per-page overrides change nothing.
    add.Texts("overrides-supported", IPP_TAG_KEYWORD, {"document-number", "pages"});
    add.Boolean("page-ranges-supported", false);
    add.Integers("pages-per-minute", IPP_TAG_INTEGER, {60});
    add.Integers("pages-per-minute-color", IPP_TAG_INTEGER, {60});
    add.Texts("pdl-override-supported", IPP_TAG_KEYWORD, {"attempted"});
    add.Boolean("preferred-attributes-supported", false);
    add.Texts("print-color-mode-default", IPP_TAG_KEYWORD, {can.rasterTypes[0].colorMode});
    if ((attribute = add.Add("print-color-mode-supported")))
        for (size_t i = 0; i < can.rasterTypeCount; ++i)
            AddIppText(attribute, IPP_TAG_KEYWORD, can.rasterTypes[i].colorMode);
    add.Texts("print-content-optimize-default", IPP_TAG_KEYWORD, {"auto"});
    add.Texts("print-content-optimize-supported", IPP_TAG_KEYWORD, {"auto"});
    add.Integers("print-quality-default", IPP_TAG_ENUM, {IPP_QUALITY_NORMAL});
    add.Integers("print-quality-supported", IPP_TAG_ENUM, {IPP_QUALITY_NORMAL});
    add.Texts("print-rendering-intent-default", IPP_TAG_KEYWORD, {"auto"});
    add.Texts("print-rendering-intent-supported", IPP_TAG_KEYWORD, {"auto"});
    if ((attribute = add.Add("printer-config-change-date-time")))
        AddIppDateTime(printer, attribute, 1);
    add.Integers("printer-config-change-time", IPP_TAG_INTEGER, {1});
    if ((attribute = add.Add("printer-current-time")))
        AddIppDateTime(printer, attribute, upTime);
    add.Texts("printer-device-id", IPP_TAG_TEXT,
              {"MFG:VellumTransit;MDL:E-reader Printer;CMD:PWGRaster,JPEG;CLS:PRINTER;"});
    add.Texts("printer-dns-sd-name", IPP_TAG_NAME, {"VellumTransit"});
    add.Texts("printer-firmware-name", IPP_TAG_NAME, {"vellumtransit-printer"});
    add.Texts("printer-firmware-string-version", IPP_TAG_TEXT, {VT_VERSION_TEXT});
    if ((attribute = add.Add("printer-firmware-version")))
        AddIppText(
            attribute, IPP_TAG_OCTET_STRING,
            std::string{(char)VT_VERSION_MAJOR, (char)VT_VERSION_MINOR, (char)VT_VERSION_PATCH});
    if ((attribute = add.Add("printer-geo-location")))
        AddIppOutOfBand(attribute, IPP_TAG_UNKNOWN);
    add.Texts("printer-get-attributes-supported", IPP_TAG_KEYWORD, {"document-format"});
    if ((attribute = add.Add("printer-icons")))
        AddIppText(attribute, IPP_TAG_URI, base + "/icon.png");
    add.Texts("printer-info", IPP_TAG_TEXT, {"VellumTransit: prints to the e-reader"});
    add.Boolean("printer-is-accepting-jobs", true);
    add.Texts("printer-location", IPP_TAG_TEXT, {"This computer"});
    add.Texts("printer-make-and-model", IPP_TAG_TEXT, {"VellumTransit E-reader Printer"});
    if ((attribute = add.Add("printer-more-info")))
        AddIppText(attribute, IPP_TAG_URI, base + "/");
    add.Texts("printer-name", IPP_TAG_NAME, {"VellumTransit"});
    add.Texts("printer-organization", IPP_TAG_TEXT, {""});
    add.Texts("printer-organizational-unit", IPP_TAG_TEXT, {""});
    resolutions("printer-resolution-default", 1);
    resolutions("printer-resolution-supported", can.resolutionCount);
    if ((attribute = add.Add("printer-state")))
        AddIppInteger(attribute, IPP_TAG_ENUM,
                      PrinterBusy(printer) ? IPP_PRINTER_PROCESSING : IPP_PRINTER_IDLE);
    if ((attribute = add.Add("printer-state-change-date-time")))
        AddIppDateTime(printer, attribute, printer.stateChangedAt ? printer.stateChangedAt : 1);
    add.Integers("printer-state-change-time", IPP_TAG_INTEGER,
                 {(int32_t)(printer.stateChangedAt ? printer.stateChangedAt : 1)});
    if ((attribute = add.Add("printer-state-message")))
        AddIppText(attribute, IPP_TAG_TEXT, printer.stateMessage);
    // A warning, not an error: the printer still takes jobs, and they wait with the others.
    add.Texts("printer-state-reasons", IPP_TAG_KEYWORD,
              {printer.documentsWaiting != 0 ? "other-warning" : "none"});
    // No supply runs out: the level is unknown (-3) and there is one "supply", the e-reader.
    if ((attribute = add.Add("printer-supply")))
        AddIppText(attribute, IPP_TAG_OCTET_STRING,
                   "index=1;class=unknown;type=other;unit=percent;maxcapacity=100;level=-3;");
    add.Texts("printer-supply-description", IPP_TAG_TEXT, {"E-reader"});
    if ((attribute = add.Add("printer-supply-info-uri")))
        AddIppText(attribute, IPP_TAG_URI, base + "/");
    add.Integers("printer-up-time", IPP_TAG_INTEGER, {(int32_t)upTime});
    if ((attribute = add.Add("printer-uri-supported")))
        AddIppText(attribute, IPP_TAG_URI, PrinterUri(printer));
    if ((attribute = add.Add("printer-uuid")))
        AddIppText(attribute, IPP_TAG_URI, printer.uuid);
    resolutions("pwg-raster-document-resolution-supported", can.resolutionCount);
    add.Texts("pwg-raster-document-sheet-back", IPP_TAG_KEYWORD, {"normal"});
    if ((attribute = add.Add("pwg-raster-document-type-supported")))
        for (size_t i = 0; i < can.rasterTypeCount; ++i)
            AddIppText(attribute, IPP_TAG_KEYWORD, can.rasterTypes[i].keyword);
    if ((attribute = add.Add("queued-job-count"))) {
        int queued = 0;
        for (const auto &entry : printer.jobs)
            queued += entry.second->state < JOB_CANCELED;
        AddIppInteger(attribute, IPP_TAG_INTEGER, queued);
    }
    add.Texts("sides-default", IPP_TAG_KEYWORD, {"one-sided"});
    add.Texts("sides-supported", IPP_TAG_KEYWORD, {"one-sided"});
    add.Texts("uri-authentication-supported", IPP_TAG_KEYWORD, {"none"});
    add.Texts("uri-security-supported", IPP_TAG_KEYWORD, {"none"});
    add.Texts("which-jobs-supported", IPP_TAG_KEYWORD, {"completed", "not-completed", "all"});
}
