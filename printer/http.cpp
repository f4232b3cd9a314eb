// The HTTP side, over cpp-httplib. Sockets are real on both builds, so this unit talks to the
// socket library directly and does not include the platform header.
#include "printer/http.h"

#include <algorithm>
#include <memory>

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
// Clients that connect in a burst are queued by the system, not dropped.
#define CPPHTTPLIB_LISTEN_BACKLOG 128
#include "httplib/httplib.h"
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

struct HttpServer {
    httplib::Server server;
    IppExchangeFunctions functions;
    void *printer = nullptr;
};

namespace {

// Many requests per connection: a client keeps one open for a whole job's polling. Between
// requests a connection waits in the listening thread, holding no worker, for a few seconds;
// a request's head must then be whole within 5 s of its first byte, and inside its body the
// client time limit applies. A connection that finds every worker busy is answered 503 at
// once; past the most that may wait, the one waiting longest is closed.
const size_t kKeepAliveRequests = 1000;
const int kKeepAliveSeconds = 5;
const size_t kWorkerThreads = 64;
const size_t kWaitingConnectionsMax = 512;
// How much of a refused body is read (and dropped) before its connection is closed instead.
const uint64_t kDroppedBytesMax = 64u << 20;
// The printer's path, and a job's below it (job-uri).
const char kIppPaths[] = "/ipp/print(/[0-9]+)?";

// One listener per port: never share it with another process (Linux's SO_REUSEPORT would).
void ListenerOptions(socket_t sock) {
    int yes = 1;
#ifdef _WIN32
    setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<char *>(&yes), sizeof yes);
#else
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
}

// Whether the request says a body follows.
bool HasBody(const httplib::Request &request) {
    return request.has_header("Transfer-Encoding") ||
           (request.has_header("Content-Length") &&
            request.get_header_value("Content-Length") != "0");
}

// Whether a Content-Type value is application/ipp (parameters and case aside).
bool IsIpp(const std::string &contentType) {
    std::string type = contentType.substr(0, contentType.find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t'))
        type.pop_back();
    for (char &c : type)
        c = (char)tolower((unsigned char)c);
    return type == "application/ipp";
}

// Answers with body (never empty) and then closes the connection, so that what is left of the
// request's body is never read. The library closes a connection whose content provider stops:
// this one writes the whole body, then stops.
void AnswerAndClose(httplib::Response &response, int status, const std::string &body,
                    const char *type) {
    response.status = status;
    response.set_header("Connection", "close");
    auto bytes = std::make_shared<std::string>(body);
    response.set_content_provider(bytes->size(), type,
                                  [bytes](size_t offset, size_t length, httplib::DataSink &sink) {
                                      sink.write(bytes->data() + offset, length);
                                      return false;
                                  });
}

// One POST to the printer's path: the body goes to the exchange as it arrives.
void ServeIpp(HttpServer *http, const httplib::Request &request, httplib::Response &response,
              const httplib::ContentReader &reader) {
    if (!IsIpp(request.get_header_value("Content-Type")))
        return AnswerAndClose(response, 400, "Only application/ipp is taken here.\n", "text/plain");
    void *exchange = http->functions.open(http->printer);
    // After a refusal the rest of the body is read and dropped, up to a bound, so that a client
    // still sending gets the answer rather than a reset connection.
    bool refused = false;
    uint64_t dropped = 0;
    bool whole = reader([&](const char *bytes, size_t count) {
        if (!refused && http->functions.feed(exchange, bytes, count))
            return true;
        refused = true;
        dropped += count;
        return dropped <= kDroppedBytesMax;
    });
    std::string body;
    http->functions.finish(exchange, whole && !refused ? 1 : 0, &body);
    // What is left of a body that was cut off or not read to its end cannot carry another
    // request.
    if (!whole)
        AnswerAndClose(response, 200, body, "application/ipp");
    else
        response.set_content(body, "application/ipp");
}

} // namespace

HttpServer *OpenHttpServer(int port, int clientTimeoutSeconds,
                           const IppExchangeFunctions &functions, void *printer,
                           const std::string &icon, const std::string &page) {
    HttpServer *http = new HttpServer();
    http->functions = functions;
    http->printer = printer;
    httplib::Server &server = http->server;
    server.set_socket_options(ListenerOptions);
    server.set_read_timeout(clientTimeoutSeconds, 0);
    server.set_write_timeout(clientTimeoutSeconds, 0);
    server.set_keep_alive_timeout(std::min(kKeepAliveSeconds, clientTimeoutSeconds));
    server.set_keep_alive_max_count(kKeepAliveRequests);
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    server.set_connection_limits(kWorkerThreads, kWaitingConnectionsMax);
    // Only a POST may have a body, which is read as it streams: the library would read any
    // other request's body whole into memory, or take it for the next request.
    server.set_pre_routing_handler(
        [](const httplib::Request &request, httplib::Response &response) {
            if (request.method == "POST" || !HasBody(request))
                return httplib::Server::HandlerResponse::Unhandled;
            AnswerAndClose(response, 400, "No body is taken here.\n", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        });
    server.Post(kIppPaths, [http](const httplib::Request &request, httplib::Response &response,
                                  const httplib::ContentReader &reader) {
        ServeIpp(http, request, response, reader);
    });
    server.Post(".*", [](const httplib::Request &request, httplib::Response &response,
                         const httplib::ContentReader &) {
        if (HasBody(request))
            AnswerAndClose(response, 404, "Not found.\n", "text/plain");
        else
            response.status = 404;
    });
    server.Get("/icon.png", [icon](const httplib::Request &, httplib::Response &response) {
        response.set_content(icon, "image/png");
    });
    server.Get("/", [page](const httplib::Request &, httplib::Response &response) {
        response.set_content(page, "text/html; charset=utf-8");
    });
    if (!server.bind_to_port("127.0.0.1", port)) {
        delete http;
        return nullptr;
    }
    return http;
}

int ServeHttp(HttpServer *server) {
    return server->server.listen_after_bind() ? 1 : 0;
}

void CloseHttpServer(HttpServer *server) {
    delete server;
}
