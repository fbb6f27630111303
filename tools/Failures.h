// The program's exit codes, one per kind of failure, and the reasons it adds
// to the library's messages (which stay as they are).
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

#include "quorlink/core/QuorCustomTransport.h"
#include "quorlink/platform/Types.h"

namespace quorlink::tools {

enum ExitCode : int {
  kExitOk = 0,
  kExitFailed = 1,    // the link failed or lost bytes, or another failure
  kExitUsage = 2,     // a bad command line
  kExitNotFound = 3,  // no such port, device, radio or service
  kExitBusy = 4,      // in use by another program, or not permitted
  kExitRefused = 5,   // the device refused the line settings, the peer the link
};

// The table above as --help shows it.
extern const char* const kExitCodeHelp;

struct Failure {
  int code;
  std::string reason;  // what the program adds to the library's message
};

// Why a serial port did not open, from the kind and code of the library's
// exception; settings is what was asked for, as LineSettingsText gives.
Failure SerialOpenFailure(TQuorErrorKind kind, DWORD error, const std::string& settings);
// "115200 baud, 7E2": the rate, data bits, parity letter and stop bits.
std::string LineSettingsText(DWORD baud, int dataBits, int parity, int stopBits);

// The kind of failure a system error code (Win32 or Winsock) stands for.
int ExitCodeForError(DWORD error);
// The exit code for an exception that ends a command.
int ExitCodeFor(const std::exception& e);

// An exception as one line: an OS error's own text (with its code only when
// verbose), anything else its message with the line breaks joined.
std::string FailureText(const std::exception& e);
// --verbose, anywhere on the command line.
void SetVerbose(bool verbose);

}  // namespace quorlink::tools
