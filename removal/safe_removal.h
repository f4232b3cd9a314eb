// Safe removal of a drive: opens the drive's volume, locks it (asking again, with pauses, while
// the lock is refused), dismounts its file system, allows media removal and ejects the media,
// closes the volume and, when the media can be taken out, says so on the console. Delivery
// calls only SafelyRemoveDrive; the steps are declared for the tests. A volume handle is a Win32
// HANDLE, written here as void * so that this header needs no platform include.
#pragma once

// Removes the drive safely and prints the outcome. Returns 1 when the volume was opened and
// closed again, whatever the steps between did; 0 when the open or the close failed.
int SafelyRemoveDrive(char driveLetter);

// Prints the drive type and opens the drive's volume with the access its type allows. Returns
// the handle, or INVALID_HANDLE_VALUE after printing the error.
void *OpenDriveVolume(char driveLetter);

// Closes the volume, which also ends its lock. Non-zero when closed.
int CloseDriveVolume(void *volume);

// Locks the volume, trying up to 20 times with a 500 ms pause after each refusal. 1 when
// locked, 0 when every attempt was refused.
int LockDriveVolume(void *volume);

// Dismounts the volume's file system. Non-zero when dismounted.
int DismountDriveVolume(void *volume);

// Sets (prevent non-zero) or lifts (prevent 0) the prevention of media removal. Non-zero when
// the device accepted it.
int SetMediaRemovalPrevention(void *volume, unsigned char prevent);

// Asks the device to eject its media. Non-zero when ejected.
int EjectDriveMedia(void *volume);

// Prints "Error <code>: <operation>" with the last error code of the calling thread.
void ReportLastError(const char *operation);
