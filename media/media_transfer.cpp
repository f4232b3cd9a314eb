// The transfer and its check: see media_transfer.h.
#include "common/win32.h"

#include "media/media_transfer.h"

#include "common/debug_trace.h"

namespace {

// The local file, open for reading, and the buffer of one piece; released on every way out.
struct LocalFile {
    FILE *file = nullptr;
    unsigned char *buffer = nullptr;
    ~LocalFile() {
        if (file)
            fclose(file);
        free(buffer);
    }
};

// Writes size bytes of the local file through the stream in pieces of pieceSize.
HRESULT WritePieces(IStream *stream, LocalFile *local, ULONGLONG size, DWORD pieceSize) {
    local->buffer = static_cast<unsigned char *>(malloc(pieceSize));
    if (!local->buffer)
        return TraceFailure("transfer buffer", E_OUTOFMEMORY);
    for (ULONGLONG done = 0; done < size;) {
        ULONG piece = size - done < pieceSize ? (ULONG)(size - done) : (ULONG)pieceSize;
        if (fread(local->buffer, 1, piece, local->file) != piece)
            return TraceFailure("reading the PDF", kShortLocalRead);
        ULONG written = 0;
        HRESULT result = stream->Write(local->buffer, piece, &written);
        if (FAILED(result))
            return TraceFailure("IStream::Write", result);
        if (written != piece)
            return TraceFailure("IStream::Write", STG_E_WRITEFAULT);
        done += piece;
    }
    return S_OK;
}

// The search of a folder for the object that carries one name.
struct NamedObject {
    const char *name;
    HeldId *id;
    bool outOfMemory;
};

bool VisitNamedObject(void *context, LPCWSTR id, IPortableDeviceValues *values, HRESULT) {
    NamedObject *search = static_cast<NamedObject *>(context);
    TaskText name;
    bool objectName = false;
    if (!values || FAILED(ChildName(values, &name, &objectName)) ||
        !Carries(name.text, objectName, search->name))
        return true;
    search->outOfMemory = !HoldId(id, search->id);
    return false;
}

// Finds the object of name in folder (its identifier into *id); E_FAIL when there is none.
HRESULT FindObjectByName(const OpenDevice &open, LPCWSTR folder, const char *name, HeldId *id) {
    ComRelease<IPortableDeviceKeyCollection> keys;
    HRESULT result = CreateNameKeys(&keys.object);
    NamedObject search = {name, id, false};
    if (SUCCEEDED(result))
        result = VisitChildren(open, folder, keys.object, VisitNamedObject, &search);
    if (SUCCEEDED(result) && !id->text)
        result = search.outOfMemory ? E_OUTOFMEMORY : E_FAIL;
    return result;
}

// The time of the copy as a VT_DATE: days since 30 December 1899, the time of day as the
// fraction, in local time as the device shows its files' dates.
DATE CopyTime() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    // Days since 1 March of year 0 (so that a leap day ends its year), less those up to 30
    // December 1899.
    long year = (long)now.wYear - (now.wMonth <= 2 ? 1 : 0);
    long month = now.wMonth <= 2 ? now.wMonth + 9 : now.wMonth - 3;
    long days = 365 * year + year / 4 - year / 100 + year / 400 + (153 * month + 2) / 5 + now.wDay -
                1 - 693899;
    double seconds =
        now.wHour * 3600.0 + now.wMinute * 60.0 + now.wSecond + now.wMilliseconds / 1000.0;
    return (DATE)days + seconds / 86400.0;
}

// The search of documents for every object that carries the new object's name, gathered for
// one delete.
struct Carriers {
    const char *name;
    IPortableDevicePropVariantCollection *ids;
    int count;
    bool unsure; // a child could not be judged
    HRESULT failure;
};

bool VisitCarrier(void *context, LPCWSTR id, IPortableDeviceValues *values, HRESULT read) {
    Carriers *search = static_cast<Carriers *>(context);
    TaskText name;
    bool objectName = false;
    HRESULT result = values ? ChildName(values, &name, &objectName) : read;
    if (FAILED(result)) {
        SkipChild(id, values, result);
        search->unsure = true;
        return true;
    }
    if (!Carries(name.text, objectName, search->name))
        return true;
    PROPVARIANT value;
    memset(&value, 0, sizeof value);
    value.vt = VT_LPWSTR;
    value.pwszVal = const_cast<LPWSTR>(id); // the collection keeps its own copy
    search->failure = search->ids->Add(&value);
    search->count += SUCCEEDED(search->failure);
    return SUCCEEDED(search->failure);
}

// Reads a device object's stream for the comparison, however the device splits its bytes.
struct ObjectReader {
    IStream *stream;
    HRESULT failure;
};

int ReadObject(void *context, unsigned char *bytes, size_t count, size_t *got) {
    ObjectReader *reader = static_cast<ObjectReader *>(context);
    *got = 0;
    while (*got < count) {
        ULONG read = 0;
        HRESULT result = reader->stream->Read(bytes + *got, (ULONG)(count - *got), &read);
        if (FAILED(result)) {
            reader->failure = result;
            return 1;
        }
        *got += read;
        if (read == 0)
            break;
    }
    return 0;
}

// Whether the object id holds the first size bytes of the local PDF: S_OK when it does, S_FALSE
// when not, or the failure that kept them from being compared. *endsEarly says that its bytes
// ended before size (a device may report the size declared when the object was made) and that
// all of them were the PDF's: the start of the PDF, cut short.
HRESULT HoldsThePdf(IPortableDeviceResources *resources, LPCWSTR id, const char *fileName,
                    ULONGLONG size, bool *endsEarly) {
    *endsEarly = false;
    ComRelease<IStream> stream;
    DWORD optimal = 0;
    HRESULT result =
        resources->GetStream(id, WPD_RESOURCE_DEFAULT, STGM_READ, &optimal, &stream.object);
    if (FAILED(result))
        return TraceFailure("IPortableDeviceResources::GetStream", result);
    ObjectReader reader = {stream.object, S_OK};
    switch (CompareWithPdf(fileName, size, ReadObject, &reader)) {
    case LIKE_WHOLE:
        return S_OK;
    case LIKE_START:
        *endsEarly = true;
        return S_FALSE;
    case LIKE_DIFFERENT:
        return S_FALSE;
    case LIKE_NO_COPY:
        return TraceFailure("IStream::Read", reader.failure);
    case LIKE_NO_PDF:
        break;
    }
    return TraceFailure("reading the PDF", kShortLocalRead);
}

} // namespace

HRESULT CompareCandidates(const OpenDevice &open, const DocumentSurvey &survey,
                          const char *fileName, uint64_t otherPdfSize, int *delivered, int *cut) {
    *delivered = *cut = 0;
    if (survey.count == 0)
        return S_OK;
    if (otherPdfSize) { // the PDF it copied is gone: only its size tells a whole copy from a cut
                        // one
        for (int i = 0; i < survey.count; ++i)
            if (survey.documents[i].size < otherPdfSize)
                *cut = i + 1;
        return S_OK;
    }
    ComRelease<IPortableDeviceResources> resources;
    HRESULT result = open.content.object->Transfer(&resources.object);
    if (FAILED(result))
        return TraceFailure("IPortableDeviceContent::Transfer", result);
    for (int i = 0; i < survey.count && *delivered == 0; ++i) {
        const SurveyedDocument &candidate = survey.documents[i];
        bool endsEarly = false;
        result = HoldsThePdf(resources.object, static_cast<LPCWSTR>(candidate.id), fileName,
                             candidate.size, &endsEarly);
        if (FAILED(result))
            return result;
        if (result == S_OK && candidate.size == survey.localSize)
            *delivered = i + 1;
        else if (result == S_OK || endsEarly)
            *cut = i + 1;
    }
    if (*delivered)
        *cut = 0;
    return S_OK;
}

HRESULT SendFile(const OpenDevice &open, LPCWSTR folder, const char *name, const char *fileName,
                 const ULONGLONG *size, HeldId *newId, bool *created) {
    LocalFile local;
    local.file = fopen(fileName, "rb");
    if (!local.file)
        return TraceFailure("opening the PDF", kNoLocalFile);

    WCHAR wideName[kDeliveredNameSize];
    if (!WidenName(name, wideName, sizeof wideName / sizeof wideName[0]))
        return TraceFailure("the name", kNoFreeName);
    PROPVARIANT now;
    memset(&now, 0, sizeof now);
    now.vt = VT_DATE;
    now.date = CopyTime();
    ComRelease<IPortableDeviceValues> values;
    HRESULT result = CreateValues(&values.object);
    if (SUCCEEDED(result))
        result = values.object->SetStringValue(WPD_OBJECT_PARENT_ID, folder);
    if (SUCCEEDED(result))
        result = values.object->SetStringValue(WPD_OBJECT_NAME, wideName);
    if (SUCCEEDED(result))
        result = values.object->SetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, wideName);
    if (SUCCEEDED(result))
        result = values.object->SetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, *size);
    if (SUCCEEDED(result))
        result = values.object->SetGuidValue(WPD_OBJECT_FORMAT, WPD_OBJECT_FORMAT_UNSPECIFIED);
    if (SUCCEEDED(result))
        result =
            values.object->SetGuidValue(WPD_OBJECT_CONTENT_TYPE, WPD_CONTENT_TYPE_GENERIC_FILE);
    // Known-working clients of these devices date their objects; the device shows the dates.
    if (SUCCEEDED(result))
        result = values.object->SetValue(WPD_OBJECT_DATE_CREATED, &now);
    if (SUCCEEDED(result))
        result = values.object->SetValue(WPD_OBJECT_DATE_MODIFIED, &now);
    if (FAILED(result))
        return TraceFailure("object properties", result);

    ComRelease<IStream> stream;
    DWORD pieceSize = 0;
    result = open.content.object->CreateObjectWithPropertiesAndData(values.object, &stream.object,
                                                                    &pieceSize, nullptr);
    if (FAILED(result))
        return TraceFailure("IPortableDeviceContent::CreateObjectWithPropertiesAndData", result);
    *created = true;
    DWORD piece = pieceSize == 0                 ? (DWORD)kFallbackTransfer
                  : pieceSize > kLargestTransfer ? (DWORD)kLargestTransfer
                                                 : pieceSize;
    DebugTrace("    New object \"%s\": %llu bytes in pieces of %u (the device asks for %u)\n", name,
               (unsigned long long)*size, (unsigned)piece, (unsigned)pieceSize);
    result = WritePieces(stream.object, &local, *size, piece);
    if (SUCCEEDED(result)) {
        result = stream.object->Commit(STGC_DEFAULT);
        if (FAILED(result))
            TraceFailure("IStream::Commit", result);
    }
    if (FAILED(result)) {
        stream.object->Revert();
        return result;
    }
    ComRelease<IPortableDeviceDataStream> data;
    TaskText id;
    result = stream.object->QueryInterface(IID_IPortableDeviceDataStream,
                                           reinterpret_cast<void **>(&data.object));
    if (SUCCEEDED(result))
        result = data.object->GetObjectID(&id.text);
    if (SUCCEEDED(result) && !HoldId(id.text, newId))
        result = E_OUTOFMEMORY;
    if (FAILED(result)) {
        // The object is on the device all the same: find it by its name, so that it is checked
        // (or removed) rather than left beside the next run's copy.
        TraceFailure("IPortableDeviceDataStream::GetObjectID", result);
        HRESULT found = FindObjectByName(open, folder, name, newId);
        if (FAILED(found))
            return TraceFailure("finding the new object", result);
    }
    return S_OK;
}

HRESULT VerifySize(const OpenDevice &open, LPWSTR id, ULONGLONG size) {
    const PROPERTYKEY *const sizeKey[] = {&WPD_OBJECT_SIZE};
    ComRelease<IPortableDeviceKeyCollection> keys;
    ComRelease<IPortableDeviceValues> values;
    ULONGLONG stored = 0;
    HRESULT result = CreateKeys(sizeKey, 1, &keys.object);
    if (SUCCEEDED(result))
        result = open.properties.object->GetValues(id, keys.object, &values.object);
    if (SUCCEEDED(result))
        result = values.object->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, &stored);
    if (SUCCEEDED(result) && stored != size) {
        DebugTrace("    the device holds %llu bytes of %llu\n", (unsigned long long)stored,
                   (unsigned long long)size);
        result = kSizeMismatch;
    }
    return FAILED(result) ? TraceFailure("reading the size back", result) : result;
}

bool RemoveNewObject(const OpenDevice &open, LPCWSTR folder, const char *name) {
    ComRelease<IPortableDeviceKeyCollection> keys;
    ComRelease<IPortableDevicePropVariantCollection> ids;
    HRESULT result = CreateNameKeys(&keys.object);
    if (SUCCEEDED(result))
        result = CoCreateInstance(CLSID_PortableDevicePropVariantCollection, nullptr,
                                  CLSCTX_INPROC_SERVER, IID_IPortableDevicePropVariantCollection,
                                  reinterpret_cast<void **>(&ids.object));
    Carriers search = {name, ids.object, 0, false, S_OK};
    if (SUCCEEDED(result))
        result = VisitChildren(open, folder, keys.object, VisitCarrier, &search);
    if (SUCCEEDED(result))
        result = search.failure;
    if (SUCCEEDED(result) && search.count > 0)
        result =
            open.content.object->Delete(PORTABLE_DEVICE_DELETE_NO_RECURSION, ids.object, nullptr);
    if (FAILED(result))
        DebugTrace("    \"%s\" may be left on the device: not removed (0x%08X)\n", name,
                   (unsigned)result);
    else if (search.count > 0)
        DebugTrace("    \"%s\" removed from the device\n", name);
    else if (search.unsure)
        DebugTrace("    \"%s\" may be left on the device: a child cannot be judged\n", name);
    else
        DebugTrace("    nothing on the device carries \"%s\"\n", name);
    return SUCCEEDED(result) && !search.unsure;
}
