// The printer's HTTP/1.1 side: listens on 127.0.0.1 only, keeps connections alive, takes
// bodies with Content-Length or chunked, and drops a client silent for the time limit. Each
// POST of application/ipp to the printer's path is handed to the exchange functions below as
// its body arrives; GET /icon.png is the printer's icon; everything else is answered 404, 405
// or 400 here.
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

// Binds 127.0.0.1:port; null when the port cannot be had. icon is served as /icon.png.
HttpServer *OpenHttpServer(int port, int clientTimeoutSeconds,
                           const IppExchangeFunctions &functions, void *printer,
                           const std::string &icon);

// Serves until StopHttpServer; returns non-zero when it stopped as asked.
int ServeHttp(HttpServer *server);

// Asks ServeHttp to return (from any thread).
void StopHttpServer(HttpServer *server);

// Releases the server after ServeHttp has returned (or was never called).
void CloseHttpServer(HttpServer *server);
