// What the media route's units share about a portable device's objects: the guards that release
// COM's objects and texts on every way out, the opened device, the comparison of a device's
// texts with our names, and the walk of one folder level, which is all the route ever walks.
#pragma once

#include "common/win32.h"

#include <cstddef>

enum {
    kDeviceTextSize = 260,     // a device's friendly name, manufacturer, description or model
    kConsoleTextSize = 1024,   // a device text or identifier as console text
    kIdBatch = 32,             // identifiers fetched per enumeration call: MTP round trips are slow
    kFallbackTransfer = 65536, // when the create call reports no transfer size
    kLargestTransfer = 4 * 1024 * 1024, // a larger transfer size is not taken at its word
};

// Failures that are ours, not the device's, as HRESULTs for the console line.
const HRESULT kNoLocalFile = (HRESULT)0x80070002; // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)

const HRESULT kSizeMismatch = (HRESULT)0x8007000D; // HRESULT_FROM_WIN32(ERROR_INVALID_DATA)

const HRESULT kNoFreeName = (HRESULT)0x80070050; // HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)

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

// A wide text copied into the heap (for an object identifier that must outlive its walk).
struct HeldId {
    WCHAR *text = nullptr;
    ~HeldId() { free(text); }
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

// Turns a device text into console text; the empty text when it cannot.
void ToConsoleText(LPCWSTR wide, char *text, int size);

// Sends the line of a failing call and hands its HRESULT on.
HRESULT TraceFailure(const char *call, HRESULT result);

// How a device text is compared with an ASCII name.
enum Comparison {
    kExactCase = 0,
    kAnyCase = 1, // letters without regard to case, as the device's file system may compare
    kPrefix = 2,  // the text only begins with the name
};

// Whether a device text equals the first length characters of an ASCII name (or, with
// kPrefix, begins with them).
bool Matches(LPCWSTR wide, const char *name, size_t length, unsigned how);

// Widens a UTF-8 name (the program's names are UTF-8) into wide, count units in all, NUL
// included: UTF-16, as Windows' wide texts are. False when it does not fit.
bool WidenName(const char *name, WCHAR *wide, size_t count);

// Whether a device text equals an ASCII name, letters compared without regard to case.
bool SameName(LPCWSTR wide, const char *name);

// Makes a heap copy of a wide text; false when there is no memory.
bool HoldId(LPCWSTR id, HeldId *held);

// Creates an empty property-value set (for client information and new objects).
HRESULT CreateValues(IPortableDeviceValues **values);

// Creates a key collection holding count keys.
HRESULT CreateKeys(const PROPERTYKEY *const *list, int count, IPortableDeviceKeyCollection **keys);

// What a walk does with one child: its identifier, and its values, or null with the failure to
// read them. True to go on, false to stop.
typedef bool (*ChildVisitor)(void *context, LPCWSTR id, IPortableDeviceValues *values,
                             HRESULT read);

// Hands each child of parent, with the values of keys, to visit, until it says stop. Only this
// one level is enumerated: the device's whole tree is never walked.
HRESULT VisitChildren(const OpenDevice &open, LPCWSTR parent, IPortableDeviceKeyCollection *keys,
                      ChildVisitor visit, void *context);

// Reports a child that the walk passes over, and why.
void SkipChild(LPCWSTR id, IPortableDeviceValues *values, HRESULT result);

// The name a child of documents goes by: its original file name, or else its object name
// (*objectName set), which MTP devices give without the extension. The failure when it has
// neither.
HRESULT ChildName(IPortableDeviceValues *values, TaskText *name, bool *objectName);

// Whether a child that goes by name carries a delivered name: the same letters in any case,
// or, for an object name, the same without ".pdf".
bool Carries(LPCWSTR name, bool objectName, const char *delivered);

// The keys a child of documents is judged by.
HRESULT CreateNameKeys(IPortableDeviceKeyCollection **keys);
