// The media route's shared pieces: see wpd_objects.h.
#include "common/win32.h"

#include "media/wpd_objects.h"

#include "common/debug_trace.h"

void ToConsoleText(LPCWSTR wide, char *text, int size) {
    if (!wide || WideCharToMultiByte(CP_ACP, 0, wide, -1, text, size, nullptr, nullptr) == 0)
        text[0] = '\0';
    text[size - 1] = '\0';
}

HRESULT TraceFailure(const char *call, HRESULT result) {
    DebugTrace("    %s failed (0x%08X)\n", call, (unsigned)result);
    return result;
}

namespace {

// The next UTF-16 unit of the UTF-8 text at *at (before end), moving *at past what it used. A
// character past U+FFFF gives its high surrogate and leaves *pending with the low one. A byte
// that starts no sequence stands for U+FFFD.
WCHAR NextUnit(const char **at, const char *end, WCHAR *pending) {
    if (*pending) {
        WCHAR low = *pending;
        *pending = 0;
        return low;
    }
    const unsigned char *bytes = (const unsigned char *)*at;
    unsigned char lead = bytes[0];
    size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    uint32_t code = length == 1   ? lead
                    : length == 2 ? lead & 0x1Fu
                    : length == 3 ? lead & 0x0Fu
                                  : lead & 0x07u;
    if (length == 0 || (size_t)(end - *at) < length)
        length = 0;
    for (size_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80) {
            length = 0;
            break;
        }
        code = (code << 6) | (bytes[i] & 0x3Fu);
    }
    if (length == 0 || code > 0x10FFFF) {
        *at += 1;
        return (WCHAR)0xFFFD;
    }
    *at += length;
    if (code >= 0x10000) {
        *pending = (WCHAR)(0xDC00 + ((code - 0x10000) & 0x3FF));
        return (WCHAR)(0xD800 + ((code - 0x10000) >> 10));
    }
    return (WCHAR)code;
}

} // namespace

bool WidenName(const char *name, WCHAR *wide, size_t count) {
    const char *end = name + strlen(name);
    WCHAR pending = 0;
    size_t used = 0;
    while ((name < end || pending) && used + 1 < count)
        wide[used++] = NextUnit(&name, end, &pending);
    if (count > 0)
        wide[used < count ? used : count - 1] = 0;
    return name == end && !pending && used < count;
}

bool Matches(LPCWSTR wide, const char *name, size_t length, unsigned how) {
    const char *at = name, *end = name + length;
    WCHAR pending = 0;
    for (; at < end || pending; ++wide) {
        WCHAR a = *wide, b = NextUnit(&at, end, &pending);
        if ((how & kAnyCase) && a >= L'A' && a <= L'Z')
            a = (WCHAR)(a - L'A' + L'a');
        if ((how & kAnyCase) && b >= L'A' && b <= L'Z')
            b = (WCHAR)(b - L'A' + L'a');
        if (a != b)
            return false;
    }
    return (how & kPrefix) || *wide == 0;
}

bool SameName(LPCWSTR wide, const char *name) {
    return Matches(wide, name, strlen(name), kAnyCase);
}

bool HoldId(LPCWSTR id, HeldId *held) {
    size_t length = wcslen(id);
    held->text = static_cast<WCHAR *>(malloc((length + 1) * sizeof(WCHAR)));
    if (!held->text)
        return false;
    memcpy(held->text, id, (length + 1) * sizeof(WCHAR));
    return true;
}

HRESULT CreateValues(IPortableDeviceValues **values) {
    return CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IPortableDeviceValues, reinterpret_cast<void **>(values));
}

HRESULT CreateKeys(const PROPERTYKEY *const *list, int count, IPortableDeviceKeyCollection **keys) {
    HRESULT result =
        CoCreateInstance(CLSID_PortableDeviceKeyCollection, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IPortableDeviceKeyCollection, reinterpret_cast<void **>(keys));
    for (int i = 0; SUCCEEDED(result) && i < count; ++i)
        result = (*keys)->Add(*list[i]);
    return result;
}

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

void SkipChild(LPCWSTR id, IPortableDeviceValues *values, HRESULT result) {
    char console[kConsoleTextSize];
    ToConsoleText(id, console, sizeof console);
    DebugTrace("        %s: skipped, %s (0x%08X)\n", console,
               values ? "a property is missing" : "not readable", (unsigned)result);
}

HRESULT ChildName(IPortableDeviceValues *values, TaskText *name, bool *objectName) {
    *objectName = false;
    if (SUCCEEDED(values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, &name->text)))
        return S_OK;
    *objectName = true;
    return values->GetStringValue(WPD_OBJECT_NAME, &name->text);
}

bool Carries(LPCWSTR name, bool objectName, const char *delivered) {
    size_t length = strlen(delivered);
    return Matches(name, delivered, length, kAnyCase) ||
           (objectName && length > 4 && Matches(name, delivered, length - 4, kAnyCase));
}

HRESULT CreateNameKeys(IPortableDeviceKeyCollection **keys) {
    const PROPERTYKEY *const nameKeys[] = {&WPD_OBJECT_ORIGINAL_FILE_NAME, &WPD_OBJECT_NAME};
    HRESULT result = CreateKeys(nameKeys, 2, keys);
    return FAILED(result) ? TraceFailure("property keys", result) : result;
}
