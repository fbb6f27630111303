/// @file
/// Exceptions, the string table and number conversions of the host layer.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "quorlink/core/Export.h"
#include "quorlink/platform/Types.h"

namespace quorlink {

/// A reference to a string in the library's string table (a resource string).
struct TResStringRec {
  int Identifier;  ///< the text's number in the table
};

///@{
/// The string table: texts by identifier, loaded when an exception is made., loaded when an
/// exception is made.
QUORLINK_API void RegisterResString(int identifier, std::string_view text);
QUORLINK_API std::string LoadResString(const TResStringRec& rec);
///@}

/// The base of every exception the library raises.
class QUORLINK_API Exception : public std::exception {
 public:
  /// An exception with this text.
  explicit Exception(std::string message) : message_(std::move(message)) {}
  /// Loads the text from the string table now.
  explicit Exception(const TResStringRec& rec) : message_(LoadResString(rec)) {}
  ///@{
  /// The text.
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }
  ///@}

 private:
  std::string message_;
};

/// The operating-system error exception: the system's text for a code.
class QUORLINK_API EOSError : public Exception {
 public:
  /// The code and the system's text for it.
  EOSError(DWORD code, std::string message) : Exception(std::move(message)), ErrorCode(code) {}
  DWORD ErrorCode;  ///< the system's error code
};

/// Text that is not a number (StrToInt).
class QUORLINK_API EConvertError : public Exception {
  using Exception::Exception;
};

/// The owning list's index error.
class QUORLINK_API EListError : public Exception {
  using Exception::Exception;
};

/// Form reading and writing.
class QUORLINK_API EReadError : public Exception {
  using Exception::Exception;
};

/// The system's description of an error code, without a line ending.
QUORLINK_API std::string SysErrorMessage(DWORD code);
///@{
/// Raises EOSError for the calling thread's last error code, or for the code
/// given.
[[noreturn]] QUORLINK_API void RaiseLastOSError();
[[noreturn]] QUORLINK_API void RaiseLastOSError(DWORD code);
///@}
///@{
/// Lower case, and comparison without regard to case: ASCII case only, as
/// component and property names are compared.
QUORLINK_API std::string LowerCase(std::string_view text);
QUORLINK_API bool SameText(std::string_view a, std::string_view b);
///@}

/// Decimal text without leading zeros.
QUORLINK_API std::string IntToStr(std::int64_t value);
/// Decimal, or hexadecimal after "$" (also "0x"); optional sign; raises
/// EConvertError on anything else, or on a value outside 32 bits.
QUORLINK_API int StrToInt(std::string_view text);
/// StrToInt for 64 bits.
QUORLINK_API std::int64_t StrToInt64(std::string_view text);

}  // namespace quorlink
