#include "common/win32.h"

#include "common/debug_trace.h"

// Discards on Windows; in the host build formats the line for the simulated machine.
void DebugTrace(const char *format, ...) {
#ifdef _WIN32
    (void)format;
#else
    char line[8192];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    SimDebugTraceSink(line);
#endif
}
