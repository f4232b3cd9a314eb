// The walk to documents and its survey: see documents_walk.h.
#include "common/win32.h"

#include "media/documents_walk.h"

#include "common/debug_trace.h"

namespace {

const char kDocumentsFolder[] = "documents";

// The search of a storage's root for the documents folder: the first folder named exactly
// so ends the whole walk; the first named so in other letters is kept in case none is.
struct RootSearch {
    HeldId *exact;
    HeldId *caseless;
    bool outOfMemory;
};

bool VisitRootChild(void *context, LPCWSTR id, IPortableDeviceValues *values, HRESULT read) {
    RootSearch *search = static_cast<RootSearch *>(context);
    GUID type;
    TaskText name;
    HRESULT result = values ? values->GetGuidValue(WPD_OBJECT_CONTENT_TYPE, &type) : read;
    if (SUCCEEDED(result) && !(type == WPD_CONTENT_TYPE_FOLDER))
        return true;
    if (SUCCEEDED(result))
        result = values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, &name.text);
    if (FAILED(result)) {
        SkipChild(id, values, result);
        return true;
    }
    bool exact = Matches(name.text, kDocumentsFolder, sizeof kDocumentsFolder - 1, kExactCase);
    if (!exact && (search->caseless->text || !SameName(name.text, kDocumentsFolder)))
        return true;
    search->outOfMemory = !HoldId(id, exact ? search->exact : search->caseless);
    return !exact && !search->outOfMemory;
}

// The walk of the device object's children: its storages, each searched for documents.
struct StorageWalk {
    const OpenDevice *open;
    IPortableDeviceKeyCollection *rootKeys;
    RootSearch search;
    HRESULT failure;
};

bool VisitDeviceChild(void *context, LPCWSTR id, IPortableDeviceValues *values, HRESULT read) {
    StorageWalk *walk = static_cast<StorageWalk *>(context);
    GUID type, category;
    HRESULT result = values ? values->GetGuidValue(WPD_OBJECT_CONTENT_TYPE, &type) : read;
    if (SUCCEEDED(result) && type == WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT)
        result = values->GetGuidValue(WPD_FUNCTIONAL_OBJECT_CATEGORY, &category);
    if (FAILED(result)) {
        SkipChild(id, values, result);
        return true;
    }
    if (!(type == WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT) ||
        !(category == WPD_FUNCTIONAL_CATEGORY_STORAGE))
        return true;
    TaskText name;
    char console[kConsoleTextSize];
    values->GetStringValue(WPD_OBJECT_NAME, &name.text);
    ToConsoleText(name.text, console, sizeof console);
    bool hadCaseless = walk->search.caseless->text != nullptr;
    walk->failure = VisitChildren(*walk->open, id, walk->rootKeys, VisitRootChild, &walk->search);
    if (SUCCEEDED(walk->failure) && walk->search.outOfMemory)
        walk->failure = E_OUTOFMEMORY;
    bool found = walk->search.exact->text != nullptr;
    DebugTrace("        \"%s\": %s\n", console,
               FAILED(walk->failure) ? "not readable"
               : found               ? "documents folder found"
               : !hadCaseless && walk->search.caseless->text
                   ? "only a documents folder in other letters"
                   : "no documents folder");
    return SUCCEEDED(walk->failure) && !found;
}

// One survey of documents on its way.
struct DocumentWalk {
    DocumentSurvey *survey;
    HRESULT failure;
};

bool VisitDocument(void *context, LPCWSTR id, IPortableDeviceValues *values, HRESULT read) {
    DocumentWalk *walk = static_cast<DocumentWalk *>(context);
    TaskText name;
    bool objectName = false;
    HRESULT result = values ? ChildName(values, &name, &objectName) : read;
    if (FAILED(result)) { // a name that cannot be checked cannot be called free
        char console[kConsoleTextSize];
        ToConsoleText(id, console, sizeof console);
        DebugTrace("        %s: %s (0x%08X)\n", console, values ? "no name" : "not readable",
                   (unsigned)result);
        walk->failure = result;
        return false;
    }
    const DocumentSurvey &survey = *walk->survey;
    bool noted = survey.notedName && Carries(name.text, objectName, survey.notedName);
    if (!noted && !Matches(name.text, survey.base, strlen(survey.base), kAnyCase | kPrefix))
        return true;
    char candidate[kDeliveredNameSize];
    int carried = 0;
    for (int number = 1; number <= kDeliveredNameLast; ++number)
        if (FormatDeliveredName(survey.base, number, candidate, sizeof candidate) &&
            Carries(name.text, objectName, candidate))
            walk->survey->taken[carried = number] = true;
    ULONGLONG size = 0;
    if ((carried || noted) &&
        SUCCEEDED(values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, &size)) &&
        !NoteDocument(walk->survey, carried, noted, size, id, (wcslen(id) + 1) * sizeof(WCHAR))) {
        walk->failure = E_OUTOFMEMORY;
        return false;
    }
    return true;
}

} // namespace

// Finds the documents folder at the root of a storage: the first named exactly so, in the
// order of the storages; only when no storage has one, the first named so in other letters (a
// device with a case-sensitive file system reads only "documents"). S_OK with folder->text set
// when found, S_OK with it null when no storage has one, or the failure.
HRESULT FindDocumentsFolder(const OpenDevice &open, HeldId *folder) {
    const PROPERTYKEY *const deviceKeys[] = {&WPD_OBJECT_CONTENT_TYPE,
                                             &WPD_FUNCTIONAL_OBJECT_CATEGORY, &WPD_OBJECT_NAME};
    const PROPERTYKEY *const rootKeys[] = {&WPD_OBJECT_CONTENT_TYPE,
                                           &WPD_OBJECT_ORIGINAL_FILE_NAME};
    ComRelease<IPortableDeviceKeyCollection> storageKeys, folderKeys;
    HRESULT result = CreateKeys(deviceKeys, 3, &storageKeys.object);
    if (SUCCEEDED(result))
        result = CreateKeys(rootKeys, 2, &folderKeys.object);
    if (FAILED(result))
        return TraceFailure("property keys", result);
    DebugTrace("    Storages:\n");
    HeldId caseless;
    StorageWalk walk = {&open, folderKeys.object, {folder, &caseless, false}, S_OK};
    result = VisitChildren(open, WPD_DEVICE_OBJECT_ID, storageKeys.object, VisitDeviceChild, &walk);
    if (FAILED(walk.failure) || FAILED(result))
        return FAILED(walk.failure) ? walk.failure : result;
    if (!folder->text) {
        folder->text = caseless.text;
        caseless.text = nullptr;
    }
    return S_OK;
}

HRESULT SurveyDocuments(const OpenDevice &open, LPCWSTR folder, DocumentSurvey *survey) {
    const PROPERTYKEY *const keys[] = {&WPD_OBJECT_ORIGINAL_FILE_NAME, &WPD_OBJECT_NAME,
                                       &WPD_OBJECT_SIZE};
    ComRelease<IPortableDeviceKeyCollection> keyCollection;
    DocumentWalk walk = {survey, S_OK};
    HRESULT result = CreateKeys(keys, 3, &keyCollection.object);
    if (SUCCEEDED(result))
        result = VisitChildren(open, folder, keyCollection.object, VisitDocument, &walk);
    if (SUCCEEDED(result))
        result = walk.failure;
    return FAILED(result) ? TraceFailure("checking the names in documents", result) : result;
}
