#include "common/win32.h"

#include <cerrno>

#include "common/debug_trace.h"
#include "common/delivered_name.h"
#include "common/durable_file.h"
#include "common/file_delete.h"
#include "common/spool_contract.h"
#include "media/media_delivery.h"

namespace {

enum {
    kDeviceTextSize = 260,     // a device's friendly name, manufacturer, description or model
    kConsoleTextSize = 1024,   // a device text or identifier as console text
    kIdBatch = 32,             // identifiers fetched per enumeration call: MTP round trips are slow
    kNameSize = 32,            // "VellumTransit (999).pdf" and its terminator
    kFallbackTransfer = 65536, // when the create call reports no transfer size
    kLargestTransfer = 4 * 1024 * 1024, // a larger transfer size is not taken at its word
};

// An e-reader's description or model begins with this, in this letter case.
const WCHAR kEreaderPrefix[] = L"Kindle";
const size_t kEreaderPrefixLength = 6;
// The USB vendor of the e-readers, as a PnP identifier names it (the maker's tablets share it).
const char kEreaderVendor[] = "vid_1949";
const char kDocumentsFolder[] = "documents";
const size_t kCompareBlock = 65536;

// The client information the device is opened with.
const WCHAR kClientName[] = L"VellumTransit";
const ULONG kClientMajorVersion = 1, kClientMinorVersion = 0, kClientRevision = 0;

// Failures that are ours, not the device's, as HRESULTs for the console line.
const HRESULT kNoLocalFile = (HRESULT)0x80070002;    // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
const HRESULT kSizeMismatch = (HRESULT)0x8007000D;   // HRESULT_FROM_WIN32(ERROR_INVALID_DATA)
const HRESULT kNoFreeName = (HRESULT)0x80070050;     // HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)
const HRESULT kShortLocalRead = (HRESULT)0x8003001E; // STG_E_READFAULT

// Releases a COM interface on every way out, or earlier with Drop.
template <typename T> struct ComRelease {
    T *object = nullptr;
    void Drop() {
        if (object)
            object->Release();
        object = nullptr;
    }
    ~ComRelease() { Drop(); }
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

// An opened device and its content and property services; closed and released on every way
// out, or earlier with Release when the device turns out not to be an e-reader.
struct OpenDevice {
    ComRelease<IPortableDevice> device;
    ComRelease<IPortableDeviceContent> content;
    ComRelease<IPortableDeviceProperties> properties;
    bool opened = false;
    void Release() {
        if (opened)
            device.object->Close();
        opened = false;
        properties.Drop();
        content.Drop();
        device.Drop();
    }
    ~OpenDevice() { Release(); }
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

// How a device text is compared with an ASCII name.
enum Comparison {
    kExactCase = 0,
    kAnyCase = 1, // letters without regard to case, as the device's file system may compare
    kPrefix = 2,  // the text only begins with the name
};

// Whether a device text equals the first length characters of an ASCII name (or, with
// kPrefix, begins with them).
bool Matches(LPCWSTR wide, const char *name, size_t length, unsigned how) {
    for (size_t i = 0; i < length; ++i, ++wide) {
        WCHAR a = *wide, b = (WCHAR)(unsigned char)name[i];
        if ((how & kAnyCase) && a >= L'A' && a <= L'Z')
            a = (WCHAR)(a - L'A' + L'a');
        if ((how & kAnyCase) && b >= L'A' && b <= L'Z')
            b = (WCHAR)(b - L'A' + L'a');
        if (a != b)
            return false;
    }
    return (how & kPrefix) || *wide == 0;
}

// Whether a device text equals an ASCII name, letters compared without regard to case.
bool SameName(LPCWSTR wide, const char *name) {
    return Matches(wide, name, strlen(name), kAnyCase);
}

// Whether a device's description or model names an e-reader.
bool NamesEreader(const WCHAR *text) {
    return wcsncmp(text, kEreaderPrefix, kEreaderPrefixLength) == 0;
}

// Whether a PnP identifier names the e-readers' USB vendor, in any letter case.
bool FromEreaderVendor(LPCWSTR pnpId) {
    const size_t length = sizeof kEreaderVendor - 1;
    for (; *pnpId; ++pnpId) {
        if (!Matches(pnpId, kEreaderVendor, length, kAnyCase | kPrefix))
            continue;
        WCHAR next = pnpId[length]; // a vendor id has four digits: "vid_19490" is another
        if (!((next >= L'0' && next <= L'9') || (next >= L'a' && next <= L'z') ||
              (next >= L'A' && next <= L'Z')))
            return true;
    }
    return false;
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
    // Microsoft's pages disagree on whether the count includes the terminator: leave it room.
    DWORD length = kDeviceTextSize - 1;
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

// Reads the model the opened device reports (WPD_DEVICE_MODEL of its device object) into text
// (kDeviceTextSize characters) and reports it; false, with the empty text, when it cannot.
bool ReadModel(const OpenDevice &open, WCHAR *text) {
    const PROPERTYKEY *const modelKey[] = {&WPD_DEVICE_MODEL};
    ComRelease<IPortableDeviceKeyCollection> keys;
    ComRelease<IPortableDeviceValues> values;
    TaskText model;
    text[0] = 0;
    HRESULT result = CreateKeys(modelKey, 1, &keys.object);
    if (SUCCEEDED(result))
        result =
            open.properties.object->GetValues(WPD_DEVICE_OBJECT_ID, keys.object, &values.object);
    if (SUCCEEDED(result))
        result = values.object->GetStringValue(WPD_DEVICE_MODEL, &model.text);
    if (FAILED(result)) {
        DebugTrace("    Model: not readable (0x%08X)\n", (unsigned)result);
        return false;
    }
    wcsncpy(text, model.text, kDeviceTextSize - 1);
    text[kDeviceTextSize - 1] = 0;
    char console[kConsoleTextSize];
    ToConsoleText(text, console, sizeof console);
    DebugTrace("    Model: \"%s\"\n", console);
    return true;
}

// Finds the first e-reader in the manager's order and opens it, reporting each device looked
// at; name gets its console name (the friendly name, else the description, else the model). A
// device is an e-reader when its description begins with "Kindle", or when it comes from the
// e-readers' USB vendor and the model it reports begins with "Kindle": what Windows puts in the
// description of an MTP device is not documented, while every device reports its model, and
// the maker's tablets share the vendor. Devices of other vendors are never opened. S_OK with
// open opened; S_FALSE when no e-reader is attached; or the failure to open a device that its
// description calls an e-reader.
HRESULT OpenEreader(IPortableDeviceManager *manager, const DeviceIds &list, OpenDevice *open,
                    char *name, int nameSize) {
    for (DWORD i = 0; i < list.count; ++i) {
        WCHAR friendly[kDeviceTextSize], manufacturer[kDeviceTextSize],
            description[kDeviceTextSize], model[kDeviceTextSize];
        char console[kConsoleTextSize];
        ToConsoleText(list.ids[i], console, sizeof console);
        DebugTrace("Portable Device %s\n", console);
        ReadDeviceText(manager, &IPortableDeviceManager::GetDeviceFriendlyName, list.ids[i],
                       "Friendly Name", friendly);
        ReadDeviceText(manager, &IPortableDeviceManager::GetDeviceManufacturer, list.ids[i],
                       "Manufacturer", manufacturer);
        ReadDeviceText(manager, &IPortableDeviceManager::GetDeviceDescription, list.ids[i],
                       "Description", description);
        bool described = NamesEreader(description);
        if (!described && !FromEreaderVendor(list.ids[i])) {
            DebugTrace("    not an e-reader\n");
            continue;
        }
        HRESULT result = Open(list.ids[i], open);
        bool modelRead = SUCCEEDED(result) && ReadModel(*open, model);
        if (!described && !(modelRead && NamesEreader(model))) {
            DebugTrace(modelRead ? "    not an e-reader\n"
                                 : "    not an e-reader: its model cannot be had\n");
            open->Release();
            continue;
        }
        DebugTrace("    the device is an e-reader\n");
        ToConsoleText(friendly[0]      ? friendly
                      : description[0] ? description
                      : modelRead      ? model
                                       : description,
                      name, nameSize);
        return result;
    }
    return S_FALSE;
}

// What a walk does with one child: its identifier, and its values, or null with the failure to
// read them. True to go on, false to stop.
typedef bool (*ChildVisitor)(void *context, LPCWSTR id, IPortableDeviceValues *values,
                             HRESULT read);

// Hands each child of parent, with the values of keys, to visit, until it says stop. Only this
// one level is enumerated: the device's whole tree is never walked.
HRESULT VisitChildren(const OpenDevice &open, LPCWSTR parent, IPortableDeviceKeyCollection *keys,
                      ChildVisitor visit, void *context) {
    ComRelease<IEnumPortableDeviceObjectIDs> children;
    HRESULT result = open.content.object->EnumObjects(0, parent, nullptr, &children.object);
    if (FAILED(result))
        return TraceFailure("IPortableDeviceContent::EnumObjects", result);
    for (;;) {
        LPWSTR batch[kIdBatch] = {};
        ULONG fetched = 0;
        HRESULT next = children.object->Next(kIdBatch, batch, &fetched);
        if (fetched > kIdBatch)
            fetched = kIdBatch;
        bool going = true;
        for (ULONG i = 0; i < fetched; ++i) {
            if (going) {
                ComRelease<IPortableDeviceValues> values;
                HRESULT read = open.properties.object->GetValues(batch[i], keys, &values.object);
                going = visit(context, batch[i], SUCCEEDED(read) ? values.object : nullptr, read);
            }
            CoTaskMemFree(batch[i]);
        }
        if (!going)
            return S_OK;
        if (FAILED(next))
            return TraceFailure("IEnumPortableDeviceObjectIDs::Next", next);
        // A driver may hand out fewer identifiers than asked (S_FALSE) while more remain: only
        // a call that hands out none ends the list.
        if (fetched == 0)
            return S_OK;
    }
}

// Reports a child that the walk passes over, and why.
void SkipChild(LPCWSTR id, IPortableDeviceValues *values, HRESULT result) {
    char console[kConsoleTextSize];
    ToConsoleText(id, console, sizeof console);
    DebugTrace("        %s: skipped, %s (0x%08X)\n", console,
               values ? "a property is missing" : "not readable", (unsigned)result);
}

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

// The name a child of documents goes by: its original file name, or else its object name
// (*objectName set), which MTP devices give without the extension. The failure when it has
// neither.
HRESULT ChildName(IPortableDeviceValues *values, TaskText *name, bool *objectName) {
    *objectName = false;
    if (SUCCEEDED(values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, &name->text)))
        return S_OK;
    *objectName = true;
    return values->GetStringValue(WPD_OBJECT_NAME, &name->text);
}

// Whether a child that goes by name carries a delivered name: the same letters in any case,
// or, for an object name, the same without ".pdf".
bool Carries(LPCWSTR name, bool objectName, const char *delivered) {
    size_t length = strlen(delivered);
    return Matches(name, delivered, length, kAnyCase) ||
           (objectName && length > 4 && Matches(name, delivered, length - 4, kAnyCase));
}

// The keys a child of documents is judged by.
HRESULT CreateNameKeys(IPortableDeviceKeyCollection **keys) {
    const PROPERTYKEY *const nameKeys[] = {&WPD_OBJECT_ORIGINAL_FILE_NAME, &WPD_OBJECT_NAME};
    HRESULT result = CreateKeys(nameKeys, 2, keys);
    return FAILED(result) ? TraceFailure("property keys", result) : result;
}

// An object of our family that may hold the PDF (as large as it), or the start of it (the
// object a killed run was sending, smaller than it).
struct Candidate {
    WCHAR *id;
    int number; // its delivered name
    ULONGLONG size;
};

// The documents folder as this delivery finds it: the delivered names taken, by number, and the
// candidates to compare with the PDF.
struct TakenNames {
    bool taken[kDeliveredNameLast + 1];
    ULONGLONG localSize;
    int noted;             // the delivered name a killed run was sending, or 0
    Candidate *candidates; // a heap array of count
    int count;
    HRESULT failure;
};

// Frees what the survey held.
struct TakenNamesGuard {
    TakenNames *names;
    ~TakenNamesGuard() {
        for (int i = 0; i < names->count; ++i)
            free(names->candidates[i].id);
        free(names->candidates);
    }
};

// Keeps a candidate; false without memory.
bool KeepCandidate(TakenNames *names, LPCWSTR id, int number, ULONGLONG size) {
    Candidate *grown = static_cast<Candidate *>(
        realloc(names->candidates, (names->count + 1) * sizeof(Candidate)));
    if (!grown)
        return false;
    names->candidates = grown;
    HeldId held;
    if (!HoldId(id, &held))
        return false;
    grown[names->count++] = {held.text, number, size};
    held.text = nullptr;
    return true;
}

bool VisitDocument(void *context, LPCWSTR id, IPortableDeviceValues *values, HRESULT read) {
    TakenNames *names = static_cast<TakenNames *>(context);
    TaskText name;
    bool objectName = false;
    HRESULT result = values ? ChildName(values, &name, &objectName) : read;
    if (FAILED(result)) { // a name that cannot be checked cannot be called free
        char console[kConsoleTextSize];
        ToConsoleText(id, console, sizeof console);
        DebugTrace("        %s: %s (0x%08X)\n", console, values ? "no name" : "not readable",
                   (unsigned)result);
        names->failure = result;
        return false;
    }
    if (!Matches(name.text, kDeliveredPrefix, sizeof kDeliveredPrefix - 1, kAnyCase | kPrefix))
        return true;
    char candidate[kNameSize];
    int carried = 0;
    for (int number = 1; number <= kDeliveredNameLast; ++number)
        if (FormatDeliveredName(number, candidate, sizeof candidate) &&
            Carries(name.text, objectName, candidate))
            names->taken[carried = number] = true;
    ULONGLONG size = 0;
    if (carried && SUCCEEDED(values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, &size)) &&
        (size == names->localSize || (carried == names->noted && size < names->localSize)) &&
        !KeepCandidate(names, id, carried, size)) {
        names->failure = E_OUTOFMEMORY;
        return false;
    }
    return true;
}

// Surveys the documents folder: the delivered names taken and the objects of the PDF's size.
HRESULT SurveyDocuments(const OpenDevice &open, LPCWSTR folder, TakenNames *names) {
    const PROPERTYKEY *const keys[] = {&WPD_OBJECT_ORIGINAL_FILE_NAME, &WPD_OBJECT_NAME,
                                       &WPD_OBJECT_SIZE};
    ComRelease<IPortableDeviceKeyCollection> keyCollection;
    HRESULT result = CreateKeys(keys, 3, &keyCollection.object);
    if (SUCCEEDED(result))
        result = VisitChildren(open, folder, keyCollection.object, VisitDocument, names);
    if (SUCCEEDED(result))
        result = names->failure;
    return FAILED(result) ? TraceFailure("checking the names in documents", result) : result;
}

// Picks the first delivered name that no object in the folder carries.
HRESULT ChooseFreeName(const TakenNames &names, char *name, size_t size) {
    for (int number = 1; number <= kDeliveredNameLast; ++number)
        if (!names.taken[number] && FormatDeliveredName(number, name, size))
            return S_OK;
    return TraceFailure("free name", kNoFreeName);
}

// The local PDF and an object's read stream with a block for each; released on every way out.
struct ComparedBytes {
    FILE *local = nullptr;
    ComRelease<IStream> stream;
    unsigned char *blocks[2] = {nullptr, nullptr};
    ~ComparedBytes() {
        if (local)
            fclose(local);
        free(blocks[0]);
        free(blocks[1]);
    }
};

// Reads up to count bytes from an object's stream, however the device splits them.
HRESULT ReadObject(IStream *stream, unsigned char *bytes, ULONG count, ULONG *got) {
    *got = 0;
    while (*got < count) {
        ULONG read = 0;
        HRESULT result = stream->Read(bytes + *got, count - *got, &read);
        if (FAILED(result))
            return result;
        *got += read;
        if (read == 0)
            break;
    }
    return S_OK;
}

// Whether the object id holds the first size bytes of the local PDF: S_OK when it does, S_FALSE
// when not, or the failure that kept them from being compared. *endsEarly says that its bytes
// ended before size (a device may report the size declared when the object was made) and that
// all of them were the PDF's: the start of the PDF, cut short.
HRESULT HoldsThePdf(IPortableDeviceResources *resources, LPCWSTR id, const char *fileName,
                    ULONGLONG size, bool *endsEarly) {
    *endsEarly = false;
    ComparedBytes compared;
    DWORD optimal = 0;
    HRESULT result = resources->GetStream(id, WPD_RESOURCE_DEFAULT, STGM_READ, &optimal,
                                          &compared.stream.object);
    if (FAILED(result))
        return TraceFailure("IPortableDeviceResources::GetStream", result);
    compared.local = fopen(fileName, "rb");
    compared.blocks[0] = static_cast<unsigned char *>(malloc(kCompareBlock));
    compared.blocks[1] = static_cast<unsigned char *>(malloc(kCompareBlock));
    if (!compared.local || !compared.blocks[0] || !compared.blocks[1])
        return TraceFailure("reading the PDF", kShortLocalRead);
    for (ULONGLONG done = 0; done < size;) {
        ULONG piece = size - done < kCompareBlock ? (ULONG)(size - done) : (ULONG)kCompareBlock;
        ULONG got = 0;
        result = ReadObject(compared.stream.object, compared.blocks[1], piece, &got);
        if (FAILED(result))
            return TraceFailure("IStream::Read", result);
        if (fread(compared.blocks[0], 1, piece, compared.local) != piece)
            return TraceFailure("reading the PDF", kShortLocalRead);
        if (memcmp(compared.blocks[0], compared.blocks[1], got) != 0)
            return S_FALSE;
        if (got != piece) { // shorter than it says: whatever it is, not the whole PDF
            *endsEarly = true;
            return S_FALSE;
        }
        done += piece;
    }
    return S_OK;
}

// Compares the candidates with the PDF. *delivered gets the number of the one that holds it whole
// (0 for none): an earlier run copied it and was stopped before it deleted the PDF. *cut gets
// the number of the object a killed run was sending when it holds only the start of the PDF (0
// for none): a copy cut short. The failure to compare one ends the delivery: a copy that cannot
// be checked is not taken for the PDF.
HRESULT CompareCandidates(const OpenDevice &open, const TakenNames &names, const char *fileName,
                          int *delivered, int *cut) {
    *delivered = *cut = 0;
    if (names.count == 0)
        return S_OK;
    ComRelease<IPortableDeviceResources> resources;
    HRESULT result = open.content.object->Transfer(&resources.object);
    if (FAILED(result))
        return TraceFailure("IPortableDeviceContent::Transfer", result);
    for (int i = 0; i < names.count && *delivered == 0; ++i) {
        const Candidate &candidate = names.candidates[i];
        bool endsEarly = false;
        result = HoldsThePdf(resources.object, candidate.id, fileName, candidate.size, &endsEarly);
        if (FAILED(result))
            return result;
        if (result == S_OK && candidate.size == names.localSize)
            *delivered = candidate.number;
        else if ((result == S_OK || endsEarly) && candidate.number == names.noted)
            *cut = candidate.number;
    }
    if (*cut == *delivered)
        *cut = 0;
    return S_OK;
}

// Notes the name about to be sent, flushed to the disk before the create call.
bool WriteSendingNote(const char *name) {
    return WriteFileAnew(kSendingNote, name, strlen(name)) == ERROR_SUCCESS;
}

// Reads the name a killed run was sending: S_OK with it in name, S_FALSE when no note waits, or
// the failure to read one. A note that names no delivered name leaves name empty.
HRESULT ReadSendingNote(char *name, size_t size) {
    name[0] = '\0';
    FILE *file = fopen(kSendingNote, "rb");
    if (!file)
        return errno == ENOENT ? S_FALSE : TraceFailure("reading the note", kShortLocalRead);
    size_t got = fread(name, 1, size - 1, file);
    bool failed = ferror(file) != 0;
    fclose(file);
    name[got] = '\0';
    if (failed)
        return TraceFailure("reading the note", kShortLocalRead);
    if (!ParseDeliveredName(name))
        name[0] = '\0';
    return S_OK;
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

// Creates the new object in folder under name with the local file's bytes and commits it;
// *newId gets its identifier, and *created says whether the create call succeeded (from then
// on, on some devices, the object is there). Before the commit every failure reverts the stream.
HRESULT SendFile(const OpenDevice &open, LPCWSTR folder, const char *name, const char *fileName,
                 const ULONGLONG *size, HeldId *newId, bool *created) {
    LocalFile local;
    local.file = fopen(fileName, "rb");
    if (!local.file)
        return TraceFailure("opening the PDF", kNoLocalFile);

    WCHAR wideName[kNameSize];
    for (size_t i = 0; i < sizeof wideName / sizeof wideName[0]; ++i)
        if ((wideName[i] = (WCHAR)(unsigned char)name[i]) == 0)
            break;
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

// Reads the committed object's size back: the file's size, or the copy failed.
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

// After a failure that followed the create call: deletes whatever in folder carries name. The
// name was free a moment before, so it can only be the new object, whole or in part (a device
// may make it at the create call and keep it after a Revert). Only a failing search or delete
// leaves it, and the report says so. True when nothing carries the name any more.
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
    TakenNames names = {};
    TakenNamesGuard guard = {&names};
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
        result = LocalSize(fileName, &names.localSize);
    if (SUCCEEDED(result))
        result = ReadSendingNote(noted, sizeof noted);
    if (SUCCEEDED(result)) {
        names.noted = ParseDeliveredName(noted);
        result = SurveyDocuments(open, folder.text, &names);
    }
    if (SUCCEEDED(result))
        result = CompareCandidates(open, names, fileName, &delivered, &cut);
    bool settled = true; // nothing the note names is a copy cut short any more
    if (SUCCEEDED(result) && cut && (settled = RemoveNewObject(open, folder.text, noted)))
        names.taken[cut] = false;
    if (SUCCEEDED(result) && names.noted && settled)
        DeleteFileRetrying(kSendingNote);
    if (SUCCEEDED(result) && delivered) {
        DebugTrace("    already on the device as \"%s\"\n",
                   FormatDeliveredName(delivered, deliveredName, sizeof deliveredName)
                       ? deliveredName
                       : "?");
        printf("%s: Output already on Kindle!\n", name);
        return MEDIA_ALREADY;
    }
    if (SUCCEEDED(result))
        result = ChooseFreeName(names, deliveredName, sizeof deliveredName);
    if (SUCCEEDED(result) && !WriteSendingNote(deliveredName))
        result = TraceFailure("writing the note", STG_E_WRITEFAULT);
    if (SUCCEEDED(result))
        result = SendFile(open, folder.text, deliveredName, fileName, &names.localSize, &newId,
                          &created);
    if (SUCCEEDED(result))
        result = VerifySize(open, newId.text, names.localSize);
    bool gone = true; // nothing partial, nor an object that cannot be trusted, is left
    if (FAILED(result) && created)
        gone = RemoveNewObject(open, folder.text, deliveredName);
    // The note stays only while a copy cut short may be on the device: the next run settles it.
    if (gone)
        DeleteFileRetrying(kSendingNote);
    if (FAILED(result)) {
        printf("%s: Could not copy the PDF (error 0x%08X).\n", name, (unsigned)result);
        return MEDIA_FAILED;
    }
    printf("%s: Output copied to Kindle!\n", name);
    return MEDIA_COPIED;
}

} // namespace

MediaDeliveryResult DeliverToMediaEreader(const char *fileName, char *name, size_t nameSize) {
    ComSession com = {CoInitializeEx(nullptr, COINIT_MULTITHREADED)};
    // A thread already in another apartment can still use the devices, but is not ours to leave.
    if (FAILED(com.result) && com.result != RPC_E_CHANGED_MODE) {
        DebugTrace("Portable devices: COM not initialised (0x%08X)\n", (unsigned)com.result);
        return MEDIA_NO_EREADER;
    }
    ComRelease<IPortableDeviceManager> manager;
    HRESULT result =
        CoCreateInstance(CLSID_PortableDeviceManager, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IPortableDeviceManager, reinterpret_cast<void **>(&manager.object));
    if (FAILED(result)) { // REGDB_E_CLASSNOTREG where Windows Portable Devices is missing
        DebugTrace("Portable devices: not available (0x%08X)\n", (unsigned)result);
        return MEDIA_NO_EREADER;
    }
    DeviceIds list;
    if (!ListDevices(manager.object, &list))
        return MEDIA_NO_EREADER;
    OpenDevice open;
    result = OpenEreader(manager.object, list, &open, name, (int)nameSize);
    if (result == S_FALSE)
        return MEDIA_NO_EREADER;
    return DeliverToDevice(open, result, name, fileName);
}
