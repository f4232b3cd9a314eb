// The WPD declarations against Microsoft's published method order. A method out of its slot
// calls another method on Windows, where nothing here runs; so each slot is checked against a
// table written from the published interface definitions. GCC lays out vtables the same way
// for both builds, and a pointer to a virtual method holds 1 + its slot's byte offset.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/win32.h"

namespace {

template <typename Method> size_t SlotOf(Method method) {
    struct {
        uintptr_t pointer;
        ptrdiff_t adjustment;
    } parts;
    static_assert(sizeof(Method) == sizeof parts, "a pointer to member of the Itanium ABI");
    memcpy(&parts, &method, sizeof parts);
    return (parts.pointer - 1) / sizeof(void *);
}

struct Slot {
    const char *method;
    size_t declared;
    size_t published; // IUnknown's QueryInterface, AddRef and Release take slots 0 to 2
};
#define SLOT(Interface, Method, published)                                                         \
    { #Interface "::" #Method, SlotOf(&Interface::Method), published }

TEST(WpdDeclarations, EveryMethodStandsInItsPublishedSlot) {
    const Slot slots[] = {
        SLOT(IPortableDeviceManager, GetDevices, 3),
        SLOT(IPortableDeviceManager, RefreshDeviceList, 4),
        SLOT(IPortableDeviceManager, GetDeviceFriendlyName, 5),
        SLOT(IPortableDeviceManager, GetDeviceDescription, 6),
        SLOT(IPortableDeviceManager, GetDeviceManufacturer, 7),
        SLOT(IPortableDeviceManager, GetDeviceProperty, 8),
        SLOT(IPortableDeviceManager, GetPrivateDevices, 9),
        SLOT(IPortableDevice, Open, 3),
        SLOT(IPortableDevice, SendCommand, 4),
        SLOT(IPortableDevice, Content, 5),
        SLOT(IPortableDevice, Capabilities, 6),
        SLOT(IPortableDevice, Cancel, 7),
        SLOT(IPortableDevice, Close, 8),
        SLOT(IPortableDevice, Advise, 9),
        SLOT(IPortableDevice, Unadvise, 10),
        SLOT(IPortableDevice, GetPnPDeviceID, 11),
        SLOT(IPortableDeviceContent, EnumObjects, 3),
        SLOT(IPortableDeviceContent, Properties, 4),
        SLOT(IPortableDeviceContent, Transfer, 5),
        SLOT(IPortableDeviceContent, CreateObjectWithPropertiesOnly, 6),
        SLOT(IPortableDeviceContent, CreateObjectWithPropertiesAndData, 7),
        SLOT(IPortableDeviceContent, Delete, 8),
        SLOT(IPortableDeviceContent, GetObjectIDsFromPersistentUniqueIDs, 9),
        SLOT(IPortableDeviceContent, Cancel, 10),
        SLOT(IPortableDeviceContent, Move, 11),
        SLOT(IPortableDeviceContent, Copy, 12),
        SLOT(IPortableDeviceResources, GetSupportedResources, 3),
        SLOT(IPortableDeviceResources, GetResourceAttributes, 4),
        SLOT(IPortableDeviceResources, GetStream, 5),
        SLOT(IPortableDeviceResources, Delete, 6),
        SLOT(IPortableDeviceResources, Cancel, 7),
        SLOT(IPortableDeviceResources, CreateResource, 8),
        SLOT(IEnumPortableDeviceObjectIDs, Next, 3),
        SLOT(IEnumPortableDeviceObjectIDs, Skip, 4),
        SLOT(IEnumPortableDeviceObjectIDs, Reset, 5),
        SLOT(IEnumPortableDeviceObjectIDs, Clone, 6),
        SLOT(IEnumPortableDeviceObjectIDs, Cancel, 7),
        SLOT(IPortableDeviceProperties, GetSupportedProperties, 3),
        SLOT(IPortableDeviceProperties, GetPropertyAttributes, 4),
        SLOT(IPortableDeviceProperties, GetValues, 5),
        SLOT(IPortableDeviceProperties, SetValues, 6),
        SLOT(IPortableDeviceProperties, Delete, 7),
        SLOT(IPortableDeviceProperties, Cancel, 8),
        SLOT(IPortableDeviceDataStream, Read, 3),
        SLOT(IPortableDeviceDataStream, Write, 4),
        SLOT(IPortableDeviceDataStream, Seek, 5),
        SLOT(IPortableDeviceDataStream, SetSize, 6),
        SLOT(IPortableDeviceDataStream, CopyTo, 7),
        SLOT(IPortableDeviceDataStream, Commit, 8),
        SLOT(IPortableDeviceDataStream, Revert, 9),
        SLOT(IPortableDeviceDataStream, LockRegion, 10),
        SLOT(IPortableDeviceDataStream, UnlockRegion, 11),
        SLOT(IPortableDeviceDataStream, Stat, 12),
        SLOT(IPortableDeviceDataStream, Clone, 13),
        SLOT(IPortableDeviceDataStream, GetObjectID, 14),
        SLOT(IPortableDeviceDataStream, Cancel, 15),
        // simwin's stand-ins for what <portabledevicetypes.h> gives the Windows build.
        SLOT(IPortableDeviceValues, SetValue, 5),
        SLOT(IPortableDeviceValues, SetStringValue, 7),
        SLOT(IPortableDeviceValues, GetStringValue, 8),
        SLOT(IPortableDeviceValues, SetUnsignedIntegerValue, 9),
        SLOT(IPortableDeviceValues, SetUnsignedLargeIntegerValue, 13),
        SLOT(IPortableDeviceValues, GetUnsignedLargeIntegerValue, 14),
        SLOT(IPortableDeviceValues, SetGuidValue, 27),
        SLOT(IPortableDeviceValues, GetGuidValue, 28),
        SLOT(IPortableDeviceValues, Clear, 42),
        SLOT(IPortableDeviceKeyCollection, Add, 5),
        SLOT(IPortableDevicePropVariantCollection, Add, 5),
    };
    std::string misplaced;
    for (const Slot &slot : slots)
        if (slot.declared != slot.published)
            misplaced += std::string(slot.method) + " in slot " + std::to_string(slot.declared) +
                         ", published " + std::to_string(slot.published) + "\n";
    EXPECT_EQ(misplaced, "");
    // The record layouts the calls pass, as in a 64-bit Windows process.
    EXPECT_EQ(sizeof(PROPERTYKEY), 20u);
    EXPECT_EQ(sizeof(PROPVARIANT), 24u);
    EXPECT_EQ(offsetof(PROPVARIANT, date), 8u); // a VT_DATE, after vt and three reserved words
}

} // namespace
