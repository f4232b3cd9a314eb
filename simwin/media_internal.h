// simwin's portable devices and COM runtime, shared by simwin/com.cpp (COM, the value types)
// and simwin/media.cpp (the WPD manager, devices, content, objects and streams).
#pragma once

#include "simwin/simwin_internal.h"

namespace simwin {

// An object of a device that a key names: its identifier ("Internal Storage\system") and the
// line that named it.
struct MediaPath {
    std::string id;
    int line = 0;
};

// One [media NAME] section: a portable device whose content is MACHINE/media/NAME/.
struct MediaDevice {
    std::string name;
    int line = 0, pnpIdLine = 0; // where the section and its pnp_id stand in machine.ini
    std::string pnpId, friendlyName, manufacturer, description;
    std::vector<std::string> storages; // each also the folder MACHINE/media/NAME/<storage>/
    HRESULT open = S_OK;               // what IPortableDevice::Open returns
    bool limited = false;              // free_bytes given
    unsigned long long freeBytes = 0;
    DWORD optimalBuffer = 262144;
    bool modelGiven = false; // without it, WPD_DEVICE_MODEL is the description
    std::string model;
    bool stemNames = true;             // a file's WPD_OBJECT_NAME drops its extension, as over MTP
    ULONG enumBatch = 0;               // identifiers per Next call at most; 0: as many as asked
    std::vector<MediaPath> unreadable; // GetValues fails on these
    std::vector<MediaPath> noOriginalName; // these have no WPD_OBJECT_ORIGINAL_FILE_NAME
    bool onCreate =
        false; // a new object exists from the create call on, and stays if not committed
};

struct MediaState {
    bool wpdMissing = false;
    std::vector<MediaDevice> devices;
    int references = 0;          // COM references the program holds
    std::set<void *> taskMemory; // CoTaskMem blocks handed out and not freed
    int initialisations = 0;     // CoInitializeEx successes not undone
    int nextIncoming = 0;        // numbers the hidden files of objects not yet committed
};

// The portable devices and COM state of the loaded machine.
MediaState &Media();

// Counts a call of a COM or WPD operation; S_OK, or the HRESULT a planned fault gives it
// (E_FAIL unless named). *mode gets the fault's mode.
HRESULT ComEnter(const char *operation, std::string *mode = nullptr);

// A CoTaskMem copy of a text, as COM hands texts out.
LPWSTR TaskText(const std::wstring &text);

// Widens and narrows the simulated machine's single-byte texts.
std::wstring Wide(const std::string &text);
std::string Narrow(LPCWSTR text);

// "0x%08X" of an HRESULT, for events.
std::string HresultText(HRESULT result);

// A COM object of simwin: counts its references in MediaState and deletes itself at zero.
template <typename Interface> class ComObject : public Interface {
  public:
    ComObject() { ++Media().references; }
    virtual ~ComObject() {}
    ULONG STDMETHODCALLTYPE AddRef() override {
        ++Media().references;
        return ++references;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        --Media().references;
        ULONG left = --references;
        if (left == 0)
            delete this;
        return left;
    }

  private:
    ULONG references = 1;
};

// QueryInterface for an object of one interface (and IUnknown).
template <typename Self> HRESULT QueryOne(Self *self, REFIID riid, REFIID own, void **object) {
    if (!(riid == IID_IUnknown || riid == own)) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    self->AddRef();
    *object = self;
    return S_OK;
}

// New objects of the classes that CoCreateInstance makes, each with one reference.
IUnknown *NewPortableDeviceManager();
IUnknown *NewPortableDevice();
IUnknown *NewPortableDeviceValues();

// Sets a value in a set that NewPortableDeviceValues made, as a driver answers: not counted as a
// call of the program's, so [faults] never hits it.
HRESULT StoreValue(IPortableDeviceValues *values, REFPROPERTYKEY key, const PROPVARIANT *value);
IUnknown *NewPortableDeviceKeyCollection();
IUnknown *NewPortableDevicePropVariantCollection();

} // namespace simwin
