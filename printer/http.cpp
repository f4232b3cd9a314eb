// The HTTP side, over cpp-httplib. Sockets are real on both builds, so this unit talks to the
// socket library directly and does not include the platform header.
#include "printer/http.h"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
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

// Many requests per connection: a client keeps one open for a whole job's polling.
const size_t kKeepAliveRequests = 1000;
const size_t kWorkerThreads = 8;

// One listener per port: never share it with another process (Linux's SO_REUSEPORT would).
void ListenerOptions(socket_t sock) {
    int yes = 1;
#ifdef _WIN32
    setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<char *>(&yes), sizeof yes);
#else
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
}

// One POST to the printer's path: the body goes to the exchange as it arrives.
void ServeIpp(HttpServer *http, const httplib::Request &request, httplib::Response &response,
              const httplib::ContentReader &reader) {
    if (request.get_header_value("Content-Type").compare(0, 15, "application/ipp") != 0) {
        response.status = 400;
        return;
    }
    void *exchange = http->functions.open(http->printer);
    bool refused = false;
    bool whole = reader([&](const char *bytes, size_t count) {
        refused = !http->functions.feed(exchange, bytes, count);
        return !refused;
    });
    std::string body;
    http->functions.finish(exchange, whole ? 1 : 0, &body);
    // What was left of a refused body is still on the connection: it cannot carry another
    // request.
    if (refused)
        response.set_header("Connection", "close");
    response.set_content(body, "application/ipp");
}

} // namespace

HttpServer *OpenHttpServer(int port, int clientTimeoutSeconds,
                           const IppExchangeFunctions &functions, void *printer,
                           const std::string &icon) {
    HttpServer *http = new HttpServer();
    http->functions = functions;
    http->printer = printer;
    httplib::Server &server = http->server;
    server.set_socket_options(ListenerOptions);
    server.set_read_timeout(clientTimeoutSeconds, 0);
    server.set_write_timeout(clientTimeoutSeconds, 0);
    server.set_keep_alive_timeout(clientTimeoutSeconds);
    server.set_keep_alive_max_count(kKeepAliveRequests);
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    server.Post(kPrinterPath, [http](const httplib::Request &request, httplib::Response &response,
                                     const httplib::ContentReader &reader) {
        ServeIpp(http, request, response, reader);
    });
    server.Get("/icon.png", [icon](const httplib::Request &, httplib::Response &response) {
        response.set_content(icon, "image/png");
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

void StopHttpServer(HttpServer *server) {
    server->server.stop();
}

void CloseHttpServer(HttpServer *server) {
    delete server;
}
