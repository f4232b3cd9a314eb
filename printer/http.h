// The printer's HTTP/1.1 side: listens on 127.0.0.1 only, keeps connections alive between
// requests for a few seconds (waiting, they hold no thread), takes bodies with Content-Length
// or chunked, and drops a client silent for the time limit inside a request. A request's head
// is bounded (100 lines, 64 KiB: past it 431 and the connection closed) and must be whole 5 s
// after its first byte; a client that finds every worker busy is answered 503 at once. Each POST of
// application/ipp to the printer's path (or a job's, below it) is handed to the exchange functions
// below as its body arrives; GET /icon.png is the printer's icon and GET / its page; everything
// else is answered 404 or 400 here, and a body that is not the printer's is never read: its
// connection is closed.
#pragma once

#include <cstddef>
#include <string>

// What the server calls for one IPP request. open makes an exchange; feed takes each piece of
// the body in order and returns 0 to refuse the rest; finish gets whether the body arrived
// whole (0: the client went silent or away, or feed refused) and fills the response body.
struct IppExchangeFunctions {
    void *(*open)(void *printer);
    int (*feed)(void *exchange, const char *bytes, size_t count);
    void (*finish)(void *exchange, int whole, std::string *response);
};

struct HttpServer;

const char kPrinterPath[] = "/ipp/print";

// Binds 127.0.0.1:port; null when the port cannot be had. icon is served as /icon.png and page
// (HTML) as /.
HttpServer *OpenHttpServer(int port, int clientTimeoutSeconds,
                           const IppExchangeFunctions &functions, void *printer,
                           const std::string &icon, const std::string &page);

// Serves for good. It returns (0) only when the listener fails, and only once every request
// it took has ended.
int ServeHttp(HttpServer *server);

// Releases the server after ServeHttp has returned (or was never called).
void CloseHttpServer(HttpServer *server);
