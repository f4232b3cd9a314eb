// libFuzzer target for the texts that the drive scan reads out of what devices report: storage
// descriptors, hardware identifier lists, text property values and device identifiers, each
// through the same function that reads it in the scan.
//
// Input: one byte choosing the reader, four bytes of reported size (little-endian), then the
// bytes themselves, copied into a heap block of exactly their own size so that reading one byte
// past them is a sanitizer error.
#include "simwin/simwin_test.h"

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "discovery/device_diagnostics.h"
#include "discovery/drive_scan.h"

namespace {

std::string gMachineFolder;
int gRuns = 0;

// The diagnostic lines go to the simulated machine; a fresh one now and then keeps its trace
// from growing without end.
void FreshMachine() {
    std::string error;
    if (!simwin::LoadMachine(gMachineFolder, &error)) {
        fprintf(stderr, "fuzz_descriptor_texts: %s\n", error.c_str());
        abort();
    }
}

// Removes the machine folder (only its drive C folder is ever made in it).
void RemoveMachine() {
    simwin::UnloadMachine();
    rmdir((gMachineFolder + "/C").c_str());
    rmdir(gMachineFolder.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    (void)argc, (void)argv;
    char folder[] = "/tmp/fuzz_descriptor_texts.XXXXXX";
    if (!mkdtemp(folder))
        abort();
    gMachineFolder = folder;
    FreshMachine();
    atexit(RemoveMachine);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 6 || size > 65536)
        return 0;
    if (++gRuns % 1000 == 0)
        FreshMachine();
    DWORD reported =
        (DWORD)data[1] | (DWORD)data[2] << 8 | (DWORD)data[3] << 16 | (DWORD)data[4] << 24;
    std::vector<char> bytes(data + 5, data + size);
    DWORD count = (DWORD)bytes.size();
    switch (data[0] % 4) {
    case 0: { // a descriptor of which only the reported bytes were returned
        int removable = 0;
        int match =
            ReadStorageDescriptor(bytes.data(), reported < count ? reported : count, &removable);
        if ((match != 0 && match != 1) || (removable != 0 && removable != 1))
            abort();
        char text[16];
        if (CopyDescriptorText(bytes.data(), count, reported, text, sizeof text) &&
            memchr(text, '\0', sizeof text) == nullptr)
            abort(); // a copied text always ends inside its buffer
        break;
    }
    case 1:
        TraceHardwareIdList(bytes.data(), reported, count);
        break;
    case 2:
        TraceTextProperty("%s", bytes.data(), reported, count);
        break;
    default: // an identifier as the configuration manager hands it back: a text
        TraceHardwareIdParts(std::string(bytes.data(), bytes.size()).c_str());
        break;
    }
    return 0;
}
