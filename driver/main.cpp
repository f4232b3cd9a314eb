// VellumTransit: turns the spooled page images into one PDF and delivers it to the e-reader.
#include "common/win32.h"

#include "driver/run.h"

// Takes no arguments and reads no configuration; always exits with 0.
int main() {
    return RunVellumTransit();
}
