#include "tests/support/runs.h"

#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

#include "driver/run.h"

std::string DriveEreader(const std::string &driveKeys) {
    return "[drive E]\ntype = removable\nvendor = Kindle\nbus_type = 7\ndevice_number = 1\n" +
           driveKeys +
           "[interface reader]\npath = \\\\?\\usbstor#disk&ven_r#1#{53f56307-b6bf-11d0-94f2-"
           "00a0c91efb8b}\ndevice_number = 1\ninstance_id = USBSTOR\\DISK&VEN_R\\1\n"
           "removal_policy = 3\nparent_id = USB\\VID_0AB1&PID_0C22\\1\n";
}

// The scan bytes differ in length, and each page ends at its own length with the end marker,
// so no page is a part of another.
std::string JobPage(int page) {
    return SyntheticJpeg(1275, 1650, 3, 100 + page);
}

std::string JobPagePath(int page) {
    return std::string(kSpool) + "\\VellumTransit" + std::to_string(page) + ".jpg";
}

std::string RunProgram() {
    int code = -1;
    std::string transcript = CaptureStdout([&] { code = RunVellumTransit(); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(simwin::HeldNow().Total(), 0) << transcript;
    return transcript;
}

bool RunKilledAt(const std::string &folder, const std::string &operation, int nth,
                 const std::string &mode, void (*body)()) {
    fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        if (!freopen("/dev/null", "w", stdout))
            _exit(3);
        simwin::SetFault(operation, nth, mode);
        if (body)
            body();
        else
            RunVellumTransit();
        _exit(0);
    }
    int status = 0;
    bool killed = child > 0 && waitpid(child, &status, 0) == child && WIFSIGNALED(status) &&
                  WTERMSIG(status) == SIGKILL;
    std::string error;
    EXPECT_TRUE(simwin::LoadMachine(folder, &error)) << error;
    return killed;
}

int Occurrences(const std::string &bytes, const std::string &text) {
    int count = 0;
    for (size_t at = bytes.find(text); at != std::string::npos; at = bytes.find(text, at + 1))
        ++count;
    return count;
}

std::map<std::string, std::string> HostFiles(const std::string &folder) {
    std::map<std::string, std::string> files;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(folder, error))
        if (entry.is_regular_file())
            files[entry.path().filename().string()] = ReadHostFile(entry.path().string());
    return files;
}

bool IsWholePdf(const std::string &bytes) {
    return bytes.compare(0, 9, "%PDF-1.3\r") == 0 && bytes.size() > 16 &&
           bytes.compare(bytes.size() - 7, 7, "%%EOF\r\n") == 0;
}
