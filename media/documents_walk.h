// The walk to documents: device -> storages -> a "documents" folder at a storage's root, and the
// survey of that folder's objects by the names they carry (a file name, or an object name with
// or without ".pdf", as MTP devices drop the extension).
#pragma once

#include "common/document_survey.h"
#include "media/wpd_objects.h"

// Finds the documents folder at the root of a storage: the first named exactly so, in the order
// of the storages; only when no storage has one, the first named so in other letters (a device
// with a case-sensitive file system reads only "documents"). S_OK with folder->text set when
// found, S_OK with it null when no storage has one, or the failure.
HRESULT FindDocumentsFolder(const OpenDevice &open, HeldId *folder);

// Surveys the documents folder into survey (its localSize and noted set by the caller): the
// delivered names taken, and the objects that may hold the PDF, kept by their identifiers. An
// object whose name cannot be read leaves no name free: the failure.
HRESULT SurveyDocuments(const OpenDevice &open, LPCWSTR folder, DocumentSurvey *survey);
