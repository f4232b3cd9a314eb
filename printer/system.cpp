// The printer service and the checks every IPP request goes through.
#include "common/win32.h"

#include "printer/system.h"

#include "common/spool_contract.h"

#include <algorithm>
#include <thread>

#include "printer/http.h"
#include "printer/job_operations.h"
#include "printer/jpeg_writer.h"
#include "printer/operations.h"
#include "printer/printer.h"
#include "printer/request_log.h"
#include "printer/spool.h"
#include "printer/uuid.h"

namespace {

// One printer per machine, whoever starts it: a second one, from any session, finds it held.

// One request on its way: the attribute bytes until they are whole, then the document.
struct Exchange {
    Printer *printer = nullptr;
    std::string head;
    size_t parseAt = 0; // the size of head at which its parse is tried next
    bool parsed = false;
    IppMessage request, response;
    bool document = false;
    DocumentIntake intake;
    time_t arrived = 0;
    std::string log; // the request's block of the request log, when there is one
};

// A response to request: its version and id, and the charset and language it is in.
void StartResponse(const IppMessage &request, IppMessage *response) {
    response->major = request.major;
    response->minor = request.minor;
    response->requestId = request.requestId;
    response->code = IPP_OK;
    response->attributes.clear();
    AddIppText(AddIppAttribute(response, IPP_TAG_OPERATION, "attributes-charset"), IPP_TAG_CHARSET,
               "utf-8");
    AddIppText(AddIppAttribute(response, IPP_TAG_OPERATION, "attributes-natural-language"),
               IPP_TAG_LANGUAGE, "en");
}

// Whether a URI names this printer (any host, ipp or http), or one of its jobs when job is set.
bool NamesPrinter(const std::string &uri, bool job) {
    size_t scheme = uri.find("://");
    if (scheme == std::string::npos)
        return false;
    std::string kind = uri.substr(0, scheme);
    if (kind != "ipp" && kind != "http" && kind != "ipps" && kind != "https")
        return false;
    size_t path = uri.find('/', scheme + 3);
    if (path == std::string::npos)
        return false;
    std::string rest = uri.substr(path);
    std::string prefix = std::string(kPrinterPath) + (job ? "/" : "");
    return job ? rest.compare(0, prefix.size(), prefix) == 0 && rest.size() > prefix.size()
               : rest == kPrinterPath;
}

// The checks that every request passes (RFC 8011 4.1): version, request id, the charset and
// language first, the target. False with the refusal in response.
bool CheckRequest(const IppMessage &request, IppMessage *response) {
    if (request.major != 1 && request.major != 2) {
        SetIppStatus(response, IPP_VERSION_NOT_SUPPORTED, "IPP/1.x and 2.x only.");
        return false;
    }
    const auto &attributes = request.attributes;
    if (request.requestId == 0 || attributes.size() < 2 ||
        attributes[0].group != IPP_TAG_OPERATION || attributes[0].name != "attributes-charset" ||
        attributes[1].group != IPP_TAG_OPERATION ||
        attributes[1].name != "attributes-natural-language" || attributes[0].values.size() != 1 ||
        attributes[1].values.size() != 1) {
        SetIppStatus(response, IPP_BAD_REQUEST,
                     "A request begins with attributes-charset and attributes-natural-language.");
        return false;
    }
    std::string charset = attributes[0].values[0].bytes;
    for (char &c : charset)
        c = (char)tolower((unsigned char)c);
    if (charset != "utf-8" && charset != "us-ascii") {
        SetIppStatus(response, IPP_CHARSET_NOT_SUPPORTED, "Only utf-8.");
        return false;
    }
    const IppAttribute *printer = FindIppAttribute(request, IPP_TAG_OPERATION, "printer-uri");
    const IppAttribute *job = FindIppAttribute(request, IPP_TAG_OPERATION, "job-uri");
    const IppAttribute *target = printer ? printer : job;
    if (!target || target->values.size() != 1 || target->values[0].tag != IPP_TAG_URI) {
        SetIppStatus(response, IPP_BAD_REQUEST, "No printer-uri.");
        return false;
    }
    if (!NamesPrinter(target->values[0].bytes, target == job)) {
        SetIppStatus(response, IPP_NOT_FOUND, "No such printer or job.");
        return false;
    }
    return true;
}

// Hands a checked request to its operation; returns true when a document follows.
bool Dispatch(Exchange *exchange) {
    Printer *printer = exchange->printer;
    const IppMessage &request = exchange->request;
    IppMessage *response = &exchange->response;
    StartResponse(request, response);
    if (!CheckRequest(request, response))
        return false;
    const PrinterOperation *operation = FindPrinterOperation(request.code);
    if (!operation) {
        SetIppStatus(response, IPP_OPERATION_NOT_SUPPORTED, "");
        return false;
    }
    return operation->run(printer, request, &exchange->intake, response);
}

// The server's functions for one request: open, feed each piece of the body, finish.
void *OpenExchange(void *printer) {
    Exchange *exchange = new Exchange();
    exchange->printer = static_cast<Printer *>(printer);
    exchange->arrived = time(nullptr);
    return exchange;
}

// Parses the attributes in exchange->head and starts the request's operation; returns what
// FeedExchange returns.
int ParseHead(Exchange *exchange) {
    size_t used = 0;
    IppParseResult result = ParseIppMessage((const unsigned char *)exchange->head.data(),
                                            exchange->head.size(), &exchange->request, &used);
    if (result == IPP_PARSE_MORE)
        return 1;
    exchange->parsed = true;
    std::string *log = exchange->printer->log ? &exchange->log : nullptr;
    LogRequest(log, exchange->request, result);
    exchange->intake.log = log;
    if (result != IPP_PARSE_OK) {
        StartResponse(exchange->request, &exchange->response);
        SetIppStatus(&exchange->response,
                     result == IPP_PARSE_TOO_LARGE ? IPP_TOO_LARGE : IPP_BAD_REQUEST,
                     result == IPP_PARSE_TOO_LARGE ? "More than 64 KiB of attributes."
                                                   : "A bad tag or length.");
        return 0;
    }
    exchange->document = Dispatch(exchange);
    std::string rest = exchange->head.substr(used);
    exchange->head.clear();
    exchange->head.shrink_to_fit();
    if (!exchange->document || rest.empty())
        return 1;
    return FeedDocument(&exchange->intake, (const unsigned char *)rest.data(), rest.size());
}

// Takes the next piece of the body: attribute bytes until they parse, then the document.
int FeedExchange(void *context, const char *bytes, size_t count) {
    Exchange *exchange = static_cast<Exchange *>(context);
    if (exchange->parsed)
        return exchange->document
                   ? FeedDocument(&exchange->intake, (const unsigned char *)bytes, count)
                   : 1; // anything after the attributes of an operation without a document
    // The buffer holds at most the attribute limit and one piece more. It is parsed again only
    // once it has doubled (or passed the limit, where the parse ends one way or another), so
    // that attributes sent a byte at a time are not parsed once per byte.
    exchange->head.append(bytes, count);
    if (exchange->head.size() < exchange->parseAt)
        return 1;
    exchange->parseAt = std::min(2 * exchange->head.size(), kIppMaxAttributeBytes + 1);
    return ParseHead(exchange);
}

// The body has ended: answers the request, ending its document if it had one.
void FinishExchange(void *context, int whole, std::string *body) {
    Exchange *exchange = static_cast<Exchange *>(context);
    // What came since the last try may complete the attributes.
    if (!exchange->parsed)
        ParseHead(exchange);
    Printer *printer = exchange->printer;
    if (!exchange->parsed) {
        // The body ended before its attributes did.
        if (printer->log) {
            size_t used = 0;
            ParseIppMessage((const unsigned char *)exchange->head.data(), exchange->head.size(),
                            &exchange->request, &used);
            LogRequest(&exchange->log, exchange->request, IPP_PARSE_MORE);
        }
        StartResponse(exchange->request, &exchange->response);
        SetIppStatus(&exchange->response, IPP_BAD_REQUEST, "The request is cut short.");
    } else if (exchange->document) {
        EndDocument(&exchange->intake, whole != 0, &exchange->response);
    }
    body->clear();
    EmitIppMessage(exchange->response, body);
    if (printer->log) {
        LogResponse(&exchange->log, exchange->response);
        WriteRequestLog(printer->log, exchange->arrived, exchange->log);
    }
    delete exchange;
}

const IppExchangeFunctions kExchange = {OpenExchange, FeedExchange, FinishExchange};

} // namespace

int RunPrinterService(int port, int clientTimeoutSeconds, const std::string &logPath) {
    HANDLE instance = nullptr;
    {
        std::lock_guard<std::mutex> guard(PlatformLock());
        SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
        ConvertStringSecurityDescriptorToSecurityDescriptorA(
            kMutexSecurity, SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr);
        instance = CreateMutexExA(security.lpSecurityDescriptor ? &security : nullptr,
                                  kPrinterMutexName, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
        LocalFree(security.lpSecurityDescriptor);
        DWORD waited = instance ? WaitForSingleObject(instance, 0) : WAIT_FAILED;
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
            if (instance)
                CloseHandle(instance);
            fprintf(stderr, "Another VellumTransit printer is already running on this machine.\n");
            return 1;
        }
    }
    Printer printer;
    printer.port = port;
    printer.clientTimeoutSeconds = clientTimeoutSeconds;
    printer.started = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> guard(PlatformLock());
        printer.uuid = MachinePrinterUuid();
    }
    int code = 0;
    if (!FindSpoolFolder(&printer.spoolFolder)) {
        fprintf(stderr, "The spool folder %s is missing.\n", printer.spoolFolder.c_str());
        code = 1;
    }
    if (code == 0 && !logPath.empty() && !(printer.log = OpenRequestLog(logPath))) {
        fprintf(stderr, "The log %s cannot be opened.\n", logPath.c_str());
        code = 1;
    }
    HttpServer *server = nullptr;
    if (code == 0) {
        // Jobs accepted before a stop are handed over first; only unanswered ones' pages go.
        std::vector<AcceptedJob> accepted;
        DeleteStalePages(printer.spoolFolder, &accepted);
        RestoreAcceptedJobs(&printer, accepted, LastJobNumber(printer.spoolFolder));
        server = OpenHttpServer(port, clientTimeoutSeconds, kExchange, &printer, PrinterIconPng(),
                                PrinterPage(printer));
        if (!server) {
            fprintf(stderr, "Port %d on 127.0.0.1 is in use.\n", port);
            code = 1;
        }
    }
    if (server) {
        printf("Printing to the e-reader at %s\n", PrinterUri(printer).c_str());
        fflush(stdout);
        std::thread spool(RunSpoolThread, &printer);
        // Only a failing listener ends this; by then no request is being served, so the jobs
        // left open can be ended without a document still coming in for one of them.
        ServeHttp(server);
        fprintf(stderr, "The printer's port stopped taking connections.\n");
        code = 1;
        {
            std::lock_guard<std::mutex> guard(printer.lock);
            printer.stopping = true;
            printer.wake.notify_all();
        }
        spool.join();
        CloseHttpServer(server);
        AbortOpenJobs(&printer);
    }
    CloseRequestLog(printer.log);
    std::lock_guard<std::mutex> guard(PlatformLock());
    ReleaseMutex(instance);
    CloseHandle(instance);
    return code;
}
