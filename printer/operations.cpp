// The printer's operations.
#include "printer/operations.h"

#include <mutex>

#include "printer/job_operations.h"
#include "printer/printer.h"

namespace {

// The requested-attributes of a request (none: all).
std::set<std::string> RequestedNames(const IppMessage &request) {
    std::set<std::string> asked;
    if (const IppAttribute *names =
            FindIppAttribute(request, IPP_TAG_OPERATION, "requested-attributes"))
        for (const IppValue &value : names->values)
            asked.insert(value.bytes);
    return asked;
}

// Print-Job and Send-Document: a document follows when the request is taken.
bool PrintJobOrSendDocument(Printer *printer, const IppMessage &request, DocumentIntake *intake,
                            IppMessage *response) {
    return BeginDocument(printer, request, intake, response);
}

// Validate-Job: the checks of Print-Job, without a job.
bool ValidateJob(Printer *, const IppMessage &request, DocumentIntake *, IppMessage *response) {
    if (CheckDocumentAttributes(request, response))
        SetIppStatus(response, IPP_OK, "");
    return false;
}

// Get-Printer-Attributes: the attributes asked for, or all of them.
bool GetPrinterAttributes(Printer *printer, const IppMessage &request, DocumentIntake *,
                          IppMessage *response) {
    std::set<std::string> asked = RequestedNames(request);
    std::lock_guard<std::mutex> guard(printer->lock);
    AddPrinterAttributes(*printer, asked, response);
    return false;
}

// Identify-Printer: there is nothing to light up.
bool IdentifyPrinter(Printer *, const IppMessage &, DocumentIntake *, IppMessage *) {
    return false;
}

// An operation without a document, from its job operation.
template <void (*Operation)(Printer *, const IppMessage &, IppMessage *)>
bool WithoutDocument(Printer *printer, const IppMessage &request, DocumentIntake *,
                     IppMessage *response) {
    Operation(printer, request, response);
    return false;
}

} // namespace

const PrinterOperation kPrinterOperations[] = {
    {IPP_OP_PRINT_JOB, PrintJobOrSendDocument},
    {IPP_OP_VALIDATE_JOB, ValidateJob},
    {IPP_OP_CREATE_JOB, WithoutDocument<CreateJob>},
    {IPP_OP_SEND_DOCUMENT, PrintJobOrSendDocument},
    {IPP_OP_CANCEL_JOB, WithoutDocument<CancelJob>},
    {IPP_OP_GET_JOB_ATTRIBUTES, WithoutDocument<GetJobAttributes>},
    {IPP_OP_GET_JOBS, WithoutDocument<GetJobs>},
    {IPP_OP_GET_PRINTER_ATTRIBUTES, GetPrinterAttributes},
    {IPP_OP_CANCEL_MY_JOBS, WithoutDocument<CancelMyJobs>},
    {IPP_OP_CLOSE_JOB, WithoutDocument<CloseJob>},
    {IPP_OP_IDENTIFY_PRINTER, IdentifyPrinter},
};
const size_t kPrinterOperationCount = sizeof kPrinterOperations / sizeof *kPrinterOperations;

const PrinterOperation *FindPrinterOperation(uint16_t code) {
    for (size_t i = 0; i < kPrinterOperationCount; ++i)
        if (kPrinterOperations[i].code == code)
            return &kPrinterOperations[i];
    return nullptr;
}
