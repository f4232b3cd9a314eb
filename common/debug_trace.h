// The diagnostic sink: printf-style lines about each drive and its device. The product
// discards them; the host build hands each formatted line to the simulated machine, which keeps
// them in trace.log when asked to, so that a whole run's report can be read.
#pragma once

void DebugTrace(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
