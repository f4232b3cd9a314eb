// The printer as a whole: one instance per machine, the spool folder, the HTTP server and the
// spool thread, and each IPP request checked and handed to its operation.
#pragma once

#include <string>

const int kDefaultPort = 8631;
const int kDefaultClientTimeoutSeconds = 60;

// Serves until the process is stopped, logging each request to logPath unless it is empty.
// Returns the exit code: 1 when another printer runs on this machine, the spool folder is
// missing, the log cannot be opened or the port cannot be had (each said on stderr).
int RunPrinterService(int port, int clientTimeoutSeconds, const std::string &logPath);
