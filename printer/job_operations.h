// The printer's IPP operations on jobs: Print-Job and Send-Document (whose documents are then
// taken in by printer/job_processing.h), Validate-Job, Create-Job, Close-Job, Cancel-Job,
// Cancel-My-Jobs, Get-Job-Attributes and Get-Jobs. Each fills the response: its status and
// the job or printer attributes it answers with.
#pragma once

#include "printer/ipp.h"
#include "printer/job_processing.h"
#include "printer/printer.h"

// Operations that take no document.
void CreateJob(Printer *printer, const IppMessage &request, IppMessage *response);
void CloseJob(Printer *printer, const IppMessage &request, IppMessage *response);
void CancelJob(Printer *printer, const IppMessage &request, IppMessage *response);
void CancelMyJobs(Printer *printer, const IppMessage &request, IppMessage *response);
void GetJobAttributes(Printer *printer, const IppMessage &request, IppMessage *response);
void GetJobs(Printer *printer, const IppMessage &request, IppMessage *response);

// Whether the document format and compression of a request are ones the printer takes;
// otherwise fills response with the refusal. Validate-Job is this check.
bool CheckDocumentAttributes(const IppMessage &request, IppMessage *response);

// Print-Job and Send-Document: starts intake for a new job or the one named; false with the
// refusal in response when there is nothing to take in.
bool BeginDocument(Printer *printer, const IppMessage &request, DocumentIntake *intake,
                   IppMessage *response);

// The document has ended (whole: all of it arrived): answers with the job's attributes and
// the status of its intake.
void EndDocument(DocumentIntake *intake, bool whole, IppMessage *response);
