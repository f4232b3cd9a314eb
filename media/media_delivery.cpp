// The media route: delivery of the PDF to the e-reader found among the portable devices. Its
// units: which e-reader (media_device), the walk to documents and its survey (documents_walk),
// the transfer and its check (media_transfer), and the sending note (common/sending_note).
#include "common/win32.h"

#include "media/media_delivery.h"

#include "common/debug_trace.h"
#include "common/delivered_name.h"
#include "common/document_survey.h"
#include "common/durable_file.h"
#include "common/sending_note.h"
#include "media/documents_walk.h"
#include "media/media_device.h"
#include "media/media_transfer.h"

namespace {

// The size of the local PDF; the failure when it is not there.
HRESULT LocalSize(const char *fileName, ULONGLONG *size) {
    uint64_t found = 0;
    if (FindFileSize(fileName, &found) != 1)
        return TraceFailure("finding the PDF", kNoLocalFile);
    *size = found;
    return S_OK;
}

// Delivers the file to the opened device (or reports that it could not be opened: opened is
// the failure); prints the device's console lines. Before anything is sent, what a killed run
// left is settled: a copy it cut short (the object its note names, holding only the start of
// the PDF) is removed, and a whole copy counts as the delivery.
MediaDeliveryResult DeliverToDevice(const OpenDevice &open, HRESULT opened, const char *name,
                                    const char *fileName) {
    DebugTrace("Delivery to %s\n", name);
    HeldId folder;
    char deliveredName[kNameSize], noted[kNameSize];
    DocumentSurvey survey = {};
    DocumentSurveyGuard guard = {&survey};
    HeldId newId;
    bool created = false;
    int delivered = 0, cut = 0;
    HRESULT result = opened;
    if (SUCCEEDED(result))
        result = FindDocumentsFolder(open, &folder);
    if (SUCCEEDED(result) && !folder.text) {
        printf("%s: No documents folder.\n", name);
        return MEDIA_FAILED;
    }
    if (SUCCEEDED(result))
        result = LocalSize(fileName, &survey.localSize);
    if (SUCCEEDED(result) && ReadSendingNote(noted, sizeof noted) < 0)
        result = TraceFailure("reading the note", kShortLocalRead);
    if (SUCCEEDED(result)) {
        survey.noted = ParseDeliveredName(noted);
        result = SurveyDocuments(open, folder.text, &survey);
    }
    if (SUCCEEDED(result))
        result = CompareCandidates(open, survey, fileName, &delivered, &cut);
    bool settled = true; // nothing the note names is a copy cut short any more
    if (SUCCEEDED(result) && cut && (settled = RemoveNewObject(open, folder.text, noted)))
        survey.taken[cut] = false;
    if (SUCCEEDED(result) && survey.noted && settled)
        DeleteSendingNote();
    if (SUCCEEDED(result) && delivered) {
        DebugTrace("    already on the device as \"%s\"\n",
                   FormatDeliveredName(delivered, deliveredName, sizeof deliveredName)
                       ? deliveredName
                       : "?");
        printf("%s: Output already on Kindle!\n", name);
        return MEDIA_ALREADY;
    }
    if (SUCCEEDED(result) && !ChooseFreeName(survey, deliveredName, sizeof deliveredName))
        result = TraceFailure("free name", kNoFreeName);
    if (SUCCEEDED(result) && !WriteSendingNote(deliveredName))
        result = TraceFailure("writing the note", STG_E_WRITEFAULT);
    if (SUCCEEDED(result))
        result = SendFile(open, folder.text, deliveredName, fileName, &survey.localSize, &newId,
                          &created);
    if (SUCCEEDED(result))
        result = VerifySize(open, newId.text, survey.localSize);
    bool gone = true; // nothing partial, nor an object that cannot be trusted, is left
    if (FAILED(result) && created)
        gone = RemoveNewObject(open, folder.text, deliveredName);
    // The note stays only while a copy cut short may be on the device: the next run settles it.
    if (gone)
        DeleteSendingNote();
    if (FAILED(result)) {
        printf("%s: Could not copy the PDF (error 0x%08X).\n", name, (unsigned)result);
        return MEDIA_FAILED;
    }
    printf("%s: Output copied to Kindle!\n", name);
    return MEDIA_COPIED;
}

} // namespace

MediaDeliveryResult DeliverToMediaEreader(MediaEreader *ereader, const char *fileName) {
    return DeliverToDevice(ereader->open, ereader->opened, ereader->name, fileName);
}
