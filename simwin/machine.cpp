// simwin's machine: loading machine.ini, planned faults, the event log, the trace, paths, and
// the in-process API for tests.
#include "simwin/media_internal.h"
#include "simwin/simwin_internal.h"
#include "simwin/simwin_test.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <dirent.h>
#include <csignal>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace simwin {
namespace {

Machine *gMachine = nullptr;

// Every operation simwin can fail, by the name [faults] gives it. A fault on any other name
// would quietly test nothing, so it is refused.
const char *const kOperations[] = {"CloseHandle",
                                   "CM_Register_Notification",
                                   "CreateWindowExA",
                                   "GetLogicalDrives",
                                   "LoadLibraryA",
                                   "RegisterClassA",
                                   "CopyFileA",
                                   "CreateFileA",
                                   "CreateMutexExA",
                                   "CreateProcessA",
                                   "ConvertStringSecurityDescriptorToSecurityDescriptorA",
                                   "DeleteFileA",
                                   "DeviceIoControl",
                                   "FindFirstVolumeA",
                                   "FindNextVolumeA",
                                   "FindVolumeClose",
                                   "FlushFileBuffers",
                                   "GetDriveTypeA",
                                   "GetComputerNameA",
                                   "GetExitCodeProcess",
                                   "GetFileAttributesExA",
                                   "GetLogicalDriveStringsA",
                                   "GetModuleFileNameA",
                                   "GetModuleHandleA",
                                   "GetProcAddress",
                                   "GetVolumeInformationA",
                                   "GetWindowsDirectoryA",
                                   "LocalAlloc",
                                   "MoveFileExA",
                                   "NtQueryVolumeInformationFile",
                                   "QueryDosDeviceA",
                                   "ReleaseMutex",
                                   "SetCurrentDirectoryA",
                                   "SetupDiDestroyDeviceInfoList",
                                   "SetupDiEnumDeviceInterfaces",
                                   "SetupDiGetClassDevsA",
                                   "SetupDiGetDeviceInstanceIdA",
                                   "SetupDiGetDeviceInterfaceDetailA",
                                   "SetupDiGetDeviceRegistryPropertyA",
                                   "Sleep",
                                   "WaitForSingleObject",
                                   "WriteFile",
                                   "CM_Get_Device_IDA",
                                   "CM_Get_Parent",
                                   "_commit",
                                   "_findclose",
                                   "_findfirst",
                                   "_findnext",
                                   "calloc",
                                   "fclose",
                                   "fflush",
                                   "fopen",
                                   "fread",
                                   "fwrite",
                                   "malloc",
                                   "realloc"};

// The operations whose fault may be "short": part of the bytes, reported or not.
bool HasShortBehaviour(const std::string &name) {
    return name == "fread" || name == "fwrite" || name == "WriteFile" || name == "IStream::Read" ||
           name == "IStream::Write";
}

bool IsOperation(const std::string &name) {
    for (const char *operation : kOperations)
        if (name == operation)
            return true;
    return IsMediaOperation(name);
}

std::string Trim(const std::string &text) {
    size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return "";
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

bool ParseNumber(const std::string &text, unsigned long long *value) {
    if (text.empty() || text[0] == '-')
        return false;
    errno = 0;
    char *end = nullptr;
    unsigned long long parsed = strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return false;
    *value = parsed;
    return true;
}

bool ParseDword(const std::string &text, DWORD *value) {
    unsigned long long parsed;
    if (!ParseNumber(text, &parsed) || parsed > 0xFFFFFFFFull)
        return false;
    *value = (DWORD)parsed;
    return true;
}

bool ParseOkFail(const std::string &text, bool *fails) {
    if (text == "ok" || text == "fail") {
        *fails = text == "fail";
        return true;
    }
    return false;
}

// "ok" or "fail:<code>" (a bare "fail" means ERROR_ACCESS_DENIED).
bool ParseOutcome(const std::string &text, Outcome *outcome) {
    if (text == "ok") {
        *outcome = Outcome();
        return true;
    }
    if (text == "fail") {
        *outcome = Outcome{true, ERROR_ACCESS_DENIED};
        return true;
    }
    if (text.compare(0, 5, "fail:") == 0) {
        DWORD code;
        if (!ParseDword(text.substr(5), &code))
            return false;
        *outcome = Outcome{true, code};
        return true;
    }
    return false;
}

bool ParseText(const std::string &text, TextProperty *property) {
    property->present = true;
    property->fails = text == "fail";
    property->value = property->fails ? "" : text;
    return true;
}

bool ParseDriveType(const std::string &text, UINT *type) {
    static const std::pair<const char *, UINT> kTypes[] = {
        {"removable", DRIVE_REMOVABLE}, {"fixed", DRIVE_FIXED},     {"remote", DRIVE_REMOTE},
        {"cdrom", DRIVE_CDROM},         {"ramdisk", DRIVE_RAMDISK}, {"unknown", DRIVE_UNKNOWN},
        {"no_root", DRIVE_NO_ROOT_DIR}};
    for (const auto &entry : kTypes) {
        if (text == entry.first) {
            *type = entry.second;
            return true;
        }
    }
    return false;
}

// One key of a [drive X] section; false when the key or its value is not known.
bool SetDriveKey(Drive *drive, const std::string &key, const std::string &value) {
    if (key == "type")
        return ParseDriveType(value, &drive->type);
    if (key == "label")
        return drive->label = value, true;
    if (key == "volume_info")
        return ParseOkFail(value, &drive->volumeInfoFails);
    if (key == "dos_device") {
        drive->dosDeviceFails = value == "fail";
        drive->dosDevice = drive->dosDeviceFails ? "" : value;
        return true;
    }
    if (key == "open")
        return ParseOutcome(value, &drive->open);
    if (key == "media") {
        Outcome outcome;
        if (value == "ready" || value == "not_ready") {
            drive->media = value;
            drive->mediaError = value == "not_ready" ? ERROR_NOT_READY : 0;
            return true;
        }
        if (value.compare(0, 5, "fail:") != 0 || !ParseOutcome(value, &outcome))
            return false;
        drive->media = "fail";
        drive->mediaError = outcome.error;
        return true;
    }
    if (key == "descriptor")
        return ParseOkFail(value, &drive->descriptorFails);
    if (key == "bus_type") {
        DWORD bus;
        return ParseDword(value, &bus) ? (drive->busType = (int)bus, true) : false;
    }
    if (key == "vendor")
        return ParseText(value, &drive->vendor);
    if (key == "product")
        return ParseText(value, &drive->product);
    if (key == "revision")
        return ParseText(value, &drive->revision);
    if (key == "removable_media") {
        DWORD flag;
        return ParseDword(value, &flag) && flag <= 255 ? (drive->removableMedia = (int)flag, true)
                                                       : false;
    }
    if (key == "device_number_query")
        return ParseOkFail(value, &drive->deviceNumberFails);
    if (key == "device_type")
        return ParseDword(value, &drive->deviceType);
    if (key == "device_number")
        return ParseDword(value, &drive->deviceNumber);
    if (key == "partition_number")
        return ParseDword(value, &drive->partitionNumber);
    if (key == "characteristics") {
        drive->characteristicsFail = value == "fail";
        return drive->characteristicsFail || ParseDword(value, &drive->characteristics);
    }
    if (key == "lock_refusals") {
        DWORD count;
        if (value == "always")
            return drive->lockRefusals = -1, true;
        // Past INT_MAX the count would turn into "always".
        return ParseDword(value, &count) && count <= 0x7FFFFFFFu
                   ? (drive->lockRefusals = (int)count, true)
                   : false;
    }
    if (key == "dismount")
        return ParseOkFail(value, &drive->dismountFails);
    if (key == "media_removal")
        return ParseOkFail(value, &drive->mediaRemovalFails);
    if (key == "eject")
        return ParseOkFail(value, &drive->ejectFails);
    if (key == "close")
        return ParseOkFail(value, &drive->closeFails);
    if (key == "free_bytes")
        return ParseNumber(value, &drive->freeBytes);
    return false;
}

// One key of an [interface NAME] section.
bool SetInterfaceKey(Interface *device, const std::string &key, const std::string &value) {
    if (key == "class") {
        device->klass = value;
        return value == "disk" || value == "cdrom" || value == "floppy";
    }
    if (key == "path")
        return device->path = value, true;
    if (key == "open")
        return ParseOutcome(value, &device->open);
    if (key == "device_number_query")
        return ParseOkFail(value, &device->deviceNumberFails);
    if (key == "device_type")
        return ParseDword(value, &device->deviceType);
    if (key == "device_number")
        return ParseDword(value, &device->deviceNumber);
    if (key == "instance_id")
        return device->instanceId = value, true;
    if (key == "removal_policy") {
        device->removalPolicyPresent = true;
        device->removalPolicyFails = value == "fail";
        return device->removalPolicyFails || ParseDword(value, &device->removalPolicy);
    }
    if (key == "setup_class")
        return ParseText(value, &device->setupClass);
    if (key == "friendly_name")
        return ParseText(value, &device->friendlyName);
    if (key == "pdo_name")
        return ParseText(value, &device->pdoName);
    if (key == "description")
        return ParseText(value, &device->description);
    if (key == "parent_id")
        return ParseText(value, &device->parentId);
    if (key == "hardware_ids") {
        device->hardwareIds.present = true;
        device->hardwareIds.fails = value == "fail";
        device->hardwareIds.value.clear();
        if (device->hardwareIds.fails)
            return true;
        std::stringstream list(value);
        std::string item;
        bool first = true;
        while (std::getline(list, item, '|')) {
            item = Trim(item);
            if (item.empty())
                continue;
            if (!first)
                device->hardwareIds.value.push_back('\0');
            device->hardwareIds.value += item;
            first = false;
        }
        return true;
    }
    return false;
}

bool SetMachineKey(Machine *machine, const std::string &key, const std::string &value) {
    if (key == "windows_dir")
        return machine->windowsDir = value, !value.empty();
    if (key == "computer_name")
        return machine->computerName = value,
               !value.empty() && value.size() <= MAX_COMPUTERNAME_LENGTH;
    if (key == "code_page") { // utf-8 (Windows 10 1903 on, as the manifest asks) | 1252 (older)
        machine->codePage = value == "1252" ? 1252u : 65001u;
        return value == "utf-8" || value == "1252";
    }
    if (key == "ntdll") {
        machine->ntdllMissing = value == "missing";
        return value == "ok" || value == "missing";
    }
    if (key == "setupapi")
        return ParseOkFail(value, &machine->setupapiFails);
    if (key == "trace") {
        machine->traceOn = value == "on";
        return value == "on" || value == "off";
    }
    if (key == "wpd")
        return SetWpdKey(machine, value);
    if (key == "cm_notification") {
        machine->cmNotificationMissing = value == "missing";
        return value == "ok" || value == "missing";
    }
    return false;
}

// The operations that write bytes, where a crash can leave half of them written.
bool WritesBytes(const std::string &operation) {
    return operation == "WriteFile" || operation == "CopyFileA" || operation == "IStream::Write";
}

// Whether mode is a way operation can fail: an error code or a failing HRESULT in 32 bits (a
// code that means success would fail nothing), "short" where reads and writes can fall short,
// "crash" anywhere, and "crash_half" (half the bytes written first) where bytes are written.
bool IsFaultMode(const std::string &operation, const std::string &mode) {
    if (mode == "crash" || mode == "power_loss")
        return true;
    if (mode == "crash_half")
        return WritesBytes(operation);
    if (mode == "short")
        return HasShortBehaviour(operation);
    unsigned long long code;
    return ParseNumber(mode, &code) && code != 0 && code <= 0xFFFFFFFFull &&
           (!IsMediaOperation(operation) || code >= 0x80000000ull);
}

// "1, 3:short, 5:21, 7:crash, 9:power_loss": the calls to fail and how.
bool SetFaultKey(Machine *machine, const std::string &operation, const std::string &value) {
    if (!IsOperation(operation))
        return false;
    std::stringstream list(value);
    std::string item;
    std::vector<Fault> planned;
    while (std::getline(list, item, ',')) {
        item = Trim(item);
        Fault fault;
        size_t colon = item.find(':');
        unsigned long long nth;
        if (!ParseNumber(item.substr(0, colon), &nth) || nth == 0 || nth > 1000000000ull)
            return false;
        fault.nth = (int)nth;
        if (colon != std::string::npos) {
            fault.mode = Trim(item.substr(colon + 1));
            if (!IsFaultMode(operation, fault.mode))
                return false;
        }
        planned.push_back(fault);
    }
    if (planned.empty())
        return false;
    auto &faults = machine->faults[operation];
    faults.insert(faults.end(), planned.begin(), planned.end());
    return true;
}

bool IsDirectory(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Parses machine.ini into machine; false with a message naming the line on any error.
bool ParseIni(const std::string &iniPath, Machine *machine, std::string *error) {
    struct stat link;
    if (lstat(iniPath.c_str(), &link) != 0 && errno == ENOENT)
        return true; // no machine.ini: the default machine
    struct stat info;
    if (stat(iniPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        // A folder, a dangling link or anything unreadable would run the default machine in
        // place of the one described.
        *error = "machine.ini is not a readable file";
        return false;
    }
    std::ifstream in(iniPath);
    if (!in) {
        *error = "machine.ini cannot be read";
        return false;
    }
    std::string raw, section;
    Drive *drive = nullptr;
    Interface *device = nullptr;
    int number = 0;
    std::vector<Drive> drives;
    // The keys each [machine] and [media] section has given: a second value would quietly
    // replace the first. (A [faults] line adds faults; the drive tests build [drive] and
    // [interface] sections by giving a default first and its replacement after.)
    std::map<std::string, std::set<std::string>> given;
    std::string sectionName;
    auto fail = [&](const std::string &what) {
        *error = "machine.ini:" + std::to_string(number) + ": " + what;
        return false;
    };
    while (std::getline(in, raw)) {
        ++number;
        // A comment is a line of its own: a ';' inside a value is part of the value.
        std::string line = Trim(raw);
        if (line.empty() || line[0] == ';')
            continue;
        if (line.front() == '[') {
            if (line.back() != ']')
                return fail("unclosed section header");
            std::string header = Trim(line.substr(1, line.size() - 2));
            drive = nullptr;
            device = nullptr;
            sectionName = header;
            if (header == "machine" || header == "faults") {
                section = header;
            } else if (header.compare(0, 6, "drive ") == 0) {
                std::string letter = Trim(header.substr(6));
                if (letter.size() != 1 || !isalpha((unsigned char)letter[0]))
                    return fail("a drive section names one letter: [drive E]");
                char upper = (char)toupper((unsigned char)letter[0]);
                for (const Drive &other : drives)
                    if (other.letter == upper)
                        return fail("drive " + letter + " is described twice");
                section = "drive";
                drives.push_back(Drive());
                drive = &drives.back();
                drive->letter = upper;
            } else if (header.compare(0, 6, "media ") == 0) {
                section = "media";
                std::string why;
                if (!AddMediaDevice(machine, Trim(header.substr(6)), number, &why))
                    return fail(why);
            } else if (header.compare(0, 10, "interface ") == 0) {
                section = "interface";
                machine->interfaces.push_back(Interface());
                device = &machine->interfaces.back();
                device->name = Trim(header.substr(10));
            } else {
                return fail("unknown section [" + header + "]");
            }
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos)
            return fail("expected key = value");
        std::string key = Trim(line.substr(0, equals));
        std::string value = Trim(line.substr(equals + 1));
        if ((section == "machine" || section == "media") && !given[sectionName].insert(key).second)
            return fail(key + " is given twice in [" + sectionName + "]");
        bool known = false;
        if (section == "machine")
            known = SetMachineKey(machine, key, value);
        else if (section == "drive")
            known = SetDriveKey(drive, key, value);
        else if (section == "interface")
            known = SetInterfaceKey(device, key, value);
        else if (section == "faults")
            known = SetFaultKey(machine, key, value);
        else if (section == "media")
            known = SetMediaKey(machine, key, value, number);
        else
            return fail("key outside any section");
        if (!known)
            return fail("unknown key or bad value: " + key + " = " + value);
    }
    std::string why;
    if (!CheckMediaDevices(*machine, &number, &why))
        return fail(why);
    machine->drives = drives;
    return true;
}

// Completes the drive list: a fixed C: unless described, letter order, default names.
void CompleteDrives(Machine *machine) {
    bool hasC = false;
    for (const Drive &drive : machine->drives)
        hasC = hasC || drive.letter == 'C';
    if (!hasC) {
        Drive c;
        c.letter = 'C';
        c.type = DRIVE_FIXED;
        c.deviceNumber = 0;
        machine->drives.push_back(c);
    }
    std::sort(machine->drives.begin(), machine->drives.end(),
              [](const Drive &a, const Drive &b) { return a.letter < b.letter; });
    int index = 0;
    for (Drive &drive : machine->drives) {
        ++index;
        if (drive.dosDevice.empty() && !drive.dosDeviceFails)
            drive.dosDevice = "\\Device\\HarddiskVolume" + std::to_string(index);
        mkdir((machine->folder + "/" + std::string(1, drive.letter)).c_str(), 0755);
    }
}

void AppendToFile(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::app | std::ios::binary);
    out << text;
}

} // namespace

// At the end of a run of the host build: one line per kind of thing the program still holds,
// to events.log and stderr, so that whole runs catch a leak. The exit code stays as it was.
void ReportHeldAtExit() {
    if (!gMachine)
        return;
    Held held = HeldNow();
    const std::pair<int, const char *> kinds[] = {
        {held.heapBlocks, "heap blocks"},
        {held.files, "open files"},
        {held.findHandles, "listings"},
        {held.volumeHandles, "volume handles"},
        {held.deviceHandles, "device handles"},
        {held.deviceInfoSets, "device information sets"},
        {held.volumeSearches, "volume searches"},
        {held.fileHandles, "file handles"},
        {held.mutexHandles, "mutex handles"},
        {held.comReferences, "COM references"},
        {held.taskMemory, "COM memory blocks"},
        {held.comInitialisations, "COM initialisations"},
        {held.notifications, "notification registrations"},
        {held.windows, "windows"},
    };
    for (const auto &kind : kinds) {
        if (kind.first == 0)
            continue;
        std::string line = "held at exit: " + std::to_string(kind.first) + " " + kind.second;
        Event(line);
        fprintf(stderr, "simwin: %s\n", line.c_str());
    }
}

Machine &Current() {
    if (!gMachine) {
        const char *folder = getenv("VELLUMTRANSIT_MACHINE");
        if (!folder || !*folder) {
            fprintf(stderr, "simwin: VELLUMTRANSIT_MACHINE is not set; using ./machine\n");
            folder = "./machine";
        }
        std::string error;
        if (!LoadMachine(folder, &error)) {
            fprintf(stderr, "simwin: %s\n", error.c_str());
            exit(2);
        }
        atexit(ReportHeldAtExit); // a program's machine, not a test's: its run ends with exit
    }
    return *gMachine;
}

bool Enter(const char *operation, std::string *mode) {
    if (!IsOperation(operation)) {
        fprintf(stderr, "simwin: %s is missing from the operations that faults may name\n",
                operation);
        abort();
    }
    Machine &machine = Current();
    int call = ++machine.calls[operation];
    auto found = machine.faults.find(operation);
    if (found == machine.faults.end())
        return false;
    for (const Fault &fault : found->second) {
        if (fault.nth == call) {
            if (fault.mode == "crash")
                Crash(operation);
            if (fault.mode == "power_loss")
                PowerLoss(operation);
            if (mode)
                *mode = fault.mode;
            return true;
        }
    }
    return false;
}

void Crash(const std::string &operation) {
    Event("crash at " + operation);
    // As a kill would: no buffer is flushed, nothing is released, a held mutex is abandoned.
    raise(SIGKILL);
    abort(); // not reached
}

DWORD FaultError(const std::string &mode, DWORD fallback) {
    unsigned long long code;
    if (!mode.empty() && ParseNumber(mode, &code) && code <= 0xFFFFFFFFull)
        return (DWORD)code;
    return fallback;
}

void Event(const std::string &line) {
    Machine &machine = Current();
    machine.events.push_back(line);
    AppendToFile(machine.folder + "/events.log", line + "\n");
}

Drive *FindDrive(char letter) {
    char upper = (char)toupper((unsigned char)letter);
    for (Drive &drive : Current().drives)
        if (drive.letter == upper)
            return &drive;
    return nullptr;
}

bool AbsolutePath(const std::string &windowsPath, std::string *absolute) {
    const Machine &machine = Current();
    if (windowsPath.empty() || windowsPath.compare(0, 2, "\\\\") == 0 ||
        windowsPath.compare(0, 2, "//") == 0)
        return false;
    std::string path;
    if (windowsPath.size() >= 2 && isalpha((unsigned char)windowsPath[0]) && windowsPath[1] == ':')
        path = windowsPath.substr(0, 2) + "\\" + windowsPath.substr(2);
    else if (windowsPath[0] == '\\' || windowsPath[0] == '/')
        path = machine.currentDirectory.substr(0, 2) + windowsPath;
    else
        path = machine.currentDirectory + "\\" + windowsPath;
    std::vector<std::string> parts;
    std::string part;
    std::string rest = path.substr(3);
    std::replace(rest.begin(), rest.end(), '/', '\\');
    std::stringstream components(rest);
    while (std::getline(components, part, '\\')) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    *absolute = std::string(1, (char)toupper((unsigned char)path[0])) + ":\\";
    for (size_t i = 0; i < parts.size(); ++i)
        *absolute += (i ? "\\" : "") + parts[i];
    return true;
}

bool HostPathOf(const std::string &absolute, std::string *hostPath) {
    Drive *drive = FindDrive(absolute[0]);
    if (!drive || drive->ejected)
        return false;
    std::string host = Current().folder + "/" + std::string(1, drive->letter);
    std::stringstream components(absolute.substr(3));
    std::string part;
    while (std::getline(components, part, '\\')) {
        if (part.empty())
            continue;
        std::string match = part;
        struct stat exact;
        if (lstat((host + "/" + part).c_str(), &exact) == 0) {
            host += "/" + part; // the common case needs no search of the folder
            continue;
        }
        if (DIR *dir = opendir(host.c_str())) {
            while (dirent *entry = readdir(dir)) {
                if (strcasecmp(entry->d_name, part.c_str()) == 0) {
                    match = entry->d_name;
                    break;
                }
            }
            closedir(dir);
        }
        host += "/" + match;
    }
    *hostPath = host;
    return true;
}

std::string BaseName(const std::string &windowsPath) {
    size_t slash = windowsPath.find_last_of("\\/:");
    return slash == std::string::npos ? windowsPath : windowsPath.substr(slash + 1);
}

void AddArrivedMediaDevices(Machine &machine) {
    Machine fresh;
    fresh.folder = machine.folder;
    std::string error;
    // A file with a mistake teaches nothing; the one loaded stays as it was.
    if (!ParseIni(machine.folder + "/machine.ini", &fresh, &error) || !fresh.media)
        return;
    if (!machine.media)
        machine.media = std::make_shared<MediaState>();
    for (const MediaDevice &device : fresh.media->devices) {
        bool known = false;
        for (const MediaDevice &listed : machine.media->devices)
            known = known || strcasecmp(listed.name.c_str(), device.name.c_str()) == 0;
        if (!known)
            machine.media->devices.push_back(device);
    }
}

// ---- The in-process API ------------------------------------------------------------------

bool LoadMachine(const std::string &folder, std::string *error) {
    UnloadMachine();
    if (!IsDirectory(folder)) {
        *error = "no machine folder at " + folder;
        return false;
    }
    Machine *machine = new Machine();
    machine->folder = folder;
    if (!ParseIni(folder + "/machine.ini", machine, error)) {
        delete machine;
        return false;
    }
    CompleteDrives(machine);
    ForgetUncommittedObjects(*machine);
    gMachine = machine;
    return true;
}

void UnloadMachine() {
    delete gMachine;
    gMachine = nullptr;
}

std::vector<std::string> Events() {
    return Current().events;
}

std::string TraceText() {
    return Current().trace;
}

std::map<std::string, int> CallCounts() {
    return Current().calls;
}

void SetFault(const std::string &operation, int nth, const std::string &mode) {
    if (!IsOperation(operation)) {
        fprintf(stderr, "simwin: no operation %s to fail\n", operation.c_str());
        abort();
    }
    Current().faults[operation].push_back(Fault{nth, mode});
}

Held HeldNow() {
    const Machine &machine = Current();
    Held held;
    held.heapBlocks = (int)machine.heapBlocks.size();
    held.files = (int)machine.files.size();
    held.findHandles = (int)machine.findHandles.size();
    held.volumeHandles = (int)machine.volumeHandles.size();
    held.deviceHandles = (int)machine.deviceHandles.size();
    held.deviceInfoSets = (int)machine.deviceInfoSets.size();
    held.volumeSearches = (int)machine.volumeSearches.size();
    held.fileHandles = (int)machine.fileHandles.size();
    held.mutexHandles = (int)machine.mutexHandles.size();
    held.processHandles = ProcessHandlesHeld();
    CountMediaHeld(machine, &held);
    CountArrivalHeld(&held);
    return held;
}

std::string HostPath(const std::string &windowsPath) {
    std::string absolute, host;
    if (!AbsolutePath(windowsPath, &absolute) || !HostPathOf(absolute, &host))
        return "";
    return host;
}

unsigned long long ClockMilliseconds() {
    return Current().clock;
}

} // namespace simwin

void GetLocalTime(SYSTEMTIME *time) {
    const time_t kFirstMorning = 1730799000; // Tuesday 5 November 2024, 09:30:00
    unsigned long long clock = simwin::Current().clock;
    time_t now = kFirstMorning + (time_t)(clock / 1000);
    struct tm fields;
    gmtime_r(&now, &fields);
    time->wYear = (WORD)(fields.tm_year + 1900);
    time->wMonth = (WORD)(fields.tm_mon + 1);
    time->wDayOfWeek = (WORD)fields.tm_wday;
    time->wDay = (WORD)fields.tm_mday;
    time->wHour = (WORD)fields.tm_hour;
    time->wMinute = (WORD)fields.tm_min;
    time->wSecond = (WORD)fields.tm_sec;
    time->wMilliseconds = (WORD)(clock % 1000);
}

void SimDebugTraceSink(const char *text) {
    simwin::Machine &machine = simwin::Current();
    machine.trace += text;
    if (machine.traceOn)
        simwin::AppendToFile(machine.folder + "/trace.log", text);
}
