#include "tools/Failures.h"

#include <cerrno>
#include <system_error>

#include "platform/Winsock.h"
#include "quorlink/core/SysUtils.h"

namespace quorlink::tools {

const char* const kExitCodeHelp =
    "Exit codes: 0 done; 1 the link failed or lost bytes; 2 bad command line;\n"
    "3 no such port, device or service; 4 in use by another program or not permitted;\n"
    "5 the device refused the line settings, or the peer refused the link.";

std::string LineSettingsText(DWORD baud, int dataBits, int parity, int stopBits) {
  static const char kParity[] = "NOEMS";
  static const char* const kStop[] = {"1", "1.5", "2"};
  std::string text = std::to_string(baud) + " baud, " + std::to_string(dataBits);
  text += parity >= 0 && parity < 5 ? kParity[parity] : '?';
  text += stopBits >= 0 && stopBits < 3 ? kStop[stopBits] : "?";
  return text;
}

int ExitCodeForError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NOT_FOUND:
    case WSAEHOSTDOWN:
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
    case WSAETIMEDOUT:
    case WSASERVICE_NOT_FOUND:
    case WSAHOST_NOT_FOUND:
      return kExitNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case WSAEACCES:
    case WSAEADDRINUSE:
      return kExitBusy;
    case WSAECONNREFUSED:
      return kExitRefused;
    default:
      return kExitFailed;
  }
}

Failure SerialOpenFailure(TQuorErrorKind kind, DWORD error, const std::string& settings) {
  switch (kind) {
    case ekInUse:
      return {kExitBusy, "the port is in use by another program"};
    case ekSettingsRefused:
      return {kExitRefused, "the device refused " + settings};
    case ekNotSerialDevice:
      return {kExitNotFound, "not a serial device"};
    case ekNotFound:
      return {kExitNotFound, SysErrorMessage(error)};
    case ekNotPermitted:
      return {kExitBusy, SysErrorMessage(error)};
    default:
      if (error == ERROR_SUCCESS) return {kExitFailed, "no reason given by the system"};
      return {ExitCodeForError(error), SysErrorMessage(error)};
  }
}

int ExitCodeFor(const std::exception& e) {
  if (const auto* os = dynamic_cast<const EOSError*>(&e)) return ExitCodeForError(os->ErrorCode);
  // The program's own system calls (a virtual radio's address in use, say).
  if (const auto* sys = dynamic_cast<const std::system_error*>(&e)) {
    switch (sys->code().value()) {
      case EADDRINUSE:
      case EBUSY:
      case EACCES:
      case EPERM:
        return kExitBusy;
      case ENOENT:
        return kExitNotFound;
      default:
        return kExitFailed;
    }
  }
  return kExitFailed;
}

namespace {
bool verboseFailures = false;
}  // namespace

void SetVerbose(bool verbose) {
  verboseFailures = verbose;
}

std::string FailureText(const std::exception& e) {
  std::string text;
  if (const auto* os = dynamic_cast<const EOSError*>(&e)) {
    text = SysErrorMessage(os->ErrorCode);
    if (verboseFailures) text += " (system error " + std::to_string(os->ErrorCode) + ")";
  } else {
    text = e.what();
  }
  for (auto& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace quorlink::tools
