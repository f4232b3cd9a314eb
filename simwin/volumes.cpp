// simwin's volume side: drive types, opening volumes and device interfaces, closing handles,
// and the storage and file-system controls on them.
#include "simwin/simwin_internal.h"

#include <cctype>
#include <cstddef>

using simwin::Current;
using simwin::Enter;
using simwin::Event;
using simwin::FaultError;

namespace {

// "\\.\E:" names the volume of drive E.
bool IsVolumePath(const char *name) {
    return name && strncmp(name, "\\\\.\\", 4) == 0 && isalpha((unsigned char)name[4]) &&
           name[5] == ':' && name[6] == '\0';
}

std::string AccessText(DWORD access) {
    if (access == (GENERIC_READ | GENERIC_WRITE))
        return "GENERIC_READ|GENERIC_WRITE";
    if (access == GENERIC_READ)
        return "GENERIC_READ";
    if (access == FILE_READ_ATTRIBUTES)
        return "FILE_READ_ATTRIBUTES";
    char text[16];
    snprintf(text, sizeof text, "0x%X", (unsigned)access);
    return text;
}

HANDLE NewHandle(const simwin::Handle &record) {
    simwin::Machine &machine = Current();
    HANDLE handle = simwin::NewHandleValue();
    machine.handles[handle] = record;
    (record.isVolume ? machine.volumeHandles : machine.deviceHandles).insert(handle);
    return handle;
}

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

// Builds the storage descriptor of a drive: the fixed part, then its texts, NUL-terminated.
std::string Descriptor(const simwin::Drive &drive) {
    STORAGE_DEVICE_DESCRIPTOR header = {};
    std::string texts;
    size_t base = offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties);
    auto place = [&](const simwin::TextProperty &text, DWORD *offset) {
        if (!text.present || text.fails)
            return;
        *offset = (DWORD)(base + texts.size());
        texts += text.value;
        texts.push_back('\0');
    };
    header.Version = sizeof header;
    header.DeviceType = 0;
    header.RemovableMedia = (BOOLEAN)drive.removableMedia;
    place(drive.vendor, &header.VendorIdOffset);
    place(drive.product, &header.ProductIdOffset);
    place(drive.revision, &header.ProductRevisionOffset);
    header.Size = (DWORD)(base + texts.size());
    std::string bytes((const char *)&header, base);
    // A device may report a bus type outside the enumeration: store the raw number.
    DWORD busType = (DWORD)drive.busType;
    memcpy(&bytes[offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType)], &busType, sizeof busType);
    return bytes + texts;
}

// Copies a record into the caller's output buffer, as far as it fits.
BOOL Answer(const void *record, size_t size, LPVOID out, DWORD outSize, LPDWORD returned) {
    if (!out || outSize < size)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(out, record, size);
    if (returned)
        *returned = (DWORD)size;
    return TRUE;
}

// The name a removal control goes by in events.log.
std::string RemovalControlName(DWORD code, LPVOID in, DWORD inSize) {
    switch (code) {
    case FSCTL_LOCK_VOLUME:
        return "FSCTL_LOCK_VOLUME";
    case FSCTL_DISMOUNT_VOLUME:
        return "FSCTL_DISMOUNT_VOLUME";
    case IOCTL_STORAGE_MEDIA_REMOVAL:
        if (!in || inSize < sizeof(PREVENT_MEDIA_REMOVAL))
            return "IOCTL_STORAGE_MEDIA_REMOVAL";
        return std::string("IOCTL_STORAGE_MEDIA_REMOVAL ") +
               (static_cast<PREVENT_MEDIA_REMOVAL *>(in)->PreventMediaRemoval ? "prevent"
                                                                              : "allow");
    default:
        return "IOCTL_STORAGE_EJECT_MEDIA";
    }
}

// The four controls of safe removal, each an event; injected is a planned fault's error code,
// or 0.
BOOL RemovalControl(simwin::Drive *drive, DWORD code, LPVOID in, DWORD inSize, DWORD injected) {
    std::string volume = std::string("\\\\.\\") + drive->letter + ":";
    BOOL ok = TRUE;
    std::string outcome = "ok";
    if (injected) {
        ok = Fail(injected);
    } else if (code == FSCTL_LOCK_VOLUME) {
        if (drive->lockRefusals < 0 || drive->lockRefused < drive->lockRefusals) {
            ++drive->lockRefused;
            ok = Fail(ERROR_ACCESS_DENIED);
            outcome = "refused";
        }
    } else if (code == FSCTL_DISMOUNT_VOLUME) {
        ok = drive->dismountFails ? Fail(ERROR_ACCESS_DENIED) : TRUE;
    } else if (code == IOCTL_STORAGE_MEDIA_REMOVAL) {
        if (!in || inSize < sizeof(PREVENT_MEDIA_REMOVAL))
            ok = Fail(ERROR_INVALID_PARAMETER);
        else
            ok = drive->mediaRemovalFails ? Fail(ERROR_ACCESS_DENIED) : TRUE;
    } else { // IOCTL_STORAGE_EJECT_MEDIA
        ok = drive->ejectFails ? Fail(ERROR_NOT_READY) : TRUE;
        if (ok)
            drive->ejected = true; // the media are gone for the rest of the run
    }
    if (!ok && outcome == "ok")
        outcome = "fail " + std::to_string(Current().lastError);
    Event("DeviceIoControl " + RemovalControlName(code, in, inSize) + " " + volume + " " + outcome);
    return ok;
}

} // namespace

simwin::Handle *simwin::FindHandle(HANDLE handle) {
    auto found = Current().handles.find(handle);
    return found == Current().handles.end() ? nullptr : &found->second;
}

UINT GetDriveTypeA(LPCSTR rootPath) {
    Enter("GetDriveTypeA");
    if (!rootPath || !isalpha((unsigned char)rootPath[0]) || rootPath[1] != ':')
        return DRIVE_NO_ROOT_DIR;
    simwin::Drive *drive = simwin::FindDrive(rootPath[0]);
    return drive ? drive->type : DRIVE_NO_ROOT_DIR;
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD creation, DWORD flags, HANDLE templateFile) {
    (void)shareMode, (void)security, (void)flags, (void)templateFile;
    std::string mode;
    bool injected = Enter("CreateFileA", &mode);
    simwin::Handle record;
    record.access = access;
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (IsVolumePath(name)) {
        simwin::Drive *drive = simwin::FindDrive(name[4]);
        record.letter = drive ? drive->letter : 0;
        if (injected)
            SetLastError(FaultError(mode, ERROR_ACCESS_DENIED));
        else if (!drive)
            SetLastError(ERROR_FILE_NOT_FOUND);
        else if (creation != OPEN_EXISTING)
            SetLastError(ERROR_INVALID_PARAMETER);
        else if (drive->open.fails)
            SetLastError(drive->open.error);
        else
            handle = NewHandle(record);
        Event(std::string("CreateFileA ") + name + " " + AccessText(access) + " " +
              (handle != INVALID_HANDLE_VALUE ? "ok"
                                              : "fail " + std::to_string(Current().lastError)));
        return handle;
    }
    const std::vector<simwin::Interface> &interfaces = Current().interfaces;
    for (size_t i = 0; name && i < interfaces.size(); ++i) {
        if (strcasecmp(interfaces[i].path.c_str(), name) != 0)
            continue;
        record.isVolume = false;
        record.interfaceIndex = i;
        if (injected)
            SetLastError(FaultError(mode, ERROR_ACCESS_DENIED));
        else if (interfaces[i].open.fails)
            SetLastError(interfaces[i].open.error);
        else
            handle = NewHandle(record);
        return handle;
    }
    if (name && strncmp(name, "\\\\", 2) != 0)
        return simwin::OpenFileHandle(name, access, creation, injected, mode);
    SetLastError(injected ? FaultError(mode, ERROR_ACCESS_DENIED) : ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

// A failed close still releases the handle: nothing the program could do would free it later.
BOOL CloseHandle(HANDLE handle) {
    std::string mode;
    bool injected = Enter("CloseHandle", &mode);
    simwin::Handle *record = simwin::FindHandle(handle);
    BOOL closed;
    if (!record && simwin::CloseFileOrMutex(handle, injected, mode, &closed))
        return closed;
    if (!record)
        return Fail(ERROR_INVALID_HANDLE);
    simwin::Machine &machine = Current();
    bool isVolume = record->isVolume;
    char letter = record->letter; // the record is gone once the handle is erased
    simwin::Drive *drive = isVolume ? simwin::FindDrive(record->letter) : nullptr;
    (isVolume ? machine.volumeHandles : machine.deviceHandles).erase(handle);
    machine.handles.erase(handle);
    BOOL ok = TRUE;
    if (injected)
        ok = Fail(FaultError(mode, ERROR_INVALID_HANDLE));
    else if (drive && drive->closeFails)
        ok = Fail(ERROR_INVALID_HANDLE);
    if (isVolume)
        Event(std::string("CloseHandle \\\\.\\") + letter + ": " +
              (ok ? "ok" : "fail " + std::to_string(machine.lastError)));
    return ok;
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer,
                     DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    (void)overlapped;
    std::string mode;
    bool injected = Enter("DeviceIoControl", &mode);
    simwin::Handle *handle = simwin::FindHandle(device);
    if (!handle)
        return Fail(ERROR_INVALID_HANDLE);
    simwin::Drive *drive = handle->isVolume ? simwin::FindDrive(handle->letter) : nullptr;
    bool removal = code == FSCTL_LOCK_VOLUME || code == FSCTL_DISMOUNT_VOLUME ||
                   code == IOCTL_STORAGE_MEDIA_REMOVAL || code == IOCTL_STORAGE_EJECT_MEDIA;
    if (removal)
        return drive ? RemovalControl(drive, code, inBuffer, inSize,
                                      injected ? FaultError(mode, ERROR_ACCESS_DENIED) : 0)
                     : Fail(ERROR_INVALID_FUNCTION);
    if (injected)
        return Fail(FaultError(mode, ERROR_ACCESS_DENIED));
    if (code == IOCTL_STORAGE_GET_DEVICE_NUMBER) {
        STORAGE_DEVICE_NUMBER number = {};
        if (drive) {
            if (drive->deviceNumberFails)
                return Fail(ERROR_INVALID_FUNCTION);
            number = {drive->deviceType, drive->deviceNumber, drive->partitionNumber};
        } else {
            const simwin::Interface &source = Current().interfaces[handle->interfaceIndex];
            if (source.deviceNumberFails)
                return Fail(ERROR_INVALID_FUNCTION);
            number = {source.deviceType, source.deviceNumber, 0};
        }
        return Answer(&number, sizeof number, outBuffer, outSize, bytesReturned);
    }
    if (!drive)
        return Fail(ERROR_INVALID_FUNCTION);
    if (code == IOCTL_STORAGE_CHECK_VERIFY2) {
        if (drive->ejected || drive->media == "not_ready")
            return Fail(ERROR_NOT_READY);
        if (drive->media == "fail")
            return Fail(drive->mediaError);
        if (bytesReturned)
            *bytesReturned = 0;
        return TRUE;
    }
    if (code == IOCTL_STORAGE_QUERY_PROPERTY) {
        const STORAGE_PROPERTY_QUERY *query = static_cast<STORAGE_PROPERTY_QUERY *>(inBuffer);
        if (!query || inSize < sizeof(STORAGE_PROPERTY_QUERY) ||
            query->PropertyId != StorageDeviceProperty || query->QueryType != PropertyStandardQuery)
            return Fail(ERROR_INVALID_PARAMETER);
        if (drive->descriptorFails)
            return Fail(ERROR_INVALID_FUNCTION);
        std::string bytes = Descriptor(*drive);
        if (!outBuffer || outSize < 8)
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        size_t copied = bytes.size() < outSize ? bytes.size() : outSize; // the rest is cut off
        memcpy(outBuffer, bytes.data(), copied);
        if (bytesReturned)
            *bytesReturned = (DWORD)copied;
        return TRUE;
    }
    return Fail(ERROR_INVALID_FUNCTION);
}
