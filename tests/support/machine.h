// Test support: a fresh simulated machine per test, files in it, synthetic JPEGs, and the
// check that nothing is held when a test ends.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simwin/simwin_test.h"

// The spool directory of the default machine.
extern const char kSpool[];

// A fixture whose machine lives in a folder of its own, made anew for every test.
class MachineTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override; // checks that the program holds nothing, then forgets the machine

    // Writes machine.ini (when ini is not empty) and loads the machine; fails the test if the
    // machine does not load. Creates the spool directory unless told not to.
    void Load(const std::string &ini = "", bool makeSpool = true);

    void WriteFile(const std::string &windowsPath, const std::string &bytes);
    std::string ReadFile(const std::string &windowsPath);
    bool Exists(const std::string &windowsPath);
    void MakeDirectory(const std::string &windowsPath);
    // The names in a Windows folder, sorted by byte value.
    std::vector<std::string> List(const std::string &windowsPath);
    // What is left in the spool but the printer's last job number, which stays for good.
    std::vector<std::string> SpoolLeft();

    std::string folder; // the machine folder on the host
};

// A baseline JFIF JPEG header with the given frame, followed by scan bytes: enough for the
// probe and the builder (it is not meant to be decoded).
std::string SyntheticJpeg(int width, int height, int components = 3, size_t scanBytes = 200);

// Runs fn with stdout captured and returns what it printed.
template <typename Fn> std::string CaptureStdout(Fn fn) {
    fflush(stdout);
    ::testing::internal::CaptureStdout();
    fn();
    fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

// Reads a whole host file ("" when missing).
std::string ReadHostFile(const std::string &path);
