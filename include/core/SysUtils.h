// Exceptions, the string table and number conversions of the host layer.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "platform/Types.h"

namespace quorlink {

// A reference to a string in the library's string table (a resource string).
struct TResStringRec {
  int Identifier;
};

// The string table: texts by identifier, loaded when an exception is made.
void RegisterResString(int identifier, std::string_view text);
std::string LoadResString(const TResStringRec& rec);

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  // Loads the text from the string table now.
  explicit Exception(const TResStringRec& rec) : message_(LoadResString(rec)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// The operating-system error exception: the system's text for a code.
class EOSError : public Exception {
 public:
  EOSError(DWORD code, std::string message) : Exception(std::move(message)), ErrorCode(code) {}
  DWORD ErrorCode;
};

class EConvertError : public Exception {
  using Exception::Exception;
};

// The owning list's index error.
class EListError : public Exception {
  using Exception::Exception;
};

// Form reading and writing.
class EReadError : public Exception {
  using Exception::Exception;
};

// The system's description of an error code, without a line ending.
std::string SysErrorMessage(DWORD code);
// Raises EOSError for the calling thread's last error code.
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseLastOSError(DWORD code);

// ASCII case only, as component and property names are compared.
std::string LowerCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);

std::string IntToStr(std::int64_t value);
// Decimal, or hexadecimal after "$" (also "0x"); optional sign; raises
// EConvertError on anything else, or on a value outside 32 bits.
int StrToInt(std::string_view text);
std::int64_t StrToInt64(std::string_view text);

}  // namespace quorlink
