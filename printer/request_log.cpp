// The request log.
#include "common/win32.h"

#include "printer/request_log.h"

#include <mutex>

#include "printer/capabilities.h"
#include "printer/spool.h"

namespace {

// A group's name without "-attributes-tag": "operation", "job".
std::string GroupName(uint8_t group) {
    const char *name = IppTagName(group);
    std::string text = name ? name : "group-" + std::to_string(group);
    size_t suffix = text.find("-attributes-tag");
    return suffix == std::string::npos ? text : text.substr(0, suffix);
}

// The first value of the operation attribute name as text, or "-" when the request has none.
std::string OperationValue(const IppMessage &request, const char *name) {
    const IppAttribute *attribute = FindIppAttribute(request, IPP_TAG_OPERATION, name);
    return attribute && !attribute->values.empty() ? IppValueText(attribute->values[0]) : "-";
}

// Why the attributes could not be read.
const char *ParseProblem(IppParseResult parsed) {
    return parsed == IPP_PARSE_TOO_LARGE ? "more than 64 KiB of attributes"
           : parsed == IPP_PARSE_MORE    ? "the request is cut short"
                                         : "a bad tag or length";
}

} // namespace

RequestLog *OpenRequestLog(const std::string &path) {
    std::lock_guard<std::mutex> guard(PlatformLock());
    FILE *file = fopen(path.c_str(), "ab");
    if (!file)
        return nullptr;
    RequestLog *log = new RequestLog();
    log->file = file;
    log->path = path;
    return log;
}

void CloseRequestLog(RequestLog *log) {
    if (!log)
        return;
    {
        std::lock_guard<std::mutex> guard(PlatformLock());
        fclose(log->file);
    }
    delete log;
}

void LogRequest(std::string *lines, const IppMessage &request, IppParseResult parsed) {
    if (!lines)
        return;
    const char *name = IppOperationName(request.code);
    char head[96];
    snprintf(head, sizeof head, "%s (0x%04x) IPP/%u.%u request-id %lu\n", name ? name : "operation",
             request.code, request.major, request.minor, (unsigned long)request.requestId);
    *lines += head;
    for (const IppAttribute &attribute : request.attributes) {
        *lines += "  " + GroupName(attribute.group) + " " + attribute.name + " ";
        for (size_t i = 0; i < attribute.values.size(); ++i) {
            const char *tag = IppTagName(attribute.values[i].tag);
            *lines += i ? ", " : "";
            *lines += (tag ? tag : "tag-" + std::to_string(attribute.values[i].tag)) + " " +
                      IppValueText(attribute.values[i]);
        }
        *lines += "\n";
    }
    if (parsed != IPP_PARSE_OK) {
        *lines += std::string("  the attributes could not be read: ") + ParseProblem(parsed) + "\n";
        return;
    }
    if (request.code == IPP_OP_PRINT_JOB || request.code == IPP_OP_SEND_DOCUMENT ||
        request.code == IPP_OP_VALIDATE_JOB)
        *lines += "  document-format " + OperationValue(request, "document-format") +
                  " compression " + OperationValue(request, "compression") + "\n";
}

void LogRasterPage(std::string *lines, uint32_t number, const RasterPage &page) {
    if (!lines)
        return;
    char text[128];
    snprintf(text, sizeof text, "  page %u: PWG raster %ux%udpi %s %ux%u\n", number,
             page.resolution, page.resolution, page.type ? page.type->keyword : "?", page.width,
             page.height);
    *lines += text;
}

void LogJpegPage(std::string *lines, int width, int height) {
    if (!lines)
        return;
    *lines += "  page 1: JPEG " + std::to_string(width) + "x" + std::to_string(height) + "\n";
}

void LogDocument(std::string *lines, uint64_t received, bool compressed, uint64_t bytes,
                 uint32_t pages) {
    if (!lines)
        return;
    *lines += "  document: " + std::to_string(received) + " bytes received";
    if (compressed)
        *lines += ", " + std::to_string(bytes) + " bytes inflated";
    *lines += ", " + std::to_string(pages) + (pages == 1 ? " page\n" : " pages\n");
}

void LogResponse(std::string *lines, const IppMessage &response) {
    if (!lines)
        return;
    const char *name = IppStatusName(response.code);
    char text[96];
    snprintf(text, sizeof text, "  status %s (0x%04x)", name ? name : "?", response.code);
    *lines += text;
    const IppAttribute *message = FindIppAttribute(response, IPP_TAG_OPERATION, "status-message");
    if (message && !message->values.empty())
        *lines += " " + IppValueText(message->values[0]);
    *lines += "\n";
}

void WriteRequestLog(RequestLog *log, time_t at, const std::string &lines) {
    if (!log)
        return;
    std::lock_guard<std::mutex> guard(PlatformLock());
    char stamp[32] = "?";
    if (const struct tm *utc = gmtime(&at))
        strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ ", utc);
    std::string block = stamp + lines;
    fwrite(block.data(), 1, block.size(), log->file);
    fflush(log->file);
}
