// Windows Portable Devices (PortableDeviceApi): the interfaces, class and interface
// identifiers, property keys and GUIDs that media delivery uses, under the Windows SDK's own
// names, for both builds. MinGW-w64 ships no header for them, so they are written here from
// Microsoft's published definitions. Every method stands in its published vtable slot, unused
// ones included: a call through a misplaced slot lands in another method on Windows. Reached
// only through common/win32.h, after IUnknown, IStream and the portable-device value types.
#pragma once

struct IPortableDeviceContent;
struct IPortableDeviceProperties;
struct IPortableDeviceResources;
struct IPortableDeviceCapabilities;  // not used: only its slot matters
struct IPortableDeviceEventCallback; // not used: only its slot matters
struct IEnumPortableDeviceObjectIDs;

struct IPortableDeviceManager : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetDevices(LPWSTR *pPnPDeviceIDs, DWORD *pcPnPDeviceIDs) = 0;
    virtual HRESULT STDMETHODCALLTYPE RefreshDeviceList() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceFriendlyName(LPCWSTR pszPnPDeviceID,
                                                            WCHAR *pDeviceFriendlyName,
                                                            DWORD *pcchDeviceFriendlyName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceDescription(LPCWSTR pszPnPDeviceID,
                                                           WCHAR *pDeviceDescription,
                                                           DWORD *pcchDeviceDescription) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceManufacturer(LPCWSTR pszPnPDeviceID,
                                                            WCHAR *pDeviceManufacturer,
                                                            DWORD *pcchDeviceManufacturer) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceProperty(LPCWSTR pszPnPDeviceID,
                                                        LPCWSTR pszDevicePropertyName, BYTE *pData,
                                                        DWORD *pcbData, DWORD *pdwType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPrivateDevices(LPWSTR *pPnPDeviceIDs,
                                                        DWORD *pcPnPDeviceIDs) = 0;
};

struct IPortableDevice : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Open(LPCWSTR pszPnPDeviceID,
                                           IPortableDeviceValues *pClientInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE SendCommand(const DWORD dwFlags,
                                                  IPortableDeviceValues *pParameters,
                                                  IPortableDeviceValues **ppResults) = 0;
    virtual HRESULT STDMETHODCALLTYPE Content(IPortableDeviceContent **ppContent) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    Capabilities(IPortableDeviceCapabilities **ppCapabilities) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
    virtual HRESULT STDMETHODCALLTYPE Advise(const DWORD dwFlags,
                                             IPortableDeviceEventCallback *pCallback,
                                             IPortableDeviceValues *pParameters,
                                             LPWSTR *ppszCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(LPCWSTR pszCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPnPDeviceID(LPWSTR *ppszPnPDeviceID) = 0;
};

struct IPortableDeviceContent : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumObjects(const DWORD dwFlags, LPCWSTR pszParentObjectID,
                                                  IPortableDeviceValues *pFilter,
                                                  IEnumPortableDeviceObjectIDs **ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE Properties(IPortableDeviceProperties **ppProperties) = 0;
    virtual HRESULT STDMETHODCALLTYPE Transfer(IPortableDeviceResources **ppResources) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateObjectWithPropertiesOnly(IPortableDeviceValues *pValues,
                                                                     LPWSTR *ppszObjectID) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    CreateObjectWithPropertiesAndData(IPortableDeviceValues *pValues, IStream **ppData,
                                      DWORD *pdwOptimalWriteBufferSize, LPWSTR *ppszCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE Delete(const DWORD dwOptions,
                                             IPortableDevicePropVariantCollection *pObjectIDs,
                                             IPortableDevicePropVariantCollection **ppResults) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    GetObjectIDsFromPersistentUniqueIDs(IPortableDevicePropVariantCollection *pPersistentUniqueIDs,
                                        IPortableDevicePropVariantCollection **ppObjectIDs) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
    virtual HRESULT STDMETHODCALLTYPE Move(IPortableDevicePropVariantCollection *pObjectIDs,
                                           LPCWSTR pszDestinationFolderObjectID,
                                           IPortableDevicePropVariantCollection **ppResults) = 0;
    virtual HRESULT STDMETHODCALLTYPE Copy(IPortableDevicePropVariantCollection *pObjectIDs,
                                           LPCWSTR pszDestinationFolderObjectID,
                                           IPortableDevicePropVariantCollection **ppResults) = 0;
};

struct IEnumPortableDeviceObjectIDs : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG cObjects, LPWSTR *pObjIDs, ULONG *pcFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cObjects) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumPortableDeviceObjectIDs **ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
};

struct IPortableDeviceProperties : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE
    GetSupportedProperties(LPCWSTR pszObjectID, IPortableDeviceKeyCollection **ppKeys) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropertyAttributes(
        LPCWSTR pszObjectID, REFPROPERTYKEY Key, IPortableDeviceValues **ppAttributes) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValues(LPCWSTR pszObjectID,
                                                IPortableDeviceKeyCollection *pKeys,
                                                IPortableDeviceValues **ppValues) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetValues(LPCWSTR pszObjectID, IPortableDeviceValues *pValues,
                                                IPortableDeviceValues **ppResults) = 0;
    virtual HRESULT STDMETHODCALLTYPE Delete(LPCWSTR pszObjectID,
                                             IPortableDeviceKeyCollection *pKeys) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
};

struct IPortableDeviceResources : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE
    GetSupportedResources(LPCWSTR pszObjectID, IPortableDeviceKeyCollection **ppKeys) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResourceAttributes(
        LPCWSTR pszObjectID, REFPROPERTYKEY Key, IPortableDeviceValues **ppResourceAttributes) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStream(LPCWSTR pszObjectID, REFPROPERTYKEY Key,
                                                const DWORD dwMode, DWORD *pdwOptimalBufferSize,
                                                IStream **ppStream) = 0;
    virtual HRESULT STDMETHODCALLTYPE Delete(LPCWSTR pszObjectID,
                                             IPortableDeviceKeyCollection *pKeys) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateResource(IPortableDeviceValues *pResourceAttributes,
                                                     IStream **ppData,
                                                     DWORD *pdwOptimalWriteBufferSize,
                                                     LPWSTR *ppszCookie) = 0;
};

struct IPortableDeviceDataStream : public IStream {
    virtual HRESULT STDMETHODCALLTYPE GetObjectID(LPWSTR *ppszObjectID) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
};

// Classes and interfaces.
DEFINE_GUID(CLSID_PortableDeviceManager, 0x0af10cec, 0x2ecd, 0x4b92, 0x95, 0x81, 0x34, 0xf6, 0xae,
            0x06, 0x37, 0xf3);
DEFINE_GUID(CLSID_PortableDeviceFTM, 0xf7c0039a, 0x4762, 0x488a, 0xb4, 0xb3, 0x76, 0x0e, 0xf9, 0xa1,
            0xba, 0x9b);
DEFINE_GUID(CLSID_PortableDeviceKeyCollection, 0xde2d022d, 0x2480, 0x43be, 0x97, 0xf0, 0xd1, 0xfa,
            0x2c, 0xf9, 0x8f, 0x4f);
DEFINE_GUID(CLSID_PortableDevicePropVariantCollection, 0x08a99e2f, 0x6d6d, 0x4b80, 0xaf, 0x5a, 0xba,
            0xf2, 0xbc, 0xbe, 0x4c, 0xb9);
DEFINE_GUID(IID_IPortableDeviceManager, 0xa1567595, 0x4c2f, 0x4574, 0xa6, 0xfa, 0xec, 0xef, 0x91,
            0x7b, 0x9a, 0x40);
DEFINE_GUID(IID_IPortableDevice, 0x625e2df8, 0x6392, 0x4cf0, 0x9a, 0xd1, 0x3c, 0xfa, 0x5f, 0x17,
            0x77, 0x5c);
DEFINE_GUID(IID_IPortableDeviceContent, 0x6a96ed84, 0x7c73, 0x4480, 0x99, 0x38, 0xbf, 0x5a, 0xf4,
            0x77, 0xd4, 0x26);
DEFINE_GUID(IID_IEnumPortableDeviceObjectIDs, 0x10ece955, 0xcf41, 0x4728, 0xbf, 0xa0, 0x41, 0xee,
            0xdf, 0x1b, 0xbf, 0x19);
DEFINE_GUID(IID_IPortableDeviceProperties, 0x7f6d695c, 0x03df, 0x4439, 0xa8, 0x09, 0x59, 0x26, 0x6b,
            0xee, 0xe3, 0xa6);
DEFINE_GUID(IID_IPortableDeviceResources, 0xfd8878ac, 0xd841, 0x4d17, 0x89, 0x1c, 0xe6, 0x82, 0x9c,
            0xdb, 0x69, 0x34);
DEFINE_GUID(IID_IPortableDeviceDataStream, 0x88e04db3, 0x1012, 0x4d64, 0x99, 0x96, 0xf7, 0x03, 0xa9,
            0x50, 0xd3, 0xf4);

// Content types, functional categories and object formats.
DEFINE_GUID(WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT, 0x99ed0160, 0x17ff, 0x4c44, 0x9d, 0x98, 0x1d, 0x7a,
            0x6f, 0x94, 0x19, 0x21);
DEFINE_GUID(WPD_CONTENT_TYPE_FOLDER, 0x27e2e392, 0xa111, 0x48e0, 0xab, 0x0c, 0xe1, 0x77, 0x05, 0xa0,
            0x5f, 0x85);
DEFINE_GUID(WPD_CONTENT_TYPE_GENERIC_FILE, 0x0085e0a6, 0x8d34, 0x45d7, 0xbc, 0x5c, 0x44, 0x7e, 0x59,
            0xc7, 0x3d, 0x48);
DEFINE_GUID(WPD_FUNCTIONAL_CATEGORY_STORAGE, 0x23f05bbc, 0x15de, 0x4c2a, 0xa5, 0x5b, 0xa9, 0xaf,
            0x5c, 0xe4, 0x12, 0xef);
DEFINE_GUID(WPD_OBJECT_FORMAT_UNSPECIFIED, 0x30000000, 0xae6c, 0x4804, 0x98, 0xba, 0xc5, 0x7b, 0x46,
            0x96, 0x5f, 0xe7);

// Object properties (WPD_OBJECT_PROPERTIES_V1).
DEFINE_PROPERTYKEY(WPD_OBJECT_ID, 0xef6b490d, 0x5cd8, 0x437a, 0xaf, 0xfc, 0xda, 0x8b, 0x60, 0xee,
                   0x4a, 0x3c, 2);
DEFINE_PROPERTYKEY(WPD_OBJECT_PARENT_ID, 0xef6b490d, 0x5cd8, 0x437a, 0xaf, 0xfc, 0xda, 0x8b, 0x60,
                   0xee, 0x4a, 0x3c, 3);
DEFINE_PROPERTYKEY(WPD_OBJECT_NAME, 0xef6b490d, 0x5cd8, 0x437a, 0xaf, 0xfc, 0xda, 0x8b, 0x60, 0xee,
                   0x4a, 0x3c, 4);
DEFINE_PROPERTYKEY(WPD_OBJECT_FORMAT, 0xef6b490d, 0x5cd8, 0x437a, 0xaf, 0xfc, 0xda, 0x8b, 0x60,
                   0xee, 0x4a, 0x3c, 6);
DEFINE_PROPERTYKEY(WPD_OBJECT_CONTENT_TYPE, 0xef6b490d, 0x5cd8, 0x437a, 0xaf, 0xfc, 0xda, 0x8b,
                   0x60, 0xee, 0x4a, 0x3c, 7);
DEFINE_PROPERTYKEY(WPD_OBJECT_SIZE, 0xef6b490d, 0x5cd8, 0x437a, 0xaf, 0xfc, 0xda, 0x8b, 0x60, 0xee,
                   0x4a, 0x3c, 11);
DEFINE_PROPERTYKEY(WPD_OBJECT_ORIGINAL_FILE_NAME, 0xef6b490d, 0x5cd8, 0x437a, 0xaf, 0xfc, 0xda,
                   0x8b, 0x60, 0xee, 0x4a, 0x3c, 12);
DEFINE_PROPERTYKEY(WPD_OBJECT_DATE_CREATED, 0xef6b490d, 0x5cd8, 0x437a, 0xaf, 0xfc, 0xda, 0x8b,
                   0x60, 0xee, 0x4a, 0x3c, 18);
DEFINE_PROPERTYKEY(WPD_OBJECT_DATE_MODIFIED, 0xef6b490d, 0x5cd8, 0x437a, 0xaf, 0xfc, 0xda, 0x8b,
                   0x60, 0xee, 0x4a, 0x3c, 19);

// Device object properties (WPD_DEVICE_PROPERTIES_V1).
DEFINE_PROPERTYKEY(WPD_DEVICE_MODEL, 0x26d4979a, 0xe643, 0x4626, 0x9e, 0x2b, 0x73, 0x6d, 0xc0, 0xc9,
                   0x2f, 0xdc, 8);

// The resource that holds an object's bytes.
DEFINE_PROPERTYKEY(WPD_RESOURCE_DEFAULT, 0xe81e79be, 0x34f0, 0x41bf, 0xb5, 0x3f, 0xf1, 0xa0, 0x6a,
                   0xe8, 0x78, 0x42, 0);

// Functional object properties (WPD_FUNCTIONAL_OBJECT_PROPERTIES_V1).
DEFINE_PROPERTYKEY(WPD_FUNCTIONAL_OBJECT_CATEGORY, 0x8f052d93, 0xabca, 0x4fc5, 0xa5, 0xac, 0xb0,
                   0x1d, 0xf4, 0xdb, 0xe5, 0x98, 2);

// Client information (WPD_CLIENT_INFORMATION_PROPERTIES_V1).
DEFINE_PROPERTYKEY(WPD_CLIENT_NAME, 0x204d9f0c, 0x2292, 0x4080, 0x9f, 0x42, 0x40, 0x66, 0x4e, 0x70,
                   0xf8, 0x59, 2);
DEFINE_PROPERTYKEY(WPD_CLIENT_MAJOR_VERSION, 0x204d9f0c, 0x2292, 0x4080, 0x9f, 0x42, 0x40, 0x66,
                   0x4e, 0x70, 0xf8, 0x59, 3);
DEFINE_PROPERTYKEY(WPD_CLIENT_MINOR_VERSION, 0x204d9f0c, 0x2292, 0x4080, 0x9f, 0x42, 0x40, 0x66,
                   0x4e, 0x70, 0xf8, 0x59, 4);
DEFINE_PROPERTYKEY(WPD_CLIENT_REVISION, 0x204d9f0c, 0x2292, 0x4080, 0x9f, 0x42, 0x40, 0x66, 0x4e,
                   0x70, 0xf8, 0x59, 5);
DEFINE_PROPERTYKEY(WPD_CLIENT_SECURITY_QUALITY_OF_SERVICE, 0x204d9f0c, 0x2292, 0x4080, 0x9f, 0x42,
                   0x40, 0x66, 0x4e, 0x70, 0xf8, 0x59, 8);

#define WPD_DEVICE_OBJECT_ID L"DEVICE"
#define PORTABLE_DEVICE_DELETE_NO_RECURSION 0u
#define E_WPD_DEVICE_ALREADY_OPENED ((HRESULT)0x802A0001)
#define E_WPD_DEVICE_NOT_OPEN ((HRESULT)0x802A0002)
