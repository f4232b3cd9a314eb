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

// Delivers the file to the opened device (or reports that it could not be opened: opened is
// the failure); prints the device's console lines. Before anything is sent, what a killed run
// left on this device is settled: a copy it cut short (the object its note names, holding only
// the start of the PDF it was sending) is removed, and its whole copy of this very PDF counts as
// the delivery. The note of the new copy stays until the caller has deleted the PDF.
MediaDeliveryResult DeliverToDevice(const OpenDevice &open, HRESULT opened, const char *name,
                                    const char *deviceId, const char *fileName, const char *base) {
    DebugTrace("Delivery to %s\n", name);
    HeldId folder;
    char deliveredName[kDeliveredNameSize];
    SendingNote note = {};
    long long localTime = 0;
    DocumentSurvey survey = {};
    survey.base = base ? base : kDeliveredPrefix;
    DocumentSurveyGuard guard = {&survey};
    HeldId newId;
    bool created = false, noting = false; // noting: the note names the new copy
    int delivered = 0, cut = 0;
    HRESULT result = opened;
    if (SUCCEEDED(result))
        result = FindDocumentsFolder(open, &folder);
    if (SUCCEEDED(result) && !folder.text) {
        printf("%s: No documents folder.\n", name);
        return MEDIA_FAILED;
    }
    if (SUCCEEDED(result) && FindFileIdentity(fileName, &survey.localSize, &localTime) != 1)
        result = TraceFailure("finding the PDF", kNoLocalFile);
    if (SUCCEEDED(result) && !base)
        result = TraceFailure("reading the PDF's title", kShortLocalRead);
    if (SUCCEEDED(result) && ReadSendingNote(deviceId, &note) < 0)
        result = TraceFailure("reading the note", kShortLocalRead);
    // A note of another e-reader is not this one's to settle; one of an earlier version names no
    // PDF and no device, and is taken for this PDF's on this device, as it was written.
    bool here = !note.known || strcmp(note.device, deviceId) == 0;
    bool thisPdf = !note.known || NotesThisCopy(note, survey.localSize, localTime, deviceId);
    if (SUCCEEDED(result)) {
        survey.notedName = here && note.name[0] ? note.name : nullptr;
        result = SurveyDocuments(open, folder.text, &survey);
    }
    if (SUCCEEDED(result))
        result =
            CompareCandidates(open, survey, fileName, thisPdf ? 0 : note.pdfSize, &delivered, &cut);
    // A note is never deleted unsettled: while the copy it names cut short cannot be removed, no
    // other copy is sent (its note would replace this one), and the next run tries again.
    if (SUCCEEDED(result) && cut) {
        if (RemoveNewObject(open, folder.text, note.name))
            survey.taken[survey.documents[cut - 1].number] = false;
        else
            result = TraceFailure("removing the copy cut short", E_FAIL);
    }
    if (SUCCEEDED(result) && survey.notedName && !delivered)
        DeleteSendingNote(deviceId);
    if (SUCCEEDED(result) && delivered) {
        DebugTrace("    already on the device as \"%s\"\n", note.name);
        printf("%s: Output already on Kindle!\n", name);
        return MEDIA_ALREADY;
    }
    if (SUCCEEDED(result) && !ChooseFreeName(survey, deliveredName, sizeof deliveredName))
        result = TraceFailure("free name", kNoFreeName);
    if (SUCCEEDED(result)) {
        note = {};
        snprintf(note.name, sizeof note.name, "%s", deliveredName);
        note.pdfSize = survey.localSize;
        note.pdfTime = localTime;
        snprintf(note.device, sizeof note.device, "%s", deviceId);
        if (!WriteSendingNote(note))
            result = TraceFailure("writing the note", STG_E_WRITEFAULT);
        noting = SUCCEEDED(result);
    }
    if (SUCCEEDED(result))
        result = SendFile(open, folder.text, deliveredName, fileName, &survey.localSize, &newId,
                          &created);
    if (SUCCEEDED(result))
        result = VerifySize(open, newId.text, survey.localSize);
    bool gone = true; // nothing partial, nor an object that cannot be trusted, is left
    if (FAILED(result) && created)
        gone = RemoveNewObject(open, folder.text, deliveredName);
    // After a failure the note stays only while a copy cut short may be on the device: the next
    // run settles it.
    if (FAILED(result) && gone && noting)
        DeleteSendingNote(deviceId);
    if (FAILED(result)) {
        printf("%s: Could not copy the PDF (error 0x%08X).\n", name, (unsigned)result);
        return MEDIA_FAILED;
    }
    printf("%s: Output copied to Kindle!\n", name);
    return MEDIA_COPIED;
}

} // namespace

MediaDeliveryResult DeliverToMediaEreader(MediaEreader *ereader, const char *fileName,
                                          const char *base) {
    return DeliverToDevice(ereader->open, ereader->opened, ereader->name, ereader->id, fileName,
                           base);
}
