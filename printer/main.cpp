// vellumtransit-printer: a driverless IPP printer on 127.0.0.1 that hands each job's pages to
// the spool folder and starts vellumtransit.exe on them.
#include "common/win32.h"

#include "printer/heap.h"
#include "printer/system.h"

#include <string>

namespace {

// A whole number from min to max, or -1.
long NumberArgument(const char *text, long min, long max) {
    char *end = nullptr;
    long value = strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= min && value <= max ? value : -1;
}

} // namespace

// vellumtransit-printer [--port N] [--client-timeout SECONDS] [--log FILE]
int main(int argc, char **argv) {
    SettleLargeBlocks();
    long port = kDefaultPort, timeout = kDefaultClientTimeoutSeconds;
    std::string log;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--log" && i + 1 < argc && argv[i + 1][0] != '\0') {
            log = argv[++i];
            continue;
        }
        long *value = option == "--port"             ? &port
                      : option == "--client-timeout" ? &timeout
                                                     : nullptr;
        if (value && i + 1 < argc)
            *value = NumberArgument(argv[++i], 1, value == &port ? 65535 : 3600);
        else
            value = nullptr;
        if (!value || *value < 0) {
            fprintf(stderr, "usage: vellumtransit-printer [--port N] [--client-timeout SECONDS] "
                            "[--log FILE]\n");
            return 2;
        }
    }
    return RunPrinterService((int)port, (int)timeout, log);
}
