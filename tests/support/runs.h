// Whole runs in-process: a drive e-reader, the pages of a job, a run with its console captured,
// a run killed part way, and where each page of the job ended up.
#pragma once

#include "tests/support/machine.h"

// An e-reader drive at E:; driveKeys go into its drive section.
std::string DriveEreader(const std::string &driveKeys = "");

// Page n of a job (1275 x 1650): bytes that no other page contains, so copies can be counted.
std::string JobPage(int page);
std::string JobPagePath(int page);

// Runs the program once with its console captured; expects exit code 0 and nothing held.
std::string RunProgram();

// Runs the program (or body) in a child process that is killed at the nth call of operation
// (mode "crash", "crash_half" or "power_loss"); the machine is then loaded again from its
// folder. True when the child died there.
bool RunKilledAt(const std::string &folder, const std::string &operation, int nth,
                 const std::string &mode, void (*body)() = nullptr);

// How often text occurs in bytes.
int Occurrences(const std::string &bytes, const std::string &text);

// The files of a host folder, by name, with their bytes ({} when there is no folder).
std::map<std::string, std::string> HostFiles(const std::string &folder);

// Whether bytes are a whole PDF as the program writes them (header and end marker).
bool IsWholePdf(const std::string &bytes);
