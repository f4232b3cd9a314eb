#include "common/win32.h"

#include "removal/safe_removal.h"

namespace {

enum {
    kLockAttempts = 20,
    kLockPauseMilliseconds = 500,
    kDrivePathSize = 8, // "E:\" or "\\.\E:" and the terminator
};

// Sends one control code without output buffer and without overlapped structure, so that
// the call has completed when it returns. Non-zero on success.
BOOL SendVolumeControl(HANDLE volume, DWORD code, void *input, DWORD inputSize) {
    DWORD bytesReturned = 0; // required by the call, never examined
    return DeviceIoControl(volume, code, input, inputSize, NULL, 0, &bytesReturned, NULL);
}

} // namespace

// The code is fetched before printing, which may itself change it.
void ReportLastError(const char *operation) {
    DWORD code = GetLastError();
    printf("Error %d: %s\n", (int)code, operation);
}

// CD-ROM volumes cannot be opened for writing; every other drive type is opened read/write,
// which locking and ejecting need.
void *OpenDriveVolume(char driveLetter) {
    char rootPath[kDrivePathSize];
    wsprintfA(rootPath, "%c:\\", driveLetter);
    printf("Get drive type...\n");
    UINT driveType = GetDriveTypeA(rootPath);
    printf("%s", rootPath);
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    if (driveType == DRIVE_REMOVABLE) {
        printf(" - Removable\r\n");
    } else if (driveType == DRIVE_CDROM) {
        printf(" - CDROM\r\n");
        access = GENERIC_READ;
    } else {
        printf(" - Other\r\n");
    }

    char volumePath[kDrivePathSize];
    wsprintfA(volumePath, "\\\\.\\%c:", driveLetter);
    HANDLE volume = CreateFileA(volumePath, access, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, 0, NULL);
    if (volume == INVALID_HANDLE_VALUE)
        ReportLastError("CreateFile");
    return volume;
}

// Closing is the only release of the volume lock.
int CloseDriveVolume(void *volume) {
    return CloseHandle(volume);
}

// Another program may hold files open on the volume for a moment, so a refusal is retried;
// the pause follows every refusal, the last one included.
int LockDriveVolume(void *volume) {
    for (int attempt = 0; attempt < kLockAttempts; attempt++) {
        if (SendVolumeControl(volume, FSCTL_LOCK_VOLUME, NULL, 0))
            return 1;
        Sleep(kLockPauseMilliseconds);
    }
    return 0;
}

// Only ever sent while the volume is locked, so no one else has files open on it.
int DismountDriveVolume(void *volume) {
    return SendVolumeControl(volume, FSCTL_DISMOUNT_VOLUME, NULL, 0);
}

// The device takes the setting as a one-byte record.
int SetMediaRemovalPrevention(void *volume, unsigned char prevent) {
    PREVENT_MEDIA_REMOVAL removal;
    removal.PreventMediaRemoval = prevent;
    return SendVolumeControl(volume, IOCTL_STORAGE_MEDIA_REMOVAL, &removal, sizeof removal);
}

// Tried once; a device that refuses leaves its media in place.
int EjectDriveMedia(void *volume) {
    return SendVolumeControl(volume, IOCTL_STORAGE_EJECT_MEDIA, NULL, 0);
}

// Each step runs only when the one before it succeeded; the volume is closed on every way out
// once it was opened. The outcome is printed only after a successful close, and only when the
// file system was at least locked and dismounted, since only then nothing can still be written.
int SafelyRemoveDrive(char driveLetter) {
    HANDLE volume = OpenDriveVolume(driveLetter);
    if (volume == INVALID_HANDLE_VALUE)
        return 0;

    int removalReady = 0;
    int ejected = 0;
    if (LockDriveVolume(volume) && DismountDriveVolume(volume)) {
        removalReady = 1;
        if (SetMediaRemovalPrevention(volume, 0) && EjectDriveMedia(volume))
            ejected = 1;
    }

    if (!CloseDriveVolume(volume))
        return 0;
    if (ejected)
        printf("Media in Drive %c has been ejected safely.\n", driveLetter);
    else if (removalReady)
        printf("Media in Drive %c can be safely removed.\n", driveLetter);
    return 1;
}
