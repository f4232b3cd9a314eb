// Which e-reader: the portable devices the manager lists, the ones our rules call e-readers, and
// the first of them opened for the run.
#include "common/win32.h"

#include "media/media_device.h"

#include <new>

#include "common/debug_trace.h"

namespace {

// An e-reader's description or model begins with this, in this letter case.
const WCHAR kEreaderPrefix[] = L"Kindle";

const size_t kEreaderPrefixLength = 6;

// The USB vendor of the e-readers, as a PnP identifier names it (the maker's tablets share it).
const char kEreaderVendor[] = "vid_1949";

// The client information the device is opened with.
const WCHAR kClientName[] = L"VellumTransit";

const ULONG kClientMajorVersion = 1, kClientMinorVersion = 0, kClientRevision = 0;

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
                    char *name, int nameSize, char *id, int idSize) {
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
        ToConsoleText(list.ids[i], id, idSize);
        return result;
    }
    return S_FALSE;
}

} // namespace

MediaEreader *FindMediaEreader() {
    MediaEreader *ereader = new (std::nothrow) MediaEreader;
    if (!ereader)
        return nullptr;
    ereader->com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // A thread already in another apartment can still use the devices, but is not ours to leave.
    if (FAILED(ereader->com) && ereader->com != RPC_E_CHANGED_MODE) {
        DebugTrace("Portable devices: COM not initialised (0x%08X)\n", (unsigned)ereader->com);
        CloseMediaEreader(ereader);
        return nullptr;
    }
    HRESULT result = CoCreateInstance(CLSID_PortableDeviceManager, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IPortableDeviceManager,
                                      reinterpret_cast<void **>(&ereader->manager.object));
    if (FAILED(result)) { // REGDB_E_CLASSNOTREG where Windows Portable Devices is missing
        DebugTrace("Portable devices: not available (0x%08X)\n", (unsigned)result);
        CloseMediaEreader(ereader);
        return nullptr;
    }
    DeviceIds list;
    ereader->opened = S_FALSE;
    if (ListDevices(ereader->manager.object, &list))
        ereader->opened =
            OpenEreader(ereader->manager.object, list, &ereader->open, ereader->name,
                        (int)sizeof ereader->name, ereader->id, (int)sizeof ereader->id);
    if (ereader->opened == S_FALSE) {
        CloseMediaEreader(ereader);
        return nullptr;
    }
    return ereader;
}

const char *MediaEreaderName(const MediaEreader *ereader) {
    return ereader->name;
}

const char *MediaEreaderId(const MediaEreader *ereader) {
    return ereader->id;
}

void CloseMediaEreader(MediaEreader *ereader) {
    if (!ereader)
        return;
    ereader->open.Release();
    ereader->manager.Drop();
    if (SUCCEEDED(ereader->com))
        CoUninitialize();
    delete ereader;
}
