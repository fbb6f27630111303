#include "platform/posix/ErrorTexts.h"

#include <algorithm>
#include <iterator>

namespace quorlink::platform::posix {

namespace {
struct ErrorText {
  DWORD code;
  const char* text;
};

// Kept sorted by code.
constexpr ErrorText kTexts[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {14, "Not enough memory resources are available to complete this operation."},
    {21, "The device is not ready."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {50, "The request is not supported."},
    {55, "The specified network resource or device is no longer available."},
    {87, "The parameter is incorrect."},
    {122, "The data area passed to a system call is too small."},
    {258, "The wait operation timed out."},
    {259, "No more data is available."},
    {995,
     "The I/O operation has been aborted because of either a thread exit or an application "
     "request."},
    {996, "Overlapped I/O event is not in a signaled state."},
    {997, "Overlapped I/O operation is in progress."},
    {1168, "Element not found."},
    {1223, "The operation was canceled by the user."},
};
}  // namespace

const char* SystemErrorText(DWORD code) {
  auto it = std::lower_bound(std::begin(kTexts), std::end(kTexts), code,
                             [](const ErrorText& e, DWORD c) { return e.code < c; });
  return (it != std::end(kTexts) && it->code == code) ? it->text : nullptr;
}

}  // namespace quorlink::platform::posix
