// The request log (vellumtransit-printer --log FILE): one block per IPP request, appended when
// the request has been answered, so that a run on a real Windows machine shows what its
// client sent. A block holds the time, the operation, IPP version and request id, every
// attribute of the request with its group, tag and value (texts as received, bytes that are not
// UTF-8 as \xNN), the document format and compression, each page's raster header and the
// response's status. Never the page data.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "printer/ipp.h"
#include "printer/raster.h"

struct RequestLog {
    FILE *file = nullptr;
    std::string path;
};

// Opens the log at path, appending; null when it cannot be opened.
RequestLog *OpenRequestLog(const std::string &path);

// Closes the log.
void CloseRequestLog(RequestLog *log);

// Each of these adds its lines to a request's block (nothing when lines is null).
// The request line and every attribute; for a request whose attributes did not parse, what
// was read of its header and why.
void LogRequest(std::string *lines, const IppMessage &request, IppParseResult parsed);
// One page of PWG raster, numbered from 1, or the one page of a JPEG document.
void LogRasterPage(std::string *lines, uint32_t number, const RasterPage &page);
void LogJpegPage(std::string *lines, int width, int height);
// The document as a whole: the bytes received, the bytes they inflated to, its pages.
void LogDocument(std::string *lines, uint64_t received, bool compressed, uint64_t bytes,
                 uint32_t pages);
// The response's status and status-message.
void LogResponse(std::string *lines, const IppMessage &response);

// Appends a request's block, stamped with the time it came (UTC), and flushes it.
void WriteRequestLog(RequestLog *log, time_t at, const std::string &lines);
