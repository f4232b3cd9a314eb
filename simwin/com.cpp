// simwin's COM runtime: initialisation, class activation, task memory, PROPVARIANTs, wide text,
// and the portable-device value types (values, key and PROPVARIANT collections). Methods the
// program never calls answer E_NOTIMPL.
#include "simwin/media_internal.h"
#include "simwin/simwin_test.h"

#include "common/wpd.h"

using simwin::ComEnter;
using simwin::ComObject;
using simwin::Media;

namespace {

const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
const HRESULT kTypeMismatch = (HRESULT)0x8007065D; // HRESULT_FROM_WIN32(ERROR_DATATYPE_MISMATCH)

bool SameKey(const PROPERTYKEY &a, const PROPERTYKEY &b) {
    return a.fmtid == b.fmtid && a.pid == b.pid;
}

// One stored value: a text, a number, a date or a GUID, by its VARTYPE.
struct Value {
    VARTYPE vt = VT_EMPTY;
    std::wstring text;
    ULONGLONG number = 0;
    DATE date = 0;
    GUID guid = {};
};

class Values : public ComObject<IPortableDeviceValues> {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        return simwin::QueryOne(this, riid, IID_IPortableDeviceValues, object);
    }
    HRESULT STDMETHODCALLTYPE GetCount(DWORD *count) override {
        *count = (DWORD)entries.size();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY *key, PROPVARIANT *value) override {
        if (index >= entries.size())
            return E_INVALIDARG;
        if (key)
            *key = entries[index].first;
        return value ? CopyOut(entries[index].second, value) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, const PROPVARIANT *value) override {
        HRESULT fault = ComEnter("IPortableDeviceValues::SetValue");
        return FAILED(fault) ? fault : StoreVariant(key, value);
    }
    // SetValue as a device driver fills in the values it answers with: not the program's call.
    HRESULT StoreVariant(REFPROPERTYKEY key, const PROPVARIANT *value) {
        if (!value)
            return E_POINTER;
        Value stored;
        stored.vt = value->vt;
        if (value->vt == VT_LPWSTR)
            stored.text = value->pwszVal ? value->pwszVal : L"";
        else if (value->vt == VT_UI4)
            stored.number = value->ulVal;
        else if (value->vt == VT_UI8)
            stored.number = value->uhVal.QuadPart;
        else if (value->vt == VT_DATE)
            stored.date = value->date;
        else if (value->vt == VT_CLSID && value->puuid)
            stored.guid = *value->puuid;
        else
            return E_NOTIMPL;
        return Store(key, stored);
    }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT *value) override {
        const Value *stored = Find(key);
        return stored ? CopyOut(*stored, value) : kNotFound;
    }
    HRESULT STDMETHODCALLTYPE SetStringValue(REFPROPERTYKEY key, LPCWSTR text) override {
        HRESULT fault = ComEnter("IPortableDeviceValues::SetStringValue");
        if (FAILED(fault))
            return fault;
        if (!text)
            return E_POINTER;
        Value stored;
        stored.vt = VT_LPWSTR;
        stored.text = text;
        return Store(key, stored);
    }
    HRESULT STDMETHODCALLTYPE GetStringValue(REFPROPERTYKEY key, LPWSTR *text) override {
        HRESULT result = Get(key, VT_LPWSTR, "IPortableDeviceValues::GetStringValue");
        if (SUCCEEDED(result))
            *text = simwin::TaskText(Find(key)->text);
        return result;
    }
    HRESULT STDMETHODCALLTYPE SetUnsignedIntegerValue(REFPROPERTYKEY key, ULONG number) override {
        return SetNumber(key, VT_UI4, number, "IPortableDeviceValues::SetUnsignedIntegerValue");
    }
    HRESULT STDMETHODCALLTYPE GetUnsignedIntegerValue(REFPROPERTYKEY key, ULONG *number) override {
        HRESULT result = Get(key, VT_UI4, "IPortableDeviceValues::GetUnsignedIntegerValue");
        if (SUCCEEDED(result))
            *number = (ULONG)Find(key)->number;
        return result;
    }
    HRESULT STDMETHODCALLTYPE SetUnsignedLargeIntegerValue(REFPROPERTYKEY key,
                                                           ULONGLONG number) override {
        return SetNumber(key, VT_UI8, number,
                         "IPortableDeviceValues::SetUnsignedLargeIntegerValue");
    }
    HRESULT STDMETHODCALLTYPE GetUnsignedLargeIntegerValue(REFPROPERTYKEY key,
                                                           ULONGLONG *number) override {
        HRESULT result = Get(key, VT_UI8, "IPortableDeviceValues::GetUnsignedLargeIntegerValue");
        if (SUCCEEDED(result))
            *number = Find(key)->number;
        return result;
    }
    HRESULT STDMETHODCALLTYPE SetGuidValue(REFPROPERTYKEY key, REFGUID guid) override {
        HRESULT fault = ComEnter("IPortableDeviceValues::SetGuidValue");
        if (FAILED(fault))
            return fault;
        Value stored;
        stored.vt = VT_CLSID;
        stored.guid = guid;
        return Store(key, stored);
    }
    HRESULT STDMETHODCALLTYPE GetGuidValue(REFPROPERTYKEY key, GUID *guid) override {
        HRESULT result = Get(key, VT_CLSID, "IPortableDeviceValues::GetGuidValue");
        if (SUCCEEDED(result))
            *guid = Find(key)->guid;
        return result;
    }
    HRESULT STDMETHODCALLTYPE RemoveValue(REFPROPERTYKEY key) override {
        for (size_t i = 0; i < entries.size(); ++i)
            if (SameKey(entries[i].first, key)) {
                entries.erase(entries.begin() + (long)i);
                return S_OK;
            }
        return kNotFound;
    }
    HRESULT STDMETHODCALLTYPE Clear() override {
        entries.clear();
        return S_OK;
    }
    // Not called by the program.
    HRESULT STDMETHODCALLTYPE SetSignedIntegerValue(REFPROPERTYKEY, LONG) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetSignedIntegerValue(REFPROPERTYKEY, LONG *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetSignedLargeIntegerValue(REFPROPERTYKEY, LONGLONG) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetSignedLargeIntegerValue(REFPROPERTYKEY, LONGLONG *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetFloatValue(REFPROPERTYKEY, FLOAT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFloatValue(REFPROPERTYKEY, FLOAT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetErrorValue(REFPROPERTYKEY, HRESULT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetErrorValue(REFPROPERTYKEY, HRESULT *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetKeyValue(REFPROPERTYKEY, REFPROPERTYKEY) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetKeyValue(REFPROPERTYKEY, PROPERTYKEY *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetBoolValue(REFPROPERTYKEY, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBoolValue(REFPROPERTYKEY, BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIUnknownValue(REFPROPERTYKEY, IUnknown *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIUnknownValue(REFPROPERTYKEY, IUnknown **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetBufferValue(REFPROPERTYKEY, BYTE *, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetBufferValue(REFPROPERTYKEY, BYTE **, DWORD *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesValue(REFPROPERTYKEY,
                                                            IPortableDeviceValues *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesValue(REFPROPERTYKEY,
                                                            IPortableDeviceValues **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetIPortableDevicePropVariantCollectionValue(
        REFPROPERTYKEY, IPortableDevicePropVariantCollection *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIPortableDevicePropVariantCollectionValue(
        REFPROPERTYKEY, IPortableDevicePropVariantCollection **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE
    SetIPortableDeviceKeyCollectionValue(REFPROPERTYKEY, IPortableDeviceKeyCollection *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE
    GetIPortableDeviceKeyCollectionValue(REFPROPERTYKEY, IPortableDeviceKeyCollection **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesCollectionValue(
        REFPROPERTYKEY, IPortableDeviceValuesCollection *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesCollectionValue(
        REFPROPERTYKEY, IPortableDeviceValuesCollection **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CopyValuesFromPropertyStore(IPropertyStore *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CopyValuesToPropertyStore(IPropertyStore *) override {
        return E_NOTIMPL;
    }

  private:
    std::vector<std::pair<PROPERTYKEY, Value>> entries; // in the order they were set

    const Value *Find(REFPROPERTYKEY key) const {
        for (const auto &entry : entries)
            if (SameKey(entry.first, key))
                return &entry.second;
        return nullptr;
    }
    HRESULT Store(REFPROPERTYKEY key, const Value &value) {
        for (auto &entry : entries)
            if (SameKey(entry.first, key)) {
                entry.second = value;
                return S_OK;
            }
        entries.push_back({key, value});
        return S_OK;
    }
    HRESULT SetNumber(REFPROPERTYKEY key, VARTYPE vt, ULONGLONG number, const char *operation) {
        HRESULT fault = ComEnter(operation);
        if (FAILED(fault))
            return fault;
        Value stored;
        stored.vt = vt;
        stored.number = number;
        return Store(key, stored);
    }
    // Whether a getter may answer: no fault, the key present and of its type.
    HRESULT Get(REFPROPERTYKEY key, VARTYPE vt, const char *operation) const {
        HRESULT fault = ComEnter(operation);
        if (FAILED(fault))
            return fault;
        const Value *stored = Find(key);
        return !stored ? kNotFound : stored->vt != vt ? kTypeMismatch : S_OK;
    }
    static HRESULT CopyOut(const Value &stored, PROPVARIANT *value) {
        memset(value, 0, sizeof *value);
        value->vt = stored.vt;
        if (stored.vt == VT_LPWSTR) {
            value->pwszVal = simwin::TaskText(stored.text);
        } else if (stored.vt == VT_CLSID) {
            value->puuid = static_cast<CLSID *>(CoTaskMemAlloc(sizeof(CLSID)));
            *value->puuid = stored.guid;
        } else if (stored.vt == VT_UI4) {
            value->ulVal = (ULONG)stored.number;
        } else if (stored.vt == VT_DATE) {
            value->date = stored.date;
        } else {
            value->uhVal.QuadPart = stored.number;
        }
        return S_OK;
    }
};

class KeyCollection : public ComObject<IPortableDeviceKeyCollection> {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        return simwin::QueryOne(this, riid, IID_IPortableDeviceKeyCollection, object);
    }
    HRESULT STDMETHODCALLTYPE GetCount(DWORD *count) override {
        *count = (DWORD)keys.size();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY *key) override {
        if (index >= keys.size())
            return E_INVALIDARG;
        *key = keys[index];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Add(REFPROPERTYKEY key) override {
        HRESULT fault = ComEnter("IPortableDeviceKeyCollection::Add");
        if (SUCCEEDED(fault))
            keys.push_back(key);
        return fault;
    }
    HRESULT STDMETHODCALLTYPE Clear() override {
        keys.clear();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveAt(DWORD index) override {
        if (index >= keys.size())
            return E_INVALIDARG;
        keys.erase(keys.begin() + index);
        return S_OK;
    }

  private:
    std::vector<PROPERTYKEY> keys;
};

// Holds texts only (VT_LPWSTR), which is what object identifiers are.
class PropVariantCollection : public ComObject<IPortableDevicePropVariantCollection> {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        return simwin::QueryOne(this, riid, IID_IPortableDevicePropVariantCollection, object);
    }
    HRESULT STDMETHODCALLTYPE GetCount(DWORD *count) override {
        *count = (DWORD)texts.size();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPVARIANT *value) override {
        if (index >= texts.size())
            return E_INVALIDARG;
        memset(value, 0, sizeof *value);
        value->vt = VT_LPWSTR;
        value->pwszVal = simwin::TaskText(texts[index]);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Add(const PROPVARIANT *value) override {
        HRESULT fault = ComEnter("IPortableDevicePropVariantCollection::Add");
        if (FAILED(fault))
            return fault;
        if (!value || value->vt != VT_LPWSTR || !value->pwszVal)
            return E_INVALIDARG;
        texts.push_back(value->pwszVal); // a copy: the caller keeps its own
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetType(VARTYPE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ChangeType(const VARTYPE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clear() override {
        texts.clear();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD index) override {
        if (index >= texts.size())
            return E_INVALIDARG;
        texts.erase(texts.begin() + index);
        return S_OK;
    }

  private:
    std::vector<std::wstring> texts;
};

// The classes CoCreateInstance knows, with the name events give them. Only the classes that
// reach a device are events; the value containers act on nothing.
struct ComClass {
    const CLSID *clsid;
    const char *name;
    IUnknown *(*make)();
    bool acts;
};
const ComClass kClasses[] = {
    {&CLSID_PortableDeviceManager, "PortableDeviceManager", simwin::NewPortableDeviceManager, true},
    {&CLSID_PortableDeviceFTM, "PortableDeviceFTM", simwin::NewPortableDevice, true},
    {&CLSID_PortableDeviceValues, "PortableDeviceValues", simwin::NewPortableDeviceValues, false},
    {&CLSID_PortableDeviceKeyCollection, "PortableDeviceKeyCollection",
     simwin::NewPortableDeviceKeyCollection, false},
    {&CLSID_PortableDevicePropVariantCollection, "PortableDevicePropVariantCollection",
     simwin::NewPortableDevicePropVariantCollection, false},
};

} // namespace

namespace simwin {

IUnknown *NewPortableDeviceValues() {
    return new Values();
}
HRESULT StoreValue(IPortableDeviceValues *values, REFPROPERTYKEY key, const PROPVARIANT *value) {
    return static_cast<Values *>(values)->StoreVariant(key, value);
}
IUnknown *NewPortableDeviceKeyCollection() {
    return new KeyCollection();
}
IUnknown *NewPortableDevicePropVariantCollection() {
    return new PropVariantCollection();
}

LPWSTR TaskText(const std::wstring &text) {
    LPWSTR copy = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
    memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    return copy;
}

// Windows' wide texts are UTF-16, so a character past U+FFFF is two units here too, whatever
// the host's wchar_t holds. A byte that starts no valid UTF-8 sequence stands for itself.
std::wstring Wide(const std::string &text) {
    std::wstring wide;
    const unsigned char *bytes = (const unsigned char *)text.data();
    for (size_t at = 0, size = text.size(); at < size;) {
        unsigned char lead = bytes[at];
        size_t length = lead < 0x80                    ? 1
                        : lead >= 0xC2 && lead <= 0xDF ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
        uint32_t code = length == 2 ? lead & 0x1Fu : length == 3 ? lead & 0x0Fu : lead & 0x07u;
        for (size_t i = 1; length > 1 && i < length; ++i)
            if (at + i >= size || (bytes[at + i] & 0xC0) != 0x80)
                length = 0;
            else
                code = (code << 6) | (bytes[at + i] & 0x3Fu);
        if (length <= 1 ||
            code < (length == 3   ? 0x800u
                    : length == 4 ? 0x10000u
                                  : 0x80u) ||
            code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
            wide.push_back((WCHAR)lead);
            ++at;
            continue;
        }
        if (code >= 0x10000) {
            wide.push_back((WCHAR)(0xD800 + ((code - 0x10000) >> 10)));
            wide.push_back((WCHAR)(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            wide.push_back((WCHAR)code);
        }
        at += length;
    }
    return wide;
}

// The machine's texts and file names are UTF-8 bytes.
std::string Narrow(LPCWSTR text) {
    std::string narrow;
    for (; text && *text; ++text) {
        uint32_t code = (uint32_t)*text;
        if (code >= 0xD800 && code < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000)
            code = 0x10000 + ((code - 0xD800) << 10) + ((uint32_t) * ++text - 0xDC00);
        else if (code >= 0xD800 && code < 0xE000)
            code = 0xFFFD;
        if (code < 0x80) {
            narrow.push_back((char)code);
        } else if (code < 0x800) {
            narrow.push_back((char)(0xC0 | (code >> 6)));
            narrow.push_back((char)(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            narrow.push_back((char)(0xE0 | (code >> 12)));
            narrow.push_back((char)(0x80 | ((code >> 6) & 0x3F)));
            narrow.push_back((char)(0x80 | (code & 0x3F)));
        } else {
            narrow.push_back((char)(0xF0 | (code >> 18)));
            narrow.push_back((char)(0x80 | ((code >> 12) & 0x3F)));
            narrow.push_back((char)(0x80 | ((code >> 6) & 0x3F)));
            narrow.push_back((char)(0x80 | (code & 0x3F)));
        }
    }
    return narrow;
}

std::string HresultText(HRESULT result) {
    char text[16];
    snprintf(text, sizeof text, "0x%08X", (unsigned)result);
    return text;
}

HRESULT ComEnter(const char *operation, std::string *mode) {
    std::string planned;
    if (!Enter(operation, &planned))
        return S_OK;
    if (mode)
        *mode = planned;
    return (HRESULT)FaultError(planned, (DWORD)E_FAIL);
}

} // namespace simwin

// ---- COM runtime -----------------------------------------------------------------------------

HRESULT CoInitializeEx(LPVOID, DWORD) {
    HRESULT fault = ComEnter("CoInitializeEx");
    if (FAILED(fault))
        return fault;
    return Media().initialisations++ == 0 ? S_OK : S_FALSE; // each success needs its undoing
}

void CoUninitialize() {
    if (Media().initialisations > 0)
        --Media().initialisations;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown *outer, DWORD, REFIID riid, LPVOID *ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    const ComClass *found = nullptr;
    for (const ComClass &known : kClasses)
        if (*known.clsid == rclsid)
            found = &known;
    HRESULT result = ComEnter("CoCreateInstance");
    if (SUCCEEDED(result) && Media().initialisations == 0)
        result = CO_E_NOTINITIALIZED;
    else if (SUCCEEDED(result) && (!found || Media().wpdMissing))
        result = REGDB_E_CLASSNOTREG;
    else if (SUCCEEDED(result) && outer)
        result = (HRESULT)0x80040110; // CLASS_E_NOAGGREGATION
    if (SUCCEEDED(result)) {
        IUnknown *made = found->make();
        result = made->QueryInterface(riid, ppv);
        made->Release();
    }
    if (!found || found->acts)
        simwin::Event(std::string("CoCreateInstance ") + (found ? found->name : "(unknown class)") +
                      " " + (SUCCEEDED(result) ? "ok" : "fail " + simwin::HresultText(result)));
    return result;
}

LPVOID CoTaskMemAlloc(size_t bytes) {
    void *block = ::malloc(bytes ? bytes : 1);
    if (block)
        Media().taskMemory.insert(block);
    return block;
}

void CoTaskMemFree(LPVOID block) {
    if (!block)
        return;
    if (!Media().taskMemory.erase(block)) {
        fprintf(stderr, "simwin: CoTaskMemFree of a block that COM did not hand out\n");
        abort();
    }
    ::free(block);
}

HRESULT PropVariantClear(PROPVARIANT *value) {
    if (!value)
        return E_POINTER;
    if (value->vt == VT_LPWSTR)
        CoTaskMemFree(value->pwszVal);
    else if (value->vt == VT_CLSID)
        CoTaskMemFree(value->puuid);
    memset(value, 0, sizeof *value);
    return S_OK;
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int wideLength, LPSTR text,
                        int textSize, LPCSTR defaultChar, BOOL *usedDefaultChar) {
    if (!wide) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::wstring source =
        wideLength < 0 ? std::wstring(wide) + L'\0' : std::wstring(wide, (size_t)wideLength);
    std::string converted;
    // The process's code page is UTF-8 (GetACP), so CP_ACP converts as CP_UTF8 does.
    if (codePage == CP_UTF8 || codePage == CP_ACP) {
        converted = simwin::Narrow(source.c_str());
        if (wideLength < 0)
            converted.push_back('\0');
        source.clear();
    }
    for (WCHAR c : source) {
        bool fits = (unsigned)c < 0x100;
        converted.push_back(fits ? (char)c : (defaultChar ? *defaultChar : '?'));
        if (!fits && usedDefaultChar)
            *usedDefaultChar = TRUE;
    }
    if (textSize == 0)
        return (int)converted.size();
    if (!text || (size_t)textSize < converted.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(text, converted.data(), converted.size());
    return (int)converted.size();
}
