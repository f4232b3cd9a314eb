// simwin's COM side: the subset of COM, structured storage and the portable-device value
// types (what <objbase.h>, <propidl.h> and <portabledevicetypes.h> give a Windows build) that
// the media delivery calls, with the platform's names, values and layouts. The WPD interfaces
// themselves are declared once for both builds in common/wpd.h. Included by simwin/simwin.h.
#pragma once

typedef int32_t HRESULT;
typedef wchar_t WCHAR; // 4 bytes here, 2 on Windows: product code never assumes the size
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef uint64_t ULONGLONG;
typedef int64_t LONGLONG;
typedef uint16_t VARTYPE;
typedef float FLOAT;
typedef double DATE; // days since 30 December 1899, the time of day as the fraction
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID &REFGUID;
typedef const IID &REFIID;
typedef const CLSID &REFCLSID;

#define STDMETHODCALLTYPE
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define HRESULT_FROM_WIN32(code)                                                                   \
    ((HRESULT)(code) <= 0 ? (HRESULT)(code) : (HRESULT)(((code)&0x0000FFFF) | 0x80070000))

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_ACCESSDENIED ((HRESULT)0x80070005)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106)
#define STG_E_WRITEFAULT ((HRESULT)0x8003001D)
#define STG_E_READFAULT ((HRESULT)0x8003001E)
#define STG_E_ACCESSDENIED ((HRESULT)0x80030005)
#define STG_E_MEDIUMFULL ((HRESULT)0x80030070)
#define ERROR_NOT_FOUND 1168

#define COINIT_MULTITHREADED 0x0u
#define COINIT_APARTMENTTHREADED 0x2u
#define CLSCTX_INPROC_SERVER 0x1u
#define STGC_DEFAULT 0u
#define STGM_READ 0x0u
#define CP_ACP 0u
#define CP_UTF8 65001u

#define VT_EMPTY 0
#define VT_DATE 7
#define VT_UI4 19
#define VT_UI8 21
#define VT_LPWSTR 31
#define VT_CLSID 72

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    };
    LONGLONG QuadPart;
};
union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    };
    ULONGLONG QuadPart;
};

struct PROPVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        ULONG ulVal;
        ULARGE_INTEGER uhVal;
        DATE date;
        LPWSTR pwszVal;
        CLSID *puuid;
        struct {
            ULONG cElems;
            void *pElems;
        } ca; // the widest member: the union is two pointers wide, as on Windows
    };
};

struct PROPERTYKEY {
    GUID fmtid;
    DWORD pid;
};
typedef const PROPERTYKEY &REFPROPERTYKEY;

#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                               \
    inline const GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#define DEFINE_PROPERTYKEY(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8, pid)                   \
    inline const PROPERTYKEY name = {{l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}, pid}

struct STATSTG;
struct IPropertyStore;
struct IPortableDeviceValuesCollection;

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct ISequentialStream : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Read(void *pv, ULONG cb, ULONG *pcbRead) = 0;
    virtual HRESULT STDMETHODCALLTYPE Write(const void *pv, ULONG cb, ULONG *pcbWritten) = 0;
};

struct IStream : public ISequentialStream {
    virtual HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin,
                                           ULARGE_INTEGER *plibNewPosition) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER libNewSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyTo(IStream *pstm, ULARGE_INTEGER cb,
                                             ULARGE_INTEGER *pcbRead,
                                             ULARGE_INTEGER *pcbWritten) = 0;
    virtual HRESULT STDMETHODCALLTYPE Commit(DWORD grfCommitFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Revert() = 0;
    virtual HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb,
                                                 DWORD dwLockType) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb,
                                                   DWORD dwLockType) = 0;
    virtual HRESULT STDMETHODCALLTYPE Stat(STATSTG *pstatstg, DWORD grfStatFlag) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IStream **ppstm) = 0;
};

struct IPortableDeviceKeyCollection;
struct IPortableDevicePropVariantCollection;

struct IPortableDeviceValues : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD *pcelt) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY *pKey,
                                            PROPVARIANT *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, const PROPVARIANT *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStringValue(REFPROPERTYKEY key, LPCWSTR Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStringValue(REFPROPERTYKEY key, LPWSTR *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetUnsignedIntegerValue(REFPROPERTYKEY key, ULONG Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUnsignedIntegerValue(REFPROPERTYKEY key,
                                                              ULONG *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSignedIntegerValue(REFPROPERTYKEY key, LONG Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSignedIntegerValue(REFPROPERTYKEY key, LONG *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetUnsignedLargeIntegerValue(REFPROPERTYKEY key,
                                                                   ULONGLONG Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUnsignedLargeIntegerValue(REFPROPERTYKEY key,
                                                                   ULONGLONG *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSignedLargeIntegerValue(REFPROPERTYKEY key,
                                                                 LONGLONG Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSignedLargeIntegerValue(REFPROPERTYKEY key,
                                                                 LONGLONG *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFloatValue(REFPROPERTYKEY key, FLOAT Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFloatValue(REFPROPERTYKEY key, FLOAT *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetErrorValue(REFPROPERTYKEY key, HRESULT Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetErrorValue(REFPROPERTYKEY key, HRESULT *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetKeyValue(REFPROPERTYKEY key, REFPROPERTYKEY Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetKeyValue(REFPROPERTYKEY key, PROPERTYKEY *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBoolValue(REFPROPERTYKEY key, BOOL Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBoolValue(REFPROPERTYKEY key, BOOL *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIUnknownValue(REFPROPERTYKEY key, IUnknown *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIUnknownValue(REFPROPERTYKEY key, IUnknown **ppValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetGuidValue(REFPROPERTYKEY key, REFGUID Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGuidValue(REFPROPERTYKEY key, GUID *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBufferValue(REFPROPERTYKEY key, BYTE *pValue,
                                                     DWORD cbValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBufferValue(REFPROPERTYKEY key, BYTE **ppValue,
                                                     DWORD *pcbValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    SetIPortableDeviceValuesValue(REFPROPERTYKEY key, IPortableDeviceValues *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    GetIPortableDeviceValuesValue(REFPROPERTYKEY key, IPortableDeviceValues **ppValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIPortableDevicePropVariantCollectionValue(
        REFPROPERTYKEY key, IPortableDevicePropVariantCollection *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIPortableDevicePropVariantCollectionValue(
        REFPROPERTYKEY key, IPortableDevicePropVariantCollection **ppValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIPortableDeviceKeyCollectionValue(
        REFPROPERTYKEY key, IPortableDeviceKeyCollection *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIPortableDeviceKeyCollectionValue(
        REFPROPERTYKEY key, IPortableDeviceKeyCollection **ppValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesCollectionValue(
        REFPROPERTYKEY key, IPortableDeviceValuesCollection *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesCollectionValue(
        REFPROPERTYKEY key, IPortableDeviceValuesCollection **ppValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveValue(REFPROPERTYKEY key) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyValuesFromPropertyStore(IPropertyStore *pStore) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyValuesToPropertyStore(IPropertyStore *pStore) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
};

struct IPortableDeviceKeyCollection : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD *pcElems) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAt(DWORD dwIndex, PROPERTYKEY *pKey) = 0;
    virtual HRESULT STDMETHODCALLTYPE Add(REFPROPERTYKEY Key) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveAt(DWORD dwIndex) = 0;
};

struct IPortableDevicePropVariantCollection : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD *pcElems) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAt(DWORD dwIndex, PROPVARIANT *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE Add(const PROPVARIANT *pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetType(VARTYPE *pvt) = 0;
    virtual HRESULT STDMETHODCALLTYPE ChangeType(const VARTYPE vt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD dwIndex) = 0;
};

// The identifiers that <portabledevicetypes.h> and the COM headers give a Windows build.
DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x46);
DEFINE_GUID(IID_ISequentialStream, 0x0c733a30, 0x2a1c, 0x11ce, 0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44,
            0x77, 0x3d);
DEFINE_GUID(IID_IStream, 0x0000000c, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x46);
DEFINE_GUID(IID_IPortableDeviceValues, 0x6848f6f2, 0x3155, 0x4f86, 0xb6, 0xf5, 0x26, 0x3e, 0xee,
            0xab, 0x31, 0x43);
DEFINE_GUID(IID_IPortableDeviceKeyCollection, 0xdada2357, 0xe0ad, 0x492e, 0x98, 0xdb, 0xdd, 0x61,
            0xc5, 0x3b, 0xa3, 0x53);
DEFINE_GUID(IID_IPortableDevicePropVariantCollection, 0x89b2e422, 0x4f1b, 0x4316, 0xbc, 0xef, 0xa4,
            0x4a, 0xfe, 0xa8, 0x3e, 0xb3);
DEFINE_GUID(CLSID_PortableDeviceValues, 0x0c15d503, 0xd017, 0x47ce, 0x90, 0x16, 0x7b, 0x3f, 0x97,
            0x87, 0x21, 0xcc);

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
void CoUninitialize();
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown *outer, DWORD context, REFIID riid, LPVOID *ppv);
LPVOID CoTaskMemAlloc(size_t bytes);
void CoTaskMemFree(LPVOID block);
HRESULT PropVariantClear(PROPVARIANT *value);
// The simulated machine's code page is single-byte: characters past it become the default.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR text,
                        int textSize, LPCSTR defaultChar, BOOL *usedDefaultChar);
