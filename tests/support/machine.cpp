#include "tests/support/machine.h"

#include "common/spool_contract.h"

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

const char kSpool[] = "C:\\Windows\\VellumTransit";

namespace {

void MakeHostDirectories(const std::string &path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
    mkdir(path.c_str(), 0755);
}

void RemoveTree(const std::string &path) {
    std::string command = "rm -rf '" + path + "'";
    if (system(command.c_str()) != 0)
        ADD_FAILURE() << "could not remove " << path;
}

} // namespace

void MachineTest::SetUp() {
    const char *base = getenv("VT_TEST_TMP");
    std::string root = base && *base ? base : "/tmp/vellumtransit-tests";
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    folder = root + "/" + name;
    RemoveTree(folder);
    MakeHostDirectories(folder);
}

void MachineTest::TearDown() {
    simwin::Held held = simwin::HeldNow();
    EXPECT_EQ(held.Total(), 0) << "held at the end: heap " << held.heapBlocks << ", files "
                               << held.files << ", searches " << held.findHandles << ", volumes "
                               << held.volumeHandles << ", devices " << held.deviceHandles
                               << ", device sets " << held.deviceInfoSets << ", volume searches "
                               << held.volumeSearches << ", file handles " << held.fileHandles
                               << ", mutexes " << held.mutexHandles << ", processes "
                               << held.processHandles << ", COM references " << held.comReferences
                               << ", COM memory " << held.taskMemory << ", COM initialisations "
                               << held.comInitialisations;
    simwin::UnloadMachine();
    if (!HasFailure())
        RemoveTree(folder);
}

void MachineTest::Load(const std::string &ini, bool makeSpool) {
    if (!ini.empty())
        std::ofstream(folder + "/machine.ini") << ini;
    std::string error;
    ASSERT_TRUE(simwin::LoadMachine(folder, &error)) << error;
    if (makeSpool)
        MakeDirectory(kSpool);
}

void MachineTest::WriteFile(const std::string &windowsPath, const std::string &bytes) {
    std::string host = simwin::HostPath(windowsPath);
    ASSERT_FALSE(host.empty()) << windowsPath;
    MakeHostDirectories(host.substr(0, host.find_last_of('/')));
    std::ofstream(host, std::ios::binary) << bytes;
}

std::string MachineTest::ReadFile(const std::string &windowsPath) {
    return ReadHostFile(simwin::HostPath(windowsPath));
}

bool MachineTest::Exists(const std::string &windowsPath) {
    struct stat info;
    std::string host = simwin::HostPath(windowsPath);
    return !host.empty() && stat(host.c_str(), &info) == 0;
}

void MachineTest::MakeDirectory(const std::string &windowsPath) {
    std::string host = simwin::HostPath(windowsPath);
    ASSERT_FALSE(host.empty()) << windowsPath;
    MakeHostDirectories(host);
}

std::vector<std::string> MachineTest::List(const std::string &windowsPath) {
    std::vector<std::string> names;
    if (DIR *dir = opendir(simwin::HostPath(windowsPath).c_str())) {
        while (dirent *entry = readdir(dir))
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> MachineTest::SpoolLeft() {
    std::vector<std::string> names = List(kSpool);
    names.erase(std::remove(names.begin(), names.end(), std::string(kJobNumberName)), names.end());
    return names;
}

std::string SyntheticJpeg(int width, int height, int components, size_t scanBytes) {
    std::string jpeg = {'\xFF', '\xD8'};
    auto segment = [&](unsigned char marker, const std::string &body) {
        size_t length = body.size() + 2;
        jpeg += '\xFF';
        jpeg += (char)marker;
        jpeg += (char)(length >> 8);
        jpeg += (char)(length & 0xFF);
        jpeg += body;
    };
    segment(0xE0, std::string("JFIF\0\x01\x01\x00\x00\x48\x00\x48\x00\x00", 14));
    segment(0xDB, std::string(65, '\x01'));
    std::string frame = {8,
                         (char)(height >> 8),
                         (char)(height & 0xFF),
                         (char)(width >> 8),
                         (char)(width & 0xFF),
                         (char)components};
    for (int c = 0; c < components; ++c)
        frame += std::string{(char)(c + 1), 0x11, 0};
    segment(0xC0, frame);
    std::string scan = {(char)components};
    for (int c = 0; c < components; ++c)
        scan += std::string{(char)(c + 1), 0};
    scan += std::string{0, 63, 0};
    segment(0xDA, scan);
    for (size_t i = 0; i < scanBytes; ++i)
        jpeg += (char)(0x20 + i % 64);
    jpeg += "\xFF\xD9";
    return jpeg;
}

std::string ReadHostFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}
