// simwin's device side: the logical drive list, DOS device names, volume information, the
// volume search, ntdll's volume query, and the device installation services and configuration
// manager calls over the [interface] sections of machine.ini. Each call can be failed on purpose
// through Enter and sets the error code the real call sets.
#include "simwin/simwin_internal.h"

#include <cctype>
#include <cstddef>

using simwin::Current;
using simwin::Enter;
using simwin::FaultError;

// {53f56307-b6bf-11d0-94f2-00a0c91efb8b} and its neighbours, as the platform publishes them.
const GUID GUID_DEVINTERFACE_DISK = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
const GUID GUID_DEVINTERFACE_CDROM = {
    0x53f56308, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
const GUID GUID_DEVINTERFACE_FLOPPY = {
    0x53f56311, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

namespace {

// The setup classes of the devices behind the three interface classes (DiskDrive, CDROM,
// FloppyDisk).
const GUID kDiskDriveClass = {
    0x4d36e967, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kCdromClass = {
    0x4d36e965, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kFloppyClass = {
    0x4d36e980, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// Module handles of GetModuleHandleA: fixed addresses nothing else uses.
HMODULE const kNtdllModule = reinterpret_cast<HMODULE>(uintptr_t(0x7FF800000000));
HMODULE const kKernel32Module = reinterpret_cast<HMODULE>(uintptr_t(0x7FF810000000));
HMODULE const kCfgmgr32Module = reinterpret_cast<HMODULE>(uintptr_t(0x7FF820000000));
HMODULE const kProgramModule = reinterpret_cast<HMODULE>(uintptr_t(0x140000000));

// Device nodes: an interface's device is 0x1000 + 2 * index, its parent the next number.
const DEVINST kFirstDeviceNode = 0x1000;

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

// "\\?\Volume{GUID}\" of a drive, its GUID derived from the letter so that runs repeat.
std::string VolumeName(const simwin::Drive &drive) {
    char name[64];
    snprintf(name, sizeof name, "\\\\?\\Volume{7a3c5e%02x-41d2-11ef-9c0a-5eed0000%04x}\\",
             (unsigned)(unsigned char)drive.letter, (unsigned)(unsigned char)drive.letter);
    return name;
}

// The drive whose volume name (without "\\?\" and the trailing backslash) is name, or null.
simwin::Drive *DriveOfVolume(const std::string &name) {
    for (simwin::Drive &drive : Current().drives) {
        std::string full = VolumeName(drive);
        if (strcasecmp(full.substr(4, full.size() - 5).c_str(), name.c_str()) == 0)
            return &drive;
    }
    return nullptr;
}

// Copies text and its terminator into a buffer of size characters; false when it does not fit.
bool CopyOut(const std::string &text, LPSTR buffer, DWORD size) {
    if (!buffer || size < text.size() + 1)
        return false;
    memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

const GUID &InterfaceClassOf(const simwin::Interface &device) {
    if (device.klass == "cdrom")
        return GUID_DEVINTERFACE_CDROM;
    if (device.klass == "floppy")
        return GUID_DEVINTERFACE_FLOPPY;
    return GUID_DEVINTERFACE_DISK;
}

const GUID &SetupClassOf(const simwin::Interface &device) {
    if (device.klass == "cdrom")
        return kCdromClass;
    if (device.klass == "floppy")
        return kFloppyClass;
    return kDiskDriveClass;
}

simwin::DeviceInfoSet *FindSet(HDEVINFO set) {
    auto found = Current().deviceSets.find(set);
    return found == Current().deviceSets.end() ? nullptr : &found->second;
}

// Whether the set holds the interface of index (counted from 0 in Machine::interfaces).
bool SetHolds(const simwin::DeviceInfoSet &set, size_t index) {
    for (size_t held : set.interfaces)
        if (held == index)
            return true;
    return false;
}

// The interface an SP_DEVICE_INTERFACE_DATA of the set names (its Reserved field holds the
// index + 1), or null when the data is not of this set.
const simwin::Interface *InterfaceOfData(const simwin::DeviceInfoSet &set,
                                         const SP_DEVICE_INTERFACE_DATA *data) {
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
        !SetHolds(set, data->Reserved - 1))
        return nullptr;
    return &Current().interfaces[data->Reserved - 1];
}

// The device an SP_DEVINFO_DATA of the set names, or null, as the data checks of the real
// calls see it.
const simwin::Interface *InterfaceOfDevice(const simwin::DeviceInfoSet &set,
                                           const SP_DEVINFO_DATA *device) {
    if (!device || device->cbSize != sizeof(SP_DEVINFO_DATA) || device->Reserved == 0 ||
        !SetHolds(set, device->Reserved - 1))
        return nullptr;
    return &Current().interfaces[device->Reserved - 1];
}

void FillDeviceData(size_t index, SP_DEVINFO_DATA *device) {
    device->ClassGuid = SetupClassOf(Current().interfaces[index]);
    device->DevInst = kFirstDeviceNode + 2 * (DEVINST)index;
    device->Reserved = index + 1;
}

// A registry property's bytes and type; false when the device has no readable value.
bool PropertyValue(const simwin::Interface &device, DWORD property, std::string *bytes,
                   DWORD *type) {
    const simwin::TextProperty *text = nullptr;
    switch (property) {
    case SPDRP_REMOVAL_POLICY:
        if (!device.removalPolicyPresent || device.removalPolicyFails)
            return false;
        *bytes = std::string(reinterpret_cast<const char *>(&device.removalPolicy), 4);
        *type = REG_DWORD;
        return true;
    case SPDRP_HARDWAREID:
        if (!device.hardwareIds.present || device.hardwareIds.fails)
            return false;
        *bytes = device.hardwareIds.value + std::string(2, '\0');
        *type = REG_MULTI_SZ;
        return true;
    case SPDRP_CLASS:
        text = &device.setupClass;
        break;
    case SPDRP_FRIENDLYNAME:
        text = &device.friendlyName;
        break;
    case SPDRP_PHYSICAL_DEVICE_OBJECT_NAME:
        text = &device.pdoName;
        break;
    case SPDRP_DEVICEDESC:
        text = &device.description;
        break;
    default:
        return false;
    }
    if (!text->present || text->fails)
        return false;
    *bytes = text->value + std::string(1, '\0');
    *type = REG_SZ;
    return true;
}

// The interface index of a device node and whether it is the parent node; false when no
// interface's device has that node.
bool NodeOf(DEVINST node, size_t *index, bool *isParent) {
    if (node < kFirstDeviceNode)
        return false;
    size_t offset = node - kFirstDeviceNode;
    if (offset / 2 >= Current().interfaces.size())
        return false;
    *index = offset / 2;
    *isParent = offset % 2 == 1;
    return true;
}

bool HasParent(const simwin::Interface &device) {
    return device.parentId.present && !device.parentId.fails;
}

// The NT status of the ntdll entry point that GetProcAddress hands out.
NTSTATUS WINAPI SimNtQueryVolumeInformationFile(HANDLE file, IO_STATUS_BLOCK *ioStatus,
                                                void *information, ULONG length,
                                                FS_INFORMATION_CLASS informationClass) {
    std::string mode;
    if (Enter("NtQueryVolumeInformationFile", &mode))
        return (NTSTATUS)FaultError(mode, (DWORD)STATUS_INVALID_DEVICE_REQUEST);
    simwin::Handle *handle = simwin::FindHandle(file);
    if (!handle)
        return STATUS_INVALID_HANDLE;
    if (informationClass != FileFsDeviceInformation)
        return STATUS_INVALID_INFO_CLASS;
    if (!information || length < sizeof(FILE_FS_DEVICE_INFORMATION))
        return STATUS_INFO_LENGTH_MISMATCH;
    FILE_FS_DEVICE_INFORMATION answer = {};
    if (handle->isVolume) {
        simwin::Drive *drive = simwin::FindDrive(handle->letter);
        if (!drive || drive->characteristicsFail)
            return STATUS_INVALID_DEVICE_REQUEST;
        answer.DeviceType = drive->deviceType;
        answer.Characteristics = drive->characteristics;
    } else {
        answer.DeviceType = Current().interfaces[handle->interfaceIndex].deviceType;
    }
    memcpy(information, &answer, sizeof answer);
    if (ioStatus) {
        ioStatus->Status = STATUS_SUCCESS;
        ioStatus->Information = sizeof answer;
    }
    return STATUS_SUCCESS;
}

} // namespace

// ---- Drives and volumes ------------------------------------------------------------------

DWORD GetLogicalDriveStringsA(DWORD size, LPSTR buffer) {
    std::string mode;
    if (Enter("GetLogicalDriveStringsA", &mode)) {
        SetLastError(FaultError(mode, ERROR_NOT_ENOUGH_MEMORY));
        return 0;
    }
    std::string list;
    for (const simwin::Drive &drive : Current().drives) // ejected media leave the drive listed
        list += std::string(1, drive.letter) + ":\\" + std::string(1, '\0');
    if (!buffer || size < list.size() + 1)
        return (DWORD)list.size() + 1; // the size needed, final terminator included
    memcpy(buffer, list.data(), list.size());
    buffer[list.size()] = '\0';
    return (DWORD)list.size();
}

DWORD QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD size) {
    std::string mode;
    if (Enter("QueryDosDeviceA", &mode)) {
        SetLastError(FaultError(mode, ERROR_FILE_NOT_FOUND));
        return 0;
    }
    std::string target;
    if (!deviceName) { // all names: the drives' and the volumes'
        for (const simwin::Drive &drive : Current().drives) {
            std::string volume = VolumeName(drive);
            target += std::string(1, drive.letter) + ":" + std::string(1, '\0') +
                      volume.substr(4, volume.size() - 5) + std::string(1, '\0');
        }
    } else {
        simwin::Drive *drive = nullptr;
        if (isalpha((unsigned char)deviceName[0]) && deviceName[1] == ':' && deviceName[2] == '\0')
            drive = simwin::FindDrive(deviceName[0]);
        else
            drive = DriveOfVolume(deviceName);
        if (!drive || drive->dosDeviceFails) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return 0;
        }
        target = drive->dosDevice + std::string(1, '\0');
    }
    target.push_back('\0'); // the list of targets ends with an empty one
    if (!targetPath || size < target.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(targetPath, target.data(), target.size());
    return (DWORD)target.size();
}

BOOL GetVolumeInformationA(LPCSTR rootPath, LPSTR volumeName, DWORD volumeNameSize,
                           LPDWORD serialNumber, LPDWORD maxComponentLength,
                           LPDWORD fileSystemFlags, LPSTR fileSystemName,
                           DWORD fileSystemNameSize) {
    std::string mode;
    if (Enter("GetVolumeInformationA", &mode))
        return Fail(FaultError(mode, ERROR_NOT_READY));
    if (!rootPath)
        return Fail(ERROR_INVALID_PARAMETER);
    simwin::Drive *drive = nullptr;
    size_t length = strlen(rootPath);
    if (length == 3 && isalpha((unsigned char)rootPath[0]) && rootPath[1] == ':' &&
        rootPath[2] == '\\')
        drive = simwin::FindDrive(rootPath[0]);
    else if (length > 5 && strncmp(rootPath, "\\\\?\\", 4) == 0 && rootPath[length - 1] == '\\')
        drive = DriveOfVolume(std::string(rootPath + 4, length - 5));
    else
        return Fail(ERROR_INVALID_NAME); // a root directory ends in a backslash
    if (!drive)
        return Fail(ERROR_PATH_NOT_FOUND);
    if (drive->ejected || drive->media == "not_ready")
        return Fail(ERROR_NOT_READY);
    if (drive->volumeInfoFails)
        return Fail(ERROR_UNRECOGNIZED_VOLUME);
    const char *fileSystem = drive->type == DRIVE_CDROM       ? "CDFS"
                             : drive->type == DRIVE_REMOVABLE ? "FAT32"
                                                              : "NTFS";
    if ((volumeName && !CopyOut(drive->label, volumeName, volumeNameSize)) ||
        (fileSystemName && !CopyOut(fileSystem, fileSystemName, fileSystemNameSize)))
        return Fail(ERROR_BAD_LENGTH);
    if (serialNumber)
        *serialNumber = 0x5EED0000u | (DWORD)(unsigned char)drive->letter;
    if (maxComponentLength)
        *maxComponentLength = 255;
    if (fileSystemFlags)
        *fileSystemFlags = 0x3; // case-sensitive search, case-preserved names
    return TRUE;
}

HANDLE FindFirstVolumeA(LPSTR volumeName, DWORD size) {
    std::string mode;
    if (Enter("FindFirstVolumeA", &mode)) {
        SetLastError(FaultError(mode, ERROR_NOT_ENOUGH_MEMORY));
        return INVALID_HANDLE_VALUE;
    }
    simwin::Machine &machine = Current();
    if (machine.drives.empty()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return INVALID_HANDLE_VALUE;
    }
    if (!CopyOut(VolumeName(machine.drives[0]), volumeName, size)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE search = (HANDLE)(machine.nextHandle += 4);
    machine.volumeSearches.insert(search);
    machine.volumeSearchNext[search] = 1;
    return search;
}

BOOL FindNextVolumeA(HANDLE search, LPSTR volumeName, DWORD size) {
    std::string mode;
    bool injected = Enter("FindNextVolumeA", &mode);
    simwin::Machine &machine = Current();
    auto found = machine.volumeSearchNext.find(search);
    if (found == machine.volumeSearchNext.end())
        return Fail(ERROR_INVALID_HANDLE);
    if (injected)
        return Fail(FaultError(mode, ERROR_NOT_ENOUGH_MEMORY));
    if (found->second >= machine.drives.size())
        return Fail(ERROR_NO_MORE_FILES);
    if (!CopyOut(VolumeName(machine.drives[found->second]), volumeName, size))
        return Fail(ERROR_FILENAME_EXCED_RANGE); // the search stays where it was
    ++found->second;
    return TRUE;
}

namespace {

// Releases a held search or set and its state, whatever a planned fault says.
template <typename State>
BOOL ReleaseHeld(const char *operation, std::set<HANDLE> &held, State &state, HANDLE handle) {
    std::string mode;
    bool injected = Enter(operation, &mode);
    if (!held.erase(handle))
        return Fail(ERROR_INVALID_HANDLE);
    state.erase(handle);
    return injected ? Fail(FaultError(mode, ERROR_INVALID_HANDLE)) : TRUE;
}

} // namespace

// A failed close still ends the search, as CloseHandle does.
BOOL FindVolumeClose(HANDLE search) {
    simwin::Machine &machine = Current();
    return ReleaseHeld("FindVolumeClose", machine.volumeSearches, machine.volumeSearchNext, search);
}

// ---- Modules and the native volume query -------------------------------------------------

HMODULE GetModuleHandleA(LPCSTR moduleName) {
    std::string mode;
    if (Enter("GetModuleHandleA", &mode)) {
        SetLastError(FaultError(mode, ERROR_MOD_NOT_FOUND));
        return nullptr;
    }
    if (!moduleName)
        return kProgramModule;
    if (strcasecmp(moduleName, "ntdll.dll") == 0 || strcasecmp(moduleName, "ntdll") == 0) {
        if (!Current().ntdllMissing)
            return kNtdllModule;
    } else if (strcasecmp(moduleName, "kernel32.dll") == 0 ||
               strcasecmp(moduleName, "kernel32") == 0) {
        return kKernel32Module;
    } else if (strcasecmp(moduleName, "cfgmgr32.dll") == 0 ||
               strcasecmp(moduleName, "cfgmgr32") == 0) {
        return kCfgmgr32Module;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

HMODULE LoadLibraryA(LPCSTR moduleName) {
    std::string mode;
    if (Enter("LoadLibraryA", &mode)) {
        SetLastError(FaultError(mode, ERROR_MOD_NOT_FOUND));
        return nullptr;
    }
    return moduleName ? GetModuleHandleA(moduleName) : nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    std::string mode;
    if (Enter("GetProcAddress", &mode)) {
        SetLastError(FaultError(mode, ERROR_PROC_NOT_FOUND));
        return nullptr;
    }
    if (module != kNtdllModule && module != kKernel32Module && module != kProgramModule &&
        module != kCfgmgr32Module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (module == kNtdllModule && procName && strcmp(procName, "NtQueryVolumeInformationFile") == 0)
        return reinterpret_cast<FARPROC>(
            reinterpret_cast<void (*)()>(&SimNtQueryVolumeInformationFile));
    if (module == kCfgmgr32Module && procName && !Current().cmNotificationMissing) {
        if (strcmp(procName, "CM_Register_Notification") == 0)
            return reinterpret_cast<FARPROC>(
                reinterpret_cast<void (*)()>(&CM_Register_Notification));
        if (strcmp(procName, "CM_Unregister_Notification") == 0)
            return reinterpret_cast<FARPROC>(
                reinterpret_cast<void (*)()>(&CM_Unregister_Notification));
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL IsDBCSLeadByte(BYTE testChar) {
    (void)testChar;
    return FALSE;
}

// ---- Device installation services --------------------------------------------------------

HDEVINFO SetupDiGetClassDevsA(const GUID *classGuid, LPCSTR enumerator, HWND parent, DWORD flags) {
    (void)parent;
    std::string mode;
    simwin::Machine &machine = Current();
    if (Enter("SetupDiGetClassDevsA", &mode) || machine.setupapiFails) {
        SetLastError(FaultError(mode, ERROR_NOT_ENOUGH_MEMORY));
        return INVALID_HANDLE_VALUE;
    }
    if (!classGuid && !(flags & DIGCF_ALLCLASSES)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    simwin::DeviceInfoSet contents;
    for (size_t i = 0; (flags & DIGCF_DEVICEINTERFACE) && i < machine.interfaces.size(); ++i) {
        const simwin::Interface &device = machine.interfaces[i];
        if (!(flags & DIGCF_ALLCLASSES) && !(InterfaceClassOf(device) == *classGuid))
            continue;
        if (enumerator && strcasecmp(enumerator, device.instanceId.c_str()) != 0)
            continue;
        contents.interfaces.push_back(i);
    }
    HDEVINFO set = (HDEVINFO)(machine.nextHandle += 4);
    machine.deviceInfoSets.insert(set);
    machine.deviceSets[set] = contents;
    return set;
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device, const GUID *classGuid,
                                 DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    std::string mode;
    bool injected = Enter("SetupDiEnumDeviceInterfaces", &mode);
    simwin::DeviceInfoSet *contents = FindSet(set);
    if (!contents)
        return Fail(ERROR_INVALID_HANDLE);
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return Fail(ERROR_INVALID_PARAMETER);
    // An interface class is required: enumeration by no class is refused, not guessed at.
    if (!classGuid)
        return Fail(ERROR_INVALID_PARAMETER);
    const simwin::Interface *only = nullptr;
    if (device && !(only = InterfaceOfDevice(*contents, device)))
        return Fail(ERROR_INVALID_PARAMETER);
    if (injected)
        return Fail(FaultError(mode, ERROR_NO_MORE_ITEMS));
    DWORD seen = 0;
    for (size_t i : contents->interfaces) {
        const simwin::Interface &candidate = Current().interfaces[i];
        if (!(InterfaceClassOf(candidate) == *classGuid) || (only && only != &candidate))
            continue;
        if (seen++ != index)
            continue;
        data->InterfaceClassGuid = *classGuid;
        data->Flags = SPINT_ACTIVE;
        data->Reserved = i + 1;
        return TRUE;
    }
    return Fail(ERROR_NO_MORE_ITEMS);
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                      LPDWORD requiredSize, PSP_DEVINFO_DATA device) {
    std::string mode;
    bool injected = Enter("SetupDiGetDeviceInterfaceDetailA", &mode);
    simwin::DeviceInfoSet *contents = FindSet(set);
    if (!contents)
        return Fail(ERROR_INVALID_HANDLE);
    const simwin::Interface *found = InterfaceOfData(*contents, data);
    if (!found)
        return Fail(ERROR_INVALID_PARAMETER);
    if (injected)
        return Fail(FaultError(mode, ERROR_NOT_ENOUGH_MEMORY));
    if (detail && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (!detail && detailSize)
        return Fail(ERROR_INVALID_USER_BUFFER);
    DWORD needed =
        (DWORD)(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + found->path.size() + 1);
    if (requiredSize)
        *requiredSize = needed;
    if (device && device->cbSize == sizeof(SP_DEVINFO_DATA))
        FillDeviceData(data->Reserved - 1, device);
    if (detailSize < needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(detail->DevicePath, found->path.c_str(), found->path.size() + 1);
    return TRUE;
}

BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO set, PSP_DEVINFO_DATA device, LPSTR id, DWORD size,
                                 LPDWORD requiredSize) {
    std::string mode;
    bool injected = Enter("SetupDiGetDeviceInstanceIdA", &mode);
    simwin::DeviceInfoSet *contents = FindSet(set);
    if (!contents)
        return Fail(ERROR_INVALID_HANDLE);
    const simwin::Interface *found = InterfaceOfDevice(*contents, device);
    if (!found)
        return Fail(ERROR_INVALID_PARAMETER);
    if (injected)
        return Fail(FaultError(mode, ERROR_NOT_ENOUGH_MEMORY));
    if (!id && size)
        return Fail(ERROR_INVALID_USER_BUFFER);
    DWORD needed = (DWORD)found->instanceId.size() + 1;
    if (requiredSize)
        *requiredSize = needed;
    if (size < needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(id, found->instanceId.c_str(), needed);
    return TRUE;
}

BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property,
                                       LPDWORD dataType, BYTE *buffer, DWORD size,
                                       LPDWORD requiredSize) {
    std::string mode;
    bool injected = Enter("SetupDiGetDeviceRegistryPropertyA", &mode);
    simwin::DeviceInfoSet *contents = FindSet(set);
    if (!contents)
        return Fail(ERROR_INVALID_HANDLE);
    const simwin::Interface *found = InterfaceOfDevice(*contents, device);
    if (!found)
        return Fail(ERROR_INVALID_PARAMETER);
    if (size && !buffer)
        return Fail(ERROR_INVALID_DATA);
    std::string bytes;
    DWORD type = 0;
    if (injected || !PropertyValue(*found, property, &bytes, &type))
        return Fail(injected ? FaultError(mode, ERROR_INVALID_DATA) : ERROR_INVALID_DATA);
    if (requiredSize)
        *requiredSize = (DWORD)bytes.size();
    if (size < bytes.size())
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(buffer, bytes.data(), bytes.size());
    if (dataType)
        *dataType = type;
    return TRUE;
}

// A failed destroy still releases the set: nothing the program could do would free it later.
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    simwin::Machine &machine = Current();
    return ReleaseHeld("SetupDiDestroyDeviceInfoList", machine.deviceInfoSets, machine.deviceSets,
                       set);
}

// ---- Configuration manager ---------------------------------------------------------------

namespace {

// What both configuration manager calls check first, in the order the real ones do: the
// output, the flags, the device node, then a planned fault. CR_SUCCESS to go on.
CONFIGRET CheckNodeCall(const char *operation, const void *output, ULONG flags, DEVINST device,
                        size_t *index, bool *isParent) {
    std::string mode;
    bool injected = Enter(operation, &mode);
    if (!output)
        return CR_INVALID_POINTER;
    if (flags != 0)
        return CR_INVALID_FLAG;
    if (!NodeOf(device, index, isParent))
        return CR_INVALID_DEVNODE;
    return injected ? (CONFIGRET)FaultError(mode, CR_NO_SUCH_DEVNODE) : CR_SUCCESS;
}

} // namespace

CONFIGRET CM_Get_Parent(PDEVINST parent, DEVINST device, ULONG flags) {
    size_t index;
    bool isParent;
    if (parent)
        *parent = 0;
    CONFIGRET result = CheckNodeCall("CM_Get_Parent", parent, flags, device, &index, &isParent);
    if (result != CR_SUCCESS)
        return result;
    if (isParent || !HasParent(Current().interfaces[index]))
        return CR_NO_SUCH_DEVNODE; // the parent's own parent is not modelled
    *parent = device + 1;
    return CR_SUCCESS;
}

CONFIGRET CM_Get_Device_IDA(DEVINST device, LPSTR buffer, ULONG size, ULONG flags) {
    size_t index;
    bool isParent;
    CONFIGRET result = CheckNodeCall("CM_Get_Device_IDA", buffer, flags, device, &index, &isParent);
    if (result != CR_SUCCESS)
        return result;
    const simwin::Interface &owner = Current().interfaces[index];
    if (isParent && !HasParent(owner))
        return CR_NO_SUCH_DEVNODE;
    const std::string &id = isParent ? owner.parentId.value : owner.instanceId;
    // As much as fits: the terminator only when there is room for it, and an identifier that
    // fills the buffer exactly is still reported as a success.
    size_t copied = id.size() < size ? id.size() : size;
    memcpy(buffer, id.data(), copied);
    if (copied < size)
        buffer[copied] = '\0';
    return id.size() > size ? CR_BUFFER_SMALL : CR_SUCCESS;
}
