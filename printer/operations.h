// The operations the printer serves, one table: the request dispatch runs an operation from it
// and operations-supported lists it, so that what is advertised is what is served.
#pragma once

#include <cstddef>
#include <cstdint>

#include "printer/ipp.h"

struct DocumentIntake;
struct Printer;

// Runs one operation on a checked request, filling the response; returns true when a document
// follows the request's attributes (intake then takes it).
typedef bool (*OperationFunction)(Printer *printer, const IppMessage &request,
                                  DocumentIntake *intake, IppMessage *response);

struct PrinterOperation {
    IppOperation code;
    OperationFunction run;
};

// The table, in the order of the codes.
extern const PrinterOperation kPrinterOperations[];
extern const size_t kPrinterOperationCount;

// The operation of that code, or null when the printer does not serve it.
const PrinterOperation *FindPrinterOperation(uint16_t code);
