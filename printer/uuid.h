// printer-uuid: a name-based UUID (RFC 4122 version 5, SHA-1) of this computer's name, so that
// a printer keeps its identity across restarts and ports on one machine, and two machines'
// printers differ.
#pragma once

#include <string>

// The "urn:uuid:..." of name in the printer's own namespace.
std::string NameBasedUuid(const std::string &name);

// The version 5 UUID of name in namespace (16 bytes), as "xxxxxxxx-xxxx-...".
std::string Uuid5(const unsigned char *space, const std::string &name);

// This machine's printer-uuid, from its computer name (GetComputerNameA; an empty name when
// that fails).
std::string MachinePrinterUuid();
