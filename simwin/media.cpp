// simwin's portable devices: the [media NAME] sections of machine.ini and the Windows Portable
// Devices manager, device, content, enumeration, properties and object streams over the
// folders MACHINE/media/NAME/<storage>/. An object's identifier is its path below the device
// folder ("Internal Storage\documents\VellumTransit.pdf"); the device object is "DEVICE". A new
// object is written to a hidden file beside the storages and appears in its folder only when
// committed. Methods the program never calls answer E_NOTIMPL.
#include "simwin/media_internal.h"
#include "simwin/simwin_test.h"

#include "common/wpd.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <dirent.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

using simwin::ComEnter;
using simwin::ComObject;
using simwin::HresultText;
using simwin::Media;
using simwin::MediaDevice;
using simwin::QueryOne;

namespace {

// Every operation that simwin's COM and WPD code counts, so that [faults] can name it.
const char *const kOperations[] = {
    "CoInitializeEx",
    "CoCreateInstance",
    "IPortableDeviceManager::GetDevices",
    "IPortableDeviceManager::GetDeviceFriendlyName",
    "IPortableDeviceManager::GetDeviceDescription",
    "IPortableDeviceManager::GetDeviceManufacturer",
    "IPortableDevice::Open",
    "IPortableDevice::Content",
    "IPortableDevice::Close",
    "IPortableDeviceContent::EnumObjects",
    "IPortableDeviceContent::Properties",
    "IPortableDeviceContent::CreateObjectWithPropertiesAndData",
    "IPortableDeviceContent::Delete",
    "IEnumPortableDeviceObjectIDs::Next",
    "IPortableDeviceProperties::GetValues",
    "IPortableDeviceValues::SetValue",
    "IPortableDeviceValues::SetStringValue",
    "IPortableDeviceValues::GetStringValue",
    "IPortableDeviceValues::SetUnsignedIntegerValue",
    "IPortableDeviceValues::GetUnsignedIntegerValue",
    "IPortableDeviceValues::SetUnsignedLargeIntegerValue",
    "IPortableDeviceValues::GetUnsignedLargeIntegerValue",
    "IPortableDeviceValues::SetGuidValue",
    "IPortableDeviceValues::GetGuidValue",
    "IPortableDeviceKeyCollection::Add",
    "IPortableDevicePropVariantCollection::Add",
    "IPortableDeviceContent::Transfer",
    "IPortableDeviceResources::GetStream",
    "IStream::Read",
    "IStream::Write",
    "IStream::Commit",
    "IStream::Revert",
    "IPortableDeviceDataStream::GetObjectID",
};

const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

// How events.log names a device: as the user knows it, its friendly name, else its model.
std::string EventName(const MediaDevice &device) {
    return !device.friendlyName.empty()  ? device.friendlyName
           : !device.description.empty() ? device.description
                                         : device.name;
}
const HRESULT kInsufficientBuffer = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
const HRESULT kAlreadyExists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
const HRESULT kObjectNotCommitted = (HRESULT)0x802A0005; // E_WPD_OBJECT_NOT_COMMITED
const HRESULT kUnreadable = (HRESULT)0x8007001F;         // HRESULT_FROM_WIN32(ERROR_GEN_FAILURE)

std::string Outcome(HRESULT result) {
    return SUCCEEDED(result) ? "ok" : "fail " + HresultText(result);
}

std::string DeviceFolder(const MediaDevice &device) {
    return simwin::Current().folder + "/media/" + device.name;
}

bool IsDirectory(const std::string &host) {
    struct stat info;
    return stat(host.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsFile(const std::string &host, unsigned long long *size = nullptr) {
    struct stat info;
    if (stat(host.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    if (size)
        *size = (unsigned long long)info.st_size;
    return true;
}

// One object of a device, resolved from its identifier.
struct Object {
    enum Kind { kDevice, kStorage, kFolder, kFile } kind = kDevice;
    std::string id;   // as the program sees it
    std::string host; // its place in the machine folder
    std::string name; // the storage's name, or the file or folder name
    std::string parent;
};

// Resolves an identifier of device; false for no such object.
bool Resolve(const MediaDevice &device, LPCWSTR wideId, Object *object) {
    if (!wideId)
        return false;
    object->id = simwin::Narrow(wideId);
    if (object->id == "DEVICE") {
        object->kind = Object::kDevice;
        object->host = DeviceFolder(device);
        return true;
    }
    std::vector<std::string> parts;
    std::stringstream path(object->id);
    std::string part;
    while (std::getline(path, part, '\\')) {
        if (part.empty() || part == "." || part == "..")
            return false;
        parts.push_back(part);
    }
    if (parts.empty() || std::find(device.storages.begin(), device.storages.end(), parts[0]) ==
                             device.storages.end())
        return false;
    object->host = DeviceFolder(device);
    for (const std::string &each : parts)
        object->host += "/" + each;
    object->name = parts.back();
    if (parts.size() == 1) {
        object->kind = Object::kStorage;
        object->parent = "DEVICE";
        return true;
    }
    object->parent = object->id.substr(0, object->id.size() - object->name.size() - 1);
    if (IsDirectory(object->host))
        object->kind = Object::kFolder;
    else if (IsFile(object->host))
        object->kind = Object::kFile;
    else
        return false;
    return true;
}

// The children of an object, in the order NTFS would list them.
std::vector<std::wstring> Children(const MediaDevice &device, const Object &object) {
    std::vector<std::string> names;
    if (object.kind == Object::kDevice) {
        names = device.storages;
    } else if (DIR *dir = opendir(object.host.c_str())) {
        while (dirent *entry = readdir(dir))
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        closedir(dir);
        // Names that differ only in case (a case-sensitive device) follow in byte order.
        std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
            int order = strcasecmp(a.c_str(), b.c_str());
            return order != 0 ? order < 0 : a < b;
        });
    }
    std::vector<std::wstring> ids;
    for (const std::string &name : names)
        ids.push_back(
            simwin::Wide(object.kind == Object::kDevice ? name : object.id + "\\" + name));
    return ids;
}

HRESULT NewObject(IUnknown *made, REFIID riid, void **object) {
    HRESULT result = made->QueryInterface(riid, object);
    made->Release();
    return result;
}

// Whether a key of device names the object id.
bool Listed(const std::vector<simwin::MediaPath> &paths, const std::string &id) {
    for (const simwin::MediaPath &path : paths)
        if (path.id == id)
            return true;
    return false;
}

// Hands out the children's identifiers; at most batch per call (0: as many as asked), and
// S_FALSE whenever fewer than asked, even when more remain.
class Enumeration : public ComObject<IEnumPortableDeviceObjectIDs> {
  public:
    Enumeration(std::vector<std::wstring> children, ULONG batch)
        : ids(std::move(children)), batch(batch) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        return QueryOne(this, riid, IID_IEnumPortableDeviceObjectIDs, object);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, LPWSTR *out, ULONG *fetched) override {
        *fetched = 0;
        HRESULT fault = ComEnter("IEnumPortableDeviceObjectIDs::Next");
        if (FAILED(fault))
            return fault;
        ULONG most = batch && batch < count ? batch : count;
        while (*fetched < most && next < ids.size())
            out[(*fetched)++] = simwin::TaskText(ids[next++]);
        return *fetched == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        next = std::min(ids.size(), next + count);
        return next < ids.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        next = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPortableDeviceObjectIDs **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Cancel() override { return S_OK; }

  private:
    std::vector<std::wstring> ids;
    ULONG batch;
    size_t next = 0;
};

class Properties : public ComObject<IPortableDeviceProperties> {
  public:
    explicit Properties(size_t device) : device(device) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        return QueryOne(this, riid, IID_IPortableDeviceProperties, object);
    }
    HRESULT STDMETHODCALLTYPE GetValues(LPCWSTR id, IPortableDeviceKeyCollection *keys,
                                        IPortableDeviceValues **values) override {
        *values = nullptr;
        HRESULT fault = ComEnter("IPortableDeviceProperties::GetValues");
        if (FAILED(fault))
            return fault;
        Object object;
        if (!Resolve(Media().devices[device], id, &object))
            return kNotFound;
        if (Listed(Media().devices[device].unreadable, object.id))
            return kUnreadable;
        IPortableDeviceValues *answer = nullptr;
        NewObject(simwin::NewPortableDeviceValues(), IID_IPortableDeviceValues,
                  reinterpret_cast<void **>(&answer));
        DWORD count = 0;
        keys->GetCount(&count);
        for (DWORD i = 0; i < count; ++i) {
            PROPERTYKEY key;
            keys->GetAt(i, &key);
            Fill(object, key, answer);
        }
        *values = answer;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSupportedProperties(LPCWSTR,
                                                     IPortableDeviceKeyCollection **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyAttributes(LPCWSTR, REFPROPERTYKEY,
                                                    IPortableDeviceValues **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetValues(LPCWSTR, IPortableDeviceValues *,
                                        IPortableDeviceValues **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR, IPortableDeviceKeyCollection *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override { return S_OK; }

  private:
    size_t device;

    // Sets the value of key that object has (and nothing for a key it has not), through the
    // same PROPVARIANT path a device driver uses, so that the program's getters are counted.
    void Fill(const Object &object, const PROPERTYKEY &key, IPortableDeviceValues *values) {
        const MediaDevice &owner = Media().devices[device];
        auto same = [&](const PROPERTYKEY &other) {
            return key.fmtid == other.fmtid && key.pid == other.pid;
        };
        PROPVARIANT value;
        memset(&value, 0, sizeof value);
        std::wstring text;
        GUID guid = {};
        if (same(WPD_OBJECT_ID)) {
            value.vt = VT_LPWSTR, text = simwin::Wide(object.id);
        } else if (same(WPD_OBJECT_PARENT_ID) && object.kind != Object::kDevice) {
            value.vt = VT_LPWSTR, text = simwin::Wide(object.parent);
        } else if (same(WPD_OBJECT_NAME)) {
            std::string name = object.kind == Object::kDevice ? owner.friendlyName : object.name;
            size_t dot = name.rfind('.');
            if (object.kind == Object::kFile && owner.stemNames && dot != std::string::npos &&
                dot > 0)
                name.erase(dot);
            value.vt = VT_LPWSTR, text = simwin::Wide(name);
        } else if (same(WPD_DEVICE_MODEL) && object.kind == Object::kDevice) {
            value.vt = VT_LPWSTR;
            text = simwin::Wide(owner.modelGiven ? owner.model : owner.description);
        } else if (same(WPD_OBJECT_ORIGINAL_FILE_NAME) &&
                   (object.kind == Object::kFolder || object.kind == Object::kFile) &&
                   !Listed(owner.noOriginalName, object.id)) {
            value.vt = VT_LPWSTR, text = simwin::Wide(object.name);
        } else if (same(WPD_OBJECT_CONTENT_TYPE)) {
            value.vt = VT_CLSID;
            guid = object.kind == Object::kFolder ? WPD_CONTENT_TYPE_FOLDER
                   : object.kind == Object::kFile ? WPD_CONTENT_TYPE_GENERIC_FILE
                                                  : WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT;
        } else if (same(WPD_FUNCTIONAL_OBJECT_CATEGORY) && object.kind == Object::kStorage) {
            value.vt = VT_CLSID, guid = WPD_FUNCTIONAL_CATEGORY_STORAGE;
        } else if (same(WPD_OBJECT_FORMAT) && object.kind == Object::kFile) {
            value.vt = VT_CLSID, guid = WPD_OBJECT_FORMAT_UNSPECIFIED;
        } else if (same(WPD_OBJECT_SIZE) && object.kind == Object::kFile) {
            unsigned long long size = 0;
            IsFile(object.host, &size);
            value.vt = VT_UI8, value.uhVal.QuadPart = size;
        } else {
            return;
        }
        if (value.vt == VT_LPWSTR)
            value.pwszVal = const_cast<LPWSTR>(text.c_str());
        else if (value.vt == VT_CLSID)
            value.puuid = &guid;
        simwin::StoreValue(values, key, &value); // the set keeps its own copy
    }
};

// The stream of a new object. Its bytes go to a hidden file beside the storages until Commit
// moves it into its folder; or, on a device that makes objects at the create call (incoming is
// then the target itself), straight into the object, which a Revert or failed Commit leaves as
// it is. Commit dates the file by WPD_OBJECT_DATE_MODIFIED, as the device shows it.
class ObjectStream : public ComObject<IPortableDeviceDataStream> {
  public:
    ObjectStream(size_t device, const std::string &id, const std::string &target,
                 const std::string &incoming, FILE *file, const PROPVARIANT &modified)
        : device(device), id(id), target(target), incoming(incoming), file(file),
          inPlace(incoming == target), dated(modified.vt == VT_DATE), modified(modified.date) {}
    ~ObjectStream() override { Discard(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        if (!(riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream ||
              riid == IID_IPortableDeviceDataStream)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        *object = static_cast<IPortableDeviceDataStream *>(this);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void *bytes, ULONG count, ULONG *written) override {
        std::string mode;
        HRESULT result = ComEnter("IStream::Write", &mode);
        MediaDevice &owner = Media().devices[device];
        ULONG kept = count;
        if (mode == "crash_half" && file) { // a transfer cut short by a kill
            fwrite(bytes, 1, count / 2, file);
            fflush(file);
            simwin::Crash("IStream::Write");
        }
        if (mode == "short") { // a device that loses half the bytes and says it took them all
            result = S_OK;
            kept = count / 2;
        }
        if (written)
            *written = 0;
        if (SUCCEEDED(result) && (committed || !file))
            result = E_UNEXPECTED;
        else if (SUCCEEDED(result) && owner.limited && count > owner.freeBytes)
            result = STG_E_MEDIUMFULL;
        else if (SUCCEEDED(result) && fwrite(bytes, 1, kept, file) != kept)
            result = STG_E_WRITEFAULT;
        if (SUCCEEDED(result)) {
            if (owner.limited)
                owner.freeBytes -= count;
            used += count;
            if (written)
                *written = count;
        }
        simwin::Event("IStream::Write " + id + " " + std::to_string(count) + " " + Outcome(result));
        return result;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override {
        HRESULT result = ComEnter("IStream::Commit");
        if (SUCCEEDED(result) && (committed || !file))
            result = E_UNEXPECTED;
        else if (SUCCEEDED(result) && !inPlace && IsFile(target))
            result = kAlreadyExists;
        if (SUCCEEDED(result)) {
            bool closed = fclose(file) == 0;
            file = nullptr;
            if (!closed || (!inPlace && rename(incoming.c_str(), target.c_str()) != 0))
                result = STG_E_WRITEFAULT;
            else
                committed = true;
            if (committed)
                simwin::NoteFlushed(target); // a committed object is on the device to stay
        }
        if (committed && dated) {
            // A VT_DATE counts days from 30 December 1899, 25569 days before 1970.
            struct utimbuf times;
            times.actime = times.modtime = (time_t)((modified - 25569.0) * 86400.0 + 0.5);
            utime(target.c_str(), &times);
        }
        simwin::Event("IStream::Commit " + id + " " + Outcome(result));
        return result;
    }
    HRESULT STDMETHODCALLTYPE Revert() override {
        HRESULT result = ComEnter("IStream::Revert");
        if (SUCCEEDED(result) && committed)
            result = E_UNEXPECTED;
        if (SUCCEEDED(result))
            Discard();
        simwin::Event("IStream::Revert " + id + " " + Outcome(result));
        return result;
    }
    HRESULT STDMETHODCALLTYPE GetObjectID(LPWSTR *objectId) override {
        *objectId = nullptr;
        HRESULT fault = ComEnter("IPortableDeviceDataStream::GetObjectID");
        if (FAILED(fault))
            return fault;
        if (!committed)
            return kObjectNotCommitted;
        *objectId = simwin::TaskText(simwin::Wide(id));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Read(void *, ULONG, ULONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream *, ULARGE_INTEGER, ULARGE_INTEGER *,
                                     ULARGE_INTEGER *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG *, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream **) override { return E_NOTIMPL; }

  private:
    size_t device;
    std::string id, target, incoming;
    FILE *file;
    bool inPlace; // the object exists from the create call on
    bool dated;
    DATE modified;
    bool committed = false;
    unsigned long long used = 0; // room taken on the device, given back if never committed

    // Forgets an object that was never committed: its bytes and the room they took; or, made in
    // place, stops writing and leaves what was written.
    void Discard() {
        if (!file)
            return;
        fclose(file);
        file = nullptr;
        if (inPlace)
            return;
        simwin::NoteGone(incoming);
        unlink(incoming.c_str());
        MediaDevice &owner = Media().devices[device];
        if (owner.limited)
            owner.freeBytes += used;
        used = 0;
    }
};

// The bytes of an object as its default resource gives them, for reading only.
class ReadStream : public ComObject<IStream> {
  public:
    explicit ReadStream(FILE *file) : file(file) {}
    ~ReadStream() override { fclose(file); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        if (!(riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        *object = static_cast<IStream *>(this);
        return S_OK;
    }
    // S_FALSE when fewer bytes than asked remain, as a stream at its end answers. A "short"
    // fault gives half the bytes asked for and then ends the stream: an object shorter than its
    // size says, as a device may report the size declared when the object was made.
    HRESULT STDMETHODCALLTYPE Read(void *bytes, ULONG count, ULONG *read) override {
        std::string mode;
        HRESULT result = ComEnter("IStream::Read", &mode);
        if (read)
            *read = 0;
        if (FAILED(result) && mode != "short")
            return result;
        size_t got = ended ? 0 : fread(bytes, 1, mode == "short" ? count / 2 : count, file);
        ended = ended || mode == "short";
        if (read)
            *read = (ULONG)got;
        return got == count ? S_OK : ferror(file) ? STG_E_READFAULT : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Write(const void *, ULONG, ULONG *) override {
        return STG_E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream *, ULARGE_INTEGER, ULARGE_INTEGER *,
                                     ULARGE_INTEGER *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG *, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream **) override { return E_NOTIMPL; }

  private:
    FILE *file;
    bool ended = false; // a short read ended the stream
};

// An object's resources: only its default resource, only for reading.
class Resources : public ComObject<IPortableDeviceResources> {
  public:
    Resources(size_t device, IUnknown *owner) : device(device), owner(owner) { owner->AddRef(); }
    ~Resources() override { owner->Release(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        return QueryOne(this, riid, IID_IPortableDeviceResources, object);
    }
    HRESULT STDMETHODCALLTYPE GetStream(LPCWSTR id, REFPROPERTYKEY key, const DWORD mode,
                                        DWORD *optimal, IStream **stream) override {
        *stream = nullptr;
        HRESULT fault = ComEnter("IPortableDeviceResources::GetStream");
        if (FAILED(fault))
            return fault;
        if (!(key.fmtid == WPD_RESOURCE_DEFAULT.fmtid && key.pid == WPD_RESOURCE_DEFAULT.pid) ||
            mode != STGM_READ)
            return E_NOTIMPL;
        Object object;
        if (!Resolve(Media().devices[device], id, &object) || object.kind != Object::kFile)
            return kNotFound;
        FILE *file = fopen(object.host.c_str(), "rb");
        if (!file)
            return STG_E_READFAULT;
        if (optimal)
            *optimal = Media().devices[device].optimalBuffer;
        *stream = new ReadStream(file);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSupportedResources(LPCWSTR,
                                                    IPortableDeviceKeyCollection **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetResourceAttributes(LPCWSTR, REFPROPERTYKEY,
                                                    IPortableDeviceValues **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR, IPortableDeviceKeyCollection *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CreateResource(IPortableDeviceValues *, IStream **, DWORD *,
                                             LPWSTR *) override {
        return E_NOTIMPL;
    }

  private:
    size_t device;
    IUnknown *owner; // the device stays alive while its resources are used
};

class Device;

class Content : public ComObject<IPortableDeviceContent> {
  public:
    Content(size_t device, IUnknown *owner) : device(device), owner(owner) { owner->AddRef(); }
    ~Content() override { owner->Release(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        return QueryOne(this, riid, IID_IPortableDeviceContent, object);
    }
    HRESULT STDMETHODCALLTYPE EnumObjects(const DWORD, LPCWSTR parent, IPortableDeviceValues *,
                                          IEnumPortableDeviceObjectIDs **children) override {
        *children = nullptr;
        HRESULT fault = ComEnter("IPortableDeviceContent::EnumObjects");
        if (FAILED(fault))
            return fault;
        Object object;
        const MediaDevice &owner = Media().devices[device];
        if (!Resolve(owner, parent, &object) || object.kind == Object::kFile)
            return kNotFound;
        *children = new Enumeration(Children(owner, object), owner.enumBatch);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Properties(IPortableDeviceProperties **properties) override {
        *properties = nullptr;
        HRESULT fault = ComEnter("IPortableDeviceContent::Properties");
        if (SUCCEEDED(fault))
            *properties = new ::Properties(device);
        return fault;
    }
    HRESULT STDMETHODCALLTYPE CreateObjectWithPropertiesAndData(IPortableDeviceValues *values,
                                                                IStream **data, DWORD *optimal,
                                                                LPWSTR *cookie) override {
        *data = nullptr;
        if (cookie)
            *cookie = nullptr;
        HRESULT result = ComEnter("IPortableDeviceContent::CreateObjectWithPropertiesAndData");
        const MediaDevice &owner = Media().devices[device];
        std::string id = "(no parent)";
        LPWSTR parentId = nullptr, name = nullptr, fileName = nullptr;
        ULONGLONG size = 0;
        GUID type = {};
        Object parent;
        if (SUCCEEDED(result) &&
            (FAILED(values->GetStringValue(WPD_OBJECT_PARENT_ID, &parentId)) ||
             FAILED(values->GetStringValue(WPD_OBJECT_NAME, &name)) ||
             FAILED(values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, &fileName)) ||
             FAILED(values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, &size)) ||
             FAILED(values->GetGuidValue(WPD_OBJECT_CONTENT_TYPE, &type))))
            result = E_INVALIDARG;
        if (SUCCEEDED(result) && (!Resolve(owner, parentId, &parent) ||
                                  parent.kind == Object::kFile || parent.kind == Object::kDevice))
            result = kNotFound;
        if (SUCCEEDED(result)) {
            id = parent.id + "\\" + simwin::Narrow(fileName);
            if (IsFile(parent.host + "/" + simwin::Narrow(fileName)))
                result = kAlreadyExists;
        }
        FILE *file = nullptr;
        std::string target = parent.host + "/" + simwin::Narrow(fileName);
        std::string incoming = owner.onCreate ? target
                                              : DeviceFolder(owner) + "/.incoming-" +
                                                    std::to_string(++Media().nextIncoming);
        if (SUCCEEDED(result) && !(file = fopen(incoming.c_str(), "wb")))
            result = STG_E_WRITEFAULT;
        if (file)
            simwin::NoteNewFile(fileno(file));
        if (SUCCEEDED(result)) {
            PROPVARIANT modified;
            if (FAILED(values->GetValue(WPD_OBJECT_DATE_MODIFIED, &modified)))
                modified.vt = VT_EMPTY;
            *data = new ObjectStream(device, id, target, incoming, file, modified);
            PropVariantClear(&modified);
            *optimal = owner.optimalBuffer;
        }
        CoTaskMemFree(parentId);
        CoTaskMemFree(name);
        CoTaskMemFree(fileName);
        simwin::Event("IPortableDeviceContent::CreateObjectWithPropertiesAndData " + id + " " +
                      std::to_string(size) + " " + Outcome(result));
        return result;
    }
    HRESULT STDMETHODCALLTYPE Delete(const DWORD, IPortableDevicePropVariantCollection *ids,
                                     IPortableDevicePropVariantCollection **results) override {
        if (results)
            *results = nullptr;
        HRESULT result = ComEnter("IPortableDeviceContent::Delete");
        DWORD count = 0;
        if (SUCCEEDED(result))
            ids->GetCount(&count);
        for (DWORD i = 0; SUCCEEDED(result) && i < count; ++i) {
            PROPVARIANT value;
            ids->GetAt(i, &value);
            Object object;
            HRESULT one = S_OK;
            MediaDevice &owner = Media().devices[device];
            unsigned long long size = 0;
            if (!Resolve(owner, value.pwszVal, &object))
                one = kNotFound;
            else if (object.kind != Object::kFile || !IsFile(object.host, &size) ||
                     (simwin::NoteGone(object.host), unlink(object.host.c_str()) != 0))
                one = E_ACCESSDENIED; // folders only with recursion, which is never asked for
            else if (owner.limited)
                owner.freeBytes += size;
            simwin::Event("IPortableDeviceContent::Delete " + simwin::Narrow(value.pwszVal) + " " +
                          Outcome(one));
            PropVariantClear(&value);
            result = one;
        }
        if (FAILED(result) && count == 0)
            simwin::Event("IPortableDeviceContent::Delete " + Outcome(result));
        return result;
    }
    HRESULT STDMETHODCALLTYPE Transfer(IPortableDeviceResources **resources) override {
        *resources = nullptr;
        HRESULT fault = ComEnter("IPortableDeviceContent::Transfer");
        if (SUCCEEDED(fault))
            *resources = new Resources(device, owner);
        return fault;
    }
    HRESULT STDMETHODCALLTYPE CreateObjectWithPropertiesOnly(IPortableDeviceValues *,
                                                             LPWSTR *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetObjectIDsFromPersistentUniqueIDs(
        IPortableDevicePropVariantCollection *, IPortableDevicePropVariantCollection **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Move(IPortableDevicePropVariantCollection *, LPCWSTR,
                                   IPortableDevicePropVariantCollection **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Copy(IPortableDevicePropVariantCollection *, LPCWSTR,
                                   IPortableDevicePropVariantCollection **) override {
        return E_NOTIMPL;
    }

  private:
    size_t device;
    IUnknown *owner; // the device stays alive while its content is used
};

class Device : public ComObject<IPortableDevice> {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        return QueryOne(this, riid, IID_IPortableDevice, object);
    }
    HRESULT STDMETHODCALLTYPE Open(LPCWSTR pnpId, IPortableDeviceValues *client) override {
        HRESULT result = ComEnter("IPortableDevice::Open");
        std::string target = simwin::Narrow(pnpId);
        const std::vector<MediaDevice> &devices = Media().devices;
        size_t found = devices.size();
        for (size_t i = 0; i < devices.size(); ++i)
            if (strcasecmp(devices[i].pnpId.c_str(), target.c_str()) == 0)
                found = i;
        if (found < devices.size())
            target = EventName(devices[found]);
        if (SUCCEEDED(result) && opened)
            result = E_WPD_DEVICE_ALREADY_OPENED;
        else if (SUCCEEDED(result) && !client)
            result = E_POINTER;
        else if (SUCCEEDED(result) && found == devices.size())
            result = kNotFound;
        else if (SUCCEEDED(result))
            result = devices[found].open;
        if (SUCCEEDED(result)) {
            opened = true;
            device = found;
        }
        simwin::Event("IPortableDevice::Open " + target + " " + Outcome(result));
        return result;
    }
    HRESULT STDMETHODCALLTYPE Content(IPortableDeviceContent **content) override {
        *content = nullptr;
        HRESULT fault = ComEnter("IPortableDevice::Content");
        if (FAILED(fault))
            return fault;
        if (!opened)
            return E_WPD_DEVICE_NOT_OPEN;
        *content = new ::Content(device, this);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        HRESULT result = ComEnter("IPortableDevice::Close");
        if (opened)
            simwin::Event("IPortableDevice::Close " + EventName(Media().devices[device]) + " " +
                          Outcome(result));
        opened = false; // closed whatever the answer, as a released device is
        return result;
    }
    HRESULT STDMETHODCALLTYPE GetPnPDeviceID(LPWSTR *pnpId) override {
        if (!opened)
            return E_WPD_DEVICE_NOT_OPEN;
        *pnpId = simwin::TaskText(simwin::Wide(Media().devices[device].pnpId));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SendCommand(const DWORD, IPortableDeviceValues *,
                                          IPortableDeviceValues **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Capabilities(IPortableDeviceCapabilities **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Advise(const DWORD, IPortableDeviceEventCallback *,
                                     IPortableDeviceValues *, LPWSTR *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(LPCWSTR) override { return E_NOTIMPL; }

  private:
    bool opened = false;
    size_t device = 0;
};

class Manager : public ComObject<IPortableDeviceManager> {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        return QueryOne(this, riid, IID_IPortableDeviceManager, object);
    }
    HRESULT STDMETHODCALLTYPE GetDevices(LPWSTR *ids, DWORD *count) override {
        HRESULT fault = ComEnter("IPortableDeviceManager::GetDevices");
        if (FAILED(fault))
            return fault;
        const std::vector<MediaDevice> &devices = Media().devices;
        if (!ids) {
            *count = (DWORD)devices.size();
            return S_OK;
        }
        DWORD given = 0;
        for (; given < *count && given < devices.size(); ++given)
            ids[given] = simwin::TaskText(simwin::Wide(devices[given].pnpId));
        *count = given;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RefreshDeviceList() override {
        simwin::AddArrivedMediaDevices(simwin::Current());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDeviceFriendlyName(LPCWSTR id, WCHAR *text,
                                                    DWORD *length) override {
        return Text(id, &MediaDevice::friendlyName, "IPortableDeviceManager::GetDeviceFriendlyName",
                    text, length);
    }
    HRESULT STDMETHODCALLTYPE GetDeviceDescription(LPCWSTR id, WCHAR *text,
                                                   DWORD *length) override {
        return Text(id, &MediaDevice::description, "IPortableDeviceManager::GetDeviceDescription",
                    text, length);
    }
    HRESULT STDMETHODCALLTYPE GetDeviceManufacturer(LPCWSTR id, WCHAR *text,
                                                    DWORD *length) override {
        return Text(id, &MediaDevice::manufacturer, "IPortableDeviceManager::GetDeviceManufacturer",
                    text, length);
    }
    HRESULT STDMETHODCALLTYPE GetDeviceProperty(LPCWSTR, LPCWSTR, BYTE *, DWORD *,
                                                DWORD *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetPrivateDevices(LPWSTR *, DWORD *count) override {
        *count = 0;
        return S_OK;
    }

  private:
    // A device text into a buffer of *length characters and its terminator: the published
    // documents disagree on whether the count includes the terminator, so a device takes the
    // wider reading. With no buffer, or too small a one, *length gets the characters needed,
    // terminator included.
    HRESULT Text(LPCWSTR id, std::string MediaDevice::*field, const char *operation, WCHAR *text,
                 DWORD *length) {
        HRESULT fault = ComEnter(operation);
        if (FAILED(fault))
            return fault;
        std::string wanted = simwin::Narrow(id);
        for (const MediaDevice &device : Media().devices) {
            if (strcasecmp(device.pnpId.c_str(), wanted.c_str()) != 0)
                continue;
            std::wstring value = simwin::Wide(device.*field);
            DWORD needed = (DWORD)value.size() + 1;
            if (!text || *length < needed - 1) {
                *length = needed;
                return text ? kInsufficientBuffer : S_OK;
            }
            memcpy(text, value.c_str(), needed * sizeof(WCHAR));
            *length = needed;
            return S_OK;
        }
        return kNotFound;
    }
};

// "0x80070005", or a decimal number: an HRESULT as machine.ini gives it.
bool ParseHresult(const std::string &text, HRESULT *result) {
    if (text.empty() || text[0] == '-')
        return false;
    char *end = nullptr;
    unsigned long long value = strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || value > 0xFFFFFFFFull)
        return false;
    *result = (HRESULT)(uint32_t)value;
    return true;
}

// A decimal count no larger than most; a number past it does not fit its field.
bool ParseCount(const std::string &text, unsigned long long most, unsigned long long *value) {
    if (text.empty() || !isdigit((unsigned char)text[0]))
        return false;
    errno = 0;
    char *end = nullptr;
    *value = strtoull(text.c_str(), &end, 10);
    return *end == '\0' && errno == 0 && *value <= most;
}

// "A | B | C": the parts, none of them empty.
bool SplitList(const std::string &value, std::vector<std::string> *parts) {
    parts->clear();
    std::stringstream list(value);
    std::string part;
    while (std::getline(list, part, '|')) {
        size_t begin = part.find_first_not_of(' '), end = part.find_last_not_of(' ');
        if (begin == std::string::npos)
            return false;
        parts->push_back(part.substr(begin, end - begin + 1));
    }
    return !parts->empty() && value.back() != '|';
}

// "Internal Storage/system | ...": objects of the device, as identifiers; checked against the
// device's folder once the whole file is read.
bool ParsePaths(const std::string &value, int line, std::vector<simwin::MediaPath> *paths) {
    std::vector<std::string> parts;
    if (!SplitList(value, &parts))
        return false;
    for (const std::string &path : parts) {
        simwin::MediaPath named;
        named.line = line;
        std::stringstream components(path);
        std::string component;
        while (std::getline(components, component, '/')) {
            if (component.empty() || component == "." || component == ".." ||
                component.find('\\') != std::string::npos)
                return false;
            named.id += (named.id.empty() ? "" : "\\") + component;
        }
        if (named.id.empty() || path.back() == '/')
            return false;
        paths->push_back(named);
    }
    return true;
}

} // namespace

namespace simwin {

IUnknown *NewPortableDeviceManager() {
    return new Manager();
}
IUnknown *NewPortableDevice() {
    return new Device();
}

MediaState &Media() {
    Machine &machine = Current();
    if (!machine.media)
        machine.media = std::make_shared<MediaState>();
    return *machine.media;
}

bool SetWpdKey(Machine *machine, const std::string &value) {
    if (!machine->media)
        machine->media = std::make_shared<MediaState>();
    machine->media->wpdMissing = value == "missing";
    return value == "ok" || value == "missing";
}

bool AddMediaDevice(Machine *machine, const std::string &name, int line, std::string *error) {
    if (!machine->media)
        machine->media = std::make_shared<MediaState>();
    if (name.empty() || name.find_first_of("/\\") != std::string::npos || name[0] == '.') {
        *error = "a media section names one folder: [media Kindle Scribe]";
        return false;
    }
    // Their pnp_ids would differ only in case, which names one device.
    for (const MediaDevice &other : machine->media->devices)
        if (strcasecmp(other.name.c_str(), name.c_str()) == 0) {
            *error = "media " + name + " is described twice";
            return false;
        }
    MediaDevice device;
    device.name = name;
    device.line = line;
    device.pnpId = "\\\\?\\simwin#media#" + name + "#{6ac27878-a6fa-4155-ba85-f98f491d4f33}";
    machine->media->devices.push_back(device);
    return true;
}

bool SetMediaKey(Machine *machine, const std::string &key, const std::string &value, int line) {
    MediaDevice &device = machine->media->devices.back();
    if (key == "pnp_id")
        return device.pnpId = value, device.pnpIdLine = line, !value.empty();
    if (key == "friendly_name")
        return device.friendlyName = value, true;
    if (key == "manufacturer")
        return device.manufacturer = value, true;
    if (key == "description")
        return device.description = value, true;
    if (key == "storages") {
        if (!SplitList(value, &device.storages))
            return false;
        for (const std::string &storage : device.storages)
            if (storage.find_first_of("/\\") != std::string::npos || storage[0] == '.')
                return false;
        return true;
    }
    if (key == "open") {
        if (value == "ok")
            return device.open = S_OK, true;
        return ParseHresult(value, &device.open) && FAILED(device.open);
    }
    if (key == "free_bytes")
        return device.limited = true, ParseCount(value, ~0ull, &device.freeBytes);
    unsigned long long number = 0;
    if (key == "optimal_buffer") {
        if (!ParseCount(value, 0xFFFFFFFFull, &number) || number == 0)
            return false;
        return device.optimalBuffer = (DWORD)number, true;
    }
    if (key == "enum_batch") {
        if (!ParseCount(value, 0xFFFFFFFFull, &number) || number == 0)
            return false;
        return device.enumBatch = (ULONG)number, true;
    }
    if (key == "model")
        return device.model = value, device.modelGiven = true, true;
    if (key == "object_names") {
        device.stemNames = value == "stem";
        return value == "stem" || value == "file";
    }
    if (key == "transfer") {
        device.onCreate = value == "on_create";
        return value == "on_commit" || value == "on_create";
    }
    if (key == "unreadable")
        return ParsePaths(value, line, &device.unreadable);
    if (key == "no_original_name")
        return ParsePaths(value, line, &device.noOriginalName);
    return false;
}

bool CheckMediaDevices(const Machine &machine, int *line, std::string *error) {
    if (!machine.media)
        return true;
    const std::vector<MediaDevice> &devices = machine.media->devices;
    for (size_t i = 0; i < devices.size(); ++i) {
        const MediaDevice &device = devices[i];
        if (device.storages.empty()) {
            *line = device.line;
            *error = "media " + device.name + " has no storages";
            return false;
        }
        for (size_t j = 0; j < i; ++j)
            if (strcasecmp(devices[j].pnpId.c_str(), device.pnpId.c_str()) == 0) {
                *line = device.pnpIdLine ? device.pnpIdLine : device.line;
                *error = "media " + device.name + " has the pnp_id of media " + devices[j].name;
                return false;
            }
        for (const auto *paths : {&device.unreadable, &device.noOriginalName})
            for (const MediaPath &path : *paths) {
                std::string storage = path.id.substr(0, path.id.find('\\'));
                std::string host = machine.folder + "/media/" + device.name + "/" + path.id;
                std::replace(host.begin(), host.end(), '\\', '/');
                struct stat info;
                if (std::find(device.storages.begin(), device.storages.end(), storage) ==
                        device.storages.end() ||
                    stat(host.c_str(), &info) != 0) {
                    *line = path.line;
                    *error = path.id + " names nothing on media " + device.name;
                    return false;
                }
            }
    }
    return true;
}

bool IsMediaOperation(const std::string &name) {
    for (const char *operation : kOperations)
        if (name == operation)
            return true;
    return false;
}

// A device drops an object that was never committed when the session that made it ends; a
// process killed mid-transfer cannot tell simwin so, so the next machine does it.
void ForgetUncommittedObjects(Machine &machine) {
    if (!machine.media)
        return;
    for (const MediaDevice &device : machine.media->devices) {
        std::string folder = machine.folder + "/media/" + device.name;
        if (DIR *dir = opendir(folder.c_str())) {
            while (dirent *entry = readdir(dir))
                if (strncmp(entry->d_name, ".incoming-", 10) == 0) {
                    NoteGone(machine, folder + "/" + entry->d_name);
                    unlink((folder + "/" + entry->d_name).c_str());
                }
            closedir(dir);
        }
    }
}

void CountMediaHeld(const Machine &machine, Held *held) {
    if (!machine.media)
        return;
    held->comReferences = machine.media->references;
    held->taskMemory = (int)machine.media->taskMemory.size();
    held->comInitialisations = machine.media->initialisations;
}

} // namespace simwin
