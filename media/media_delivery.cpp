#include "common/win32.h"

#include "common/debug_trace.h"
#include "common/delivered_name.h"
#include "media/media_delivery.h"

namespace {

enum {
    kDeviceTextSize = 260,     // a device's friendly name, manufacturer or description
    kConsoleTextSize = 1024,   // a device text or identifier as console text
    kIdBatch = 32,             // identifiers fetched per enumeration call: MTP round trips are slow
    kNameSize = 32,            // "VellumTransit (999).pdf" and its terminator
    kFallbackTransfer = 65536, // when the create call reports no transfer size
};

const WCHAR kEreaderDescription[] = L"Kindle";
const size_t kEreaderDescriptionLength = 6;
const char kDocumentsFolder[] = "documents";
const char kDeliveredPrefix[] = "VellumTransit";

// The client information the device is opened with.
const WCHAR kClientName[] = L"VellumTransit";
const ULONG kClientMajorVersion = 1, kClientMinorVersion = 0, kClientRevision = 0;

// Failures that are ours, not the device's, as HRESULTs for the console line.
const HRESULT kNoLocalFile = (HRESULT)0x80070002;    // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
const HRESULT kSizeMismatch = (HRESULT)0x8007000D;   // HRESULT_FROM_WIN32(ERROR_INVALID_DATA)
const HRESULT kNoFreeName = (HRESULT)0x80070050;     // HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)
const HRESULT kShortLocalRead = (HRESULT)0x8003001E; // STG_E_READFAULT

// Releases a COM interface on every way out.
template <typename T> struct ComRelease {
    T *object = nullptr;
    ~ComRelease() {
        if (object)
            object->Release();
    }
};

// Frees a text that COM allocated, on every way out.
struct TaskText {
    LPWSTR text = nullptr;
    ~TaskText() { CoTaskMemFree(text); }
};

// Uninitialises COM on every way out, but only where this stage's initialisation succeeded.
struct ComSession {
    HRESULT result;
    ~ComSession() {
        if (SUCCEEDED(result))
            CoUninitialize();
    }
};

// The portable devices' identifiers from the manager; each text and the array are freed.
struct DeviceIds {
    LPWSTR *ids = nullptr;
    DWORD allocated = 0;
    DWORD count = 0;
    ~DeviceIds() {
        for (DWORD i = 0; ids && i < allocated; ++i)
            CoTaskMemFree(ids[i]);
        free(ids);
    }
};

// The opened device and its content and property services; closed and released on every way out.
struct OpenDevice {
    ComRelease<IPortableDevice> device;
    ComRelease<IPortableDeviceContent> content;
    ComRelease<IPortableDeviceProperties> properties;
    bool opened = false;
    ~OpenDevice() {
        if (opened)
            device.object->Close();
    }
};

// A wide text copied into the heap (for an object identifier that must outlive its walk).
struct HeldId {
    WCHAR *text = nullptr;
    ~HeldId() { free(text); }
};

// Turns a device text into console text; the empty text when it cannot.
void ToConsoleText(LPCWSTR wide, char *text, int size) {
    if (!wide || WideCharToMultiByte(CP_ACP, 0, wide, -1, text, size, nullptr, nullptr) == 0)
        text[0] = '\0';
    text[size - 1] = '\0';
}

// Sends the line of a failing call and hands its HRESULT on.
HRESULT TraceFailure(const char *call, HRESULT result) {
    DebugTrace("    %s failed (0x%08X)\n", call, (unsigned)result);
    return result;
}

// Whether a device text equals an ASCII name, letters compared without regard to case, as the
// device's file system compares names. With prefixOnly, whether it begins with the name.
bool SameName(LPCWSTR wide, const char *name, bool prefixOnly = false) {
    for (; *name; ++wide, ++name) {
        WCHAR a = *wide, b = (WCHAR)(unsigned char)*name;
        if (a >= L'A' && a <= L'Z')
            a = (WCHAR)(a - L'A' + L'a');
        if (b >= L'A' && b <= L'Z')
            b = (WCHAR)(b - L'A' + L'a');
        if (a != b)
            return false;
    }
    return prefixOnly || *wide == 0;
}

// Makes a heap copy of a wide text; false when there is no memory.
bool HoldId(LPCWSTR id, HeldId *held) {
    size_t length = wcslen(id);
    held->text = static_cast<WCHAR *>(malloc((length + 1) * sizeof(WCHAR)));
    if (!held->text)
        return false;
    memcpy(held->text, id, (length + 1) * sizeof(WCHAR));
    return true;
}

// Reads one of the manager's texts about a device into text (kDeviceTextSize characters); the
// empty text when the device has none or the call fails.
typedef HRESULT (STDMETHODCALLTYPE IPortableDeviceManager::*DeviceTextCall)(LPCWSTR, WCHAR *,
                                                                            DWORD *);
void ReadDeviceText(IPortableDeviceManager *manager, DeviceTextCall call, LPCWSTR id,
                    const char *label, WCHAR *text) {
    DWORD length = kDeviceTextSize;
    text[0] = 0;
    HRESULT result = (manager->*call)(id, text, &length);
    text[kDeviceTextSize - 1] = 0;
    char console[kConsoleTextSize];
    if (FAILED(result)) {
        text[0] = 0;
        DebugTrace("    %s: not readable (0x%08X)\n", label, (unsigned)result);
        return;
    }
    ToConsoleText(text, console, sizeof console);
    DebugTrace("    %s: \"%s\"\n", label, console);
}

// Lists the portable devices; false when there are none or the list cannot be had.
bool ListDevices(IPortableDeviceManager *manager, DeviceIds *list) {
    DWORD count = 0;
    HRESULT result = manager->GetDevices(nullptr, &count);
    if (FAILED(result)) {
        DebugTrace("Portable devices: not listed (0x%08X)\n", (unsigned)result);
        return false;
    }
    if (count == 0) {
        DebugTrace("Portable devices: none\n");
        return false;
    }
    list->ids = static_cast<LPWSTR *>(calloc(count, sizeof(LPWSTR)));
    if (!list->ids)
        return false;
    list->allocated = count;
    list->count = count;
    result = manager->GetDevices(list->ids, &list->count);
    if (list->count > count)
        list->count = count;
    if (FAILED(result)) {
        DebugTrace("Portable devices: not listed (0x%08X)\n", (unsigned)result);
        return false;
    }
    return true;
}

// Reports every portable device and returns the index of the first e-reader (or -1), with its
// console name: the friendly name, or the description when that is empty.
int ChooseEreader(IPortableDeviceManager *manager, const DeviceIds &list, char *name,
                  int nameSize) {
    int chosen = -1;
    for (DWORD i = 0; i < list.count; ++i) {
        WCHAR friendly[kDeviceTextSize], manufacturer[kDeviceTextSize],
            description[kDeviceTextSize];
        char console[kConsoleTextSize];
        ToConsoleText(list.ids[i], console, sizeof console);
        DebugTrace("Portable Device %s\n", console);
        ReadDeviceText(manager, &IPortableDeviceManager::GetDeviceFriendlyName, list.ids[i],
                       "Friendly Name", friendly);
        ReadDeviceText(manager, &IPortableDeviceManager::GetDeviceManufacturer, list.ids[i],
                       "Manufacturer", manufacturer);
        ReadDeviceText(manager, &IPortableDeviceManager::GetDeviceDescription, list.ids[i],
                       "Description", description);
        // The description is the model the device reports; users rename the friendly name.
        bool ereader = wcsncmp(description, kEreaderDescription, kEreaderDescriptionLength) == 0;
        DebugTrace(ereader ? "    the device is an e-reader\n" : "    not an e-reader\n");
        if (ereader && chosen < 0) {
            chosen = (int)i;
            ToConsoleText(friendly[0] ? friendly : description, name, nameSize);
        }
    }
    return chosen;
}

// Creates an empty property-value set (for client information and new objects).
HRESULT CreateValues(IPortableDeviceValues **values) {
    return CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IPortableDeviceValues, reinterpret_cast<void **>(values));
}

// Creates a key collection holding count keys.
HRESULT CreateKeys(const PROPERTYKEY *const *list, int count, IPortableDeviceKeyCollection **keys) {
    HRESULT result =
        CoCreateInstance(CLSID_PortableDeviceKeyCollection, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IPortableDeviceKeyCollection, reinterpret_cast<void **>(keys));
    for (int i = 0; SUCCEEDED(result) && i < count; ++i)
        result = (*keys)->Add(*list[i]);
    return result;
}

// Opens the device with our client information and gets its content and property services.
HRESULT Open(LPCWSTR id, OpenDevice *open) {
    ComRelease<IPortableDeviceValues> client;
    HRESULT result = CreateValues(&client.object);
    if (SUCCEEDED(result))
        result = client.object->SetStringValue(WPD_CLIENT_NAME, kClientName);
    if (SUCCEEDED(result))
        result =
            client.object->SetUnsignedIntegerValue(WPD_CLIENT_MAJOR_VERSION, kClientMajorVersion);
    if (SUCCEEDED(result))
        result =
            client.object->SetUnsignedIntegerValue(WPD_CLIENT_MINOR_VERSION, kClientMinorVersion);
    if (SUCCEEDED(result))
        result = client.object->SetUnsignedIntegerValue(WPD_CLIENT_REVISION, kClientRevision);
    // Some drivers work only when they may impersonate the client; without this the device
    // assumes identification alone.
    if (SUCCEEDED(result))
        result = client.object->SetUnsignedIntegerValue(WPD_CLIENT_SECURITY_QUALITY_OF_SERVICE,
                                                        SECURITY_IMPERSONATION);
    if (FAILED(result))
        return TraceFailure("client information", result);
    result = CoCreateInstance(CLSID_PortableDeviceFTM, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IPortableDevice, reinterpret_cast<void **>(&open->device.object));
    if (FAILED(result))
        return TraceFailure("CoCreateInstance", result);
    result = open->device.object->Open(id, client.object);
    if (FAILED(result))
        return TraceFailure("IPortableDevice::Open", result);
    open->opened = true;
    result = open->device.object->Content(&open->content.object);
    if (FAILED(result))
        return TraceFailure("IPortableDevice::Content", result);
    result = open->content.object->Properties(&open->properties.object);
    if (FAILED(result))
        return TraceFailure("IPortableDeviceContent::Properties", result);
    return S_OK;
}

// What a walk does with one child object and its values: true to go on, false to stop.
typedef bool (*ChildVisitor)(void *context, LPCWSTR id, IPortableDeviceValues *values);

// Hands each child of parent, with the values of keys, to visit, until it says stop. Only this
// one level is enumerated: the device's whole tree is never walked.
HRESULT VisitChildren(const OpenDevice &open, LPCWSTR parent, IPortableDeviceKeyCollection *keys,
                      ChildVisitor visit, void *context) {
    ComRelease<IEnumPortableDeviceObjectIDs> children;
    HRESULT result = open.content.object->EnumObjects(0, parent, nullptr, &children.object);
    if (FAILED(result))
        return TraceFailure("IPortableDeviceContent::EnumObjects", result);
    bool going = true;
    while (going) {
        LPWSTR batch[kIdBatch] = {};
        ULONG fetched = 0;
        HRESULT next = children.object->Next(kIdBatch, batch, &fetched);
        if (fetched > kIdBatch)
            fetched = kIdBatch;
        for (ULONG i = 0; i < fetched; ++i) {
            if (going && SUCCEEDED(result)) {
                ComRelease<IPortableDeviceValues> values;
                result = open.properties.object->GetValues(batch[i], keys, &values.object);
                if (SUCCEEDED(result))
                    going = visit(context, batch[i], values.object);
            }
            CoTaskMemFree(batch[i]);
        }
        if (FAILED(result))
            return TraceFailure("IPortableDeviceProperties::GetValues", result);
        if (FAILED(next))
            return TraceFailure("IEnumPortableDeviceObjectIDs::Next", next);
        if (next == S_FALSE || fetched == 0)
            break;
    }
    return S_OK;
}

// Whether a child's values say it is of content type kind.
bool HasContentType(IPortableDeviceValues *values, const GUID &kind) {
    GUID type;
    return SUCCEEDED(values->GetGuidValue(WPD_OBJECT_CONTENT_TYPE, &type)) && type == kind;
}

// The search of a folder for the object of one name (of one content type, when kind is set).
struct NamedObject {
    const char *name;
    const GUID *kind;
    HeldId *id;
    bool outOfMemory;
};

bool VisitNamedObject(void *context, LPCWSTR id, IPortableDeviceValues *values) {
    NamedObject *search = static_cast<NamedObject *>(context);
    TaskText name;
    if ((search->kind && !HasContentType(values, *search->kind)) ||
        FAILED(values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, &name.text)) ||
        !SameName(name.text, search->name))
        return true;
    search->outOfMemory = !HoldId(id, search->id);
    return false;
}

// The walk of the device object's children: its storages, each searched for documents.
struct StorageWalk {
    const OpenDevice *open;
    IPortableDeviceKeyCollection *rootKeys;
    HeldId *folder;
    HRESULT failure;
};

bool VisitDeviceChild(void *context, LPCWSTR id, IPortableDeviceValues *values) {
    StorageWalk *walk = static_cast<StorageWalk *>(context);
    GUID category;
    if (!HasContentType(values, WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT) ||
        FAILED(values->GetGuidValue(WPD_FUNCTIONAL_OBJECT_CATEGORY, &category)) ||
        !(category == WPD_FUNCTIONAL_CATEGORY_STORAGE))
        return true;
    TaskText name;
    char console[kConsoleTextSize];
    values->GetStringValue(WPD_OBJECT_NAME, &name.text);
    ToConsoleText(name.text, console, sizeof console);
    NamedObject search = {kDocumentsFolder, &WPD_CONTENT_TYPE_FOLDER, walk->folder, false};
    walk->failure = VisitChildren(*walk->open, id, walk->rootKeys, VisitNamedObject, &search);
    if (SUCCEEDED(walk->failure) && search.outOfMemory)
        walk->failure = E_OUTOFMEMORY;
    bool found = walk->folder->text != nullptr;
    DebugTrace("        \"%s\": %s\n", console,
               FAILED(walk->failure) ? "not readable"
               : found               ? "documents folder found"
                                     : "no documents folder");
    return SUCCEEDED(walk->failure) && !found;
}

// Finds the documents folder at the root of the first storage that has one. S_OK with
// folder->text set when found, S_OK with it null when no storage has one, or the failure.
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
    StorageWalk walk = {&open, folderKeys.object, folder, S_OK};
    result = VisitChildren(open, WPD_DEVICE_OBJECT_ID, storageKeys.object, VisitDeviceChild, &walk);
    return FAILED(walk.failure) ? walk.failure : result;
}

// The delivered names already taken in the documents folder, by number.
struct TakenNames {
    bool taken[kDeliveredNameLast + 1];
};

bool VisitDocument(void *context, LPCWSTR, IPortableDeviceValues *values) {
    TakenNames *names = static_cast<TakenNames *>(context);
    TaskText name;
    if (FAILED(values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, &name.text)) ||
        !SameName(name.text, kDeliveredPrefix, true))
        return true;
    char candidate[kNameSize];
    for (int number = 1; number <= kDeliveredNameLast; ++number)
        if (FormatDeliveredName(number, candidate, sizeof candidate) &&
            SameName(name.text, candidate))
            names->taken[number] = true;
    return true;
}

// Picks the first delivered name that no object in the folder has (in any case).
HRESULT ChooseFreeName(const OpenDevice &open, LPCWSTR folder, char *name, size_t size) {
    const PROPERTYKEY *const nameKey[] = {&WPD_OBJECT_ORIGINAL_FILE_NAME};
    ComRelease<IPortableDeviceKeyCollection> keys;
    HRESULT result = CreateKeys(nameKey, 1, &keys.object);
    if (FAILED(result))
        return TraceFailure("property keys", result);
    TakenNames names = {};
    result = VisitChildren(open, folder, keys.object, VisitDocument, &names);
    if (FAILED(result))
        return result;
    for (int number = 1; number <= kDeliveredNameLast; ++number)
        if (!names.taken[number] && FormatDeliveredName(number, name, size))
            return S_OK;
    return TraceFailure("free name", kNoFreeName);
}

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

// Finds the object of name in folder (its identifier into *id); E_FAIL when there is none.
HRESULT FindObjectByName(const OpenDevice &open, LPCWSTR folder, const char *name, HeldId *id) {
    const PROPERTYKEY *const nameKey[] = {&WPD_OBJECT_ORIGINAL_FILE_NAME};
    ComRelease<IPortableDeviceKeyCollection> keys;
    HRESULT result = CreateKeys(nameKey, 1, &keys.object);
    NamedObject search = {name, nullptr, id, false};
    if (SUCCEEDED(result))
        result = VisitChildren(open, folder, keys.object, VisitNamedObject, &search);
    if (SUCCEEDED(result) && !id->text)
        result = search.outOfMemory ? E_OUTOFMEMORY : E_FAIL;
    return result;
}

// Creates the new object in folder under name with the local file's bytes and commits it;
// *newId gets its identifier. Before the commit every failure reverts the stream, so that no
// partial object is left on the device.
HRESULT SendFile(const OpenDevice &open, LPCWSTR folder, const char *name, const char *fileName,
                 ULONGLONG *size, HeldId *newId) {
    _finddata_t entry;
    intptr_t search = _findfirst(fileName, &entry);
    if (search == -1)
        return TraceFailure("finding the PDF", kNoLocalFile);
    _findclose(search);
    *size = entry.size;
    LocalFile local;
    local.file = fopen(fileName, "rb");
    if (!local.file)
        return TraceFailure("opening the PDF", kNoLocalFile);

    WCHAR wideName[kNameSize];
    for (size_t i = 0; i < sizeof wideName / sizeof wideName[0]; ++i)
        if ((wideName[i] = (WCHAR)(unsigned char)name[i]) == 0)
            break;
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
    if (FAILED(result))
        return TraceFailure("object properties", result);

    ComRelease<IStream> stream;
    DWORD pieceSize = 0;
    result = open.content.object->CreateObjectWithPropertiesAndData(values.object, &stream.object,
                                                                    &pieceSize, nullptr);
    if (FAILED(result))
        return TraceFailure("IPortableDeviceContent::CreateObjectWithPropertiesAndData", result);
    DebugTrace("    New object \"%s\": %llu bytes in pieces of %u\n", name,
               (unsigned long long)*size, (unsigned)pieceSize);
    result =
        WritePieces(stream.object, &local, *size, pieceSize ? pieceSize : (DWORD)kFallbackTransfer);
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

// Deletes one object (the new one, when it cannot be trusted).
void DeleteObject(const OpenDevice &open, LPWSTR id) {
    ComRelease<IPortableDevicePropVariantCollection> ids;
    HRESULT result = CoCreateInstance(
        CLSID_PortableDevicePropVariantCollection, nullptr, CLSCTX_INPROC_SERVER,
        IID_IPortableDevicePropVariantCollection, reinterpret_cast<void **>(&ids.object));
    if (SUCCEEDED(result)) {
        PROPVARIANT value;
        memset(&value, 0, sizeof value);
        value.vt = VT_LPWSTR;
        value.pwszVal = id; // the collection keeps its own copy; id stays the caller's
        result = ids.object->Add(&value);
    }
    if (SUCCEEDED(result))
        result =
            open.content.object->Delete(PORTABLE_DEVICE_DELETE_NO_RECURSION, ids.object, nullptr);
    if (FAILED(result))
        TraceFailure("IPortableDeviceContent::Delete", result);
}

// Reads the committed object's size back; a size other than the file's deletes the object.
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
    if (FAILED(result)) {
        TraceFailure("reading the size back", result);
        DeleteObject(open, id); // an object that cannot be trusted must not pass for the PDF
    }
    return result;
}

// Opens the chosen device and delivers the file to it; prints the device's console lines.
int DeliverToDevice(LPCWSTR id, const char *name, const char *fileName) {
    DebugTrace("Delivery to %s\n", name);
    OpenDevice open;
    HeldId folder;
    char deliveredName[kNameSize];
    ULONGLONG size = 0;
    HeldId newId;
    HRESULT result = Open(id, &open);
    if (SUCCEEDED(result))
        result = FindDocumentsFolder(open, &folder);
    if (SUCCEEDED(result) && !folder.text) {
        printf("%s: No documents folder.\n", name);
        return 0;
    }
    if (SUCCEEDED(result))
        result = ChooseFreeName(open, folder.text, deliveredName, sizeof deliveredName);
    if (SUCCEEDED(result))
        result = SendFile(open, folder.text, deliveredName, fileName, &size, &newId);
    if (SUCCEEDED(result))
        result = VerifySize(open, newId.text, size);
    if (FAILED(result)) {
        printf("%s: Could not copy the PDF (error 0x%08X).\n", name, (unsigned)result);
        return 0;
    }
    DeleteFileA(fileName); // only now: the PDF is whole on the device
    printf("%s: Output copied to Kindle!\n", name);
    printf("%s can be unplugged.\n", name);
    return 1;
}

} // namespace

int DeliverToMediaEreader(const char *fileName) {
    ComSession com = {CoInitializeEx(nullptr, COINIT_MULTITHREADED)};
    // A thread already in another apartment can still use the devices, but is not ours to leave.
    if (FAILED(com.result) && com.result != RPC_E_CHANGED_MODE) {
        DebugTrace("Portable devices: COM not initialised (0x%08X)\n", (unsigned)com.result);
        return 0;
    }
    ComRelease<IPortableDeviceManager> manager;
    HRESULT result =
        CoCreateInstance(CLSID_PortableDeviceManager, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IPortableDeviceManager, reinterpret_cast<void **>(&manager.object));
    if (FAILED(result)) { // REGDB_E_CLASSNOTREG where Windows Portable Devices is missing
        DebugTrace("Portable devices: not available (0x%08X)\n", (unsigned)result);
        return 0;
    }
    DeviceIds list;
    if (!ListDevices(manager.object, &list))
        return 0;
    char name[kConsoleTextSize];
    int chosen = ChooseEreader(manager.object, list, name, sizeof name);
    if (chosen < 0)
        return 0;
    return DeliverToDevice(list.ids[chosen], name, fileName);
}
