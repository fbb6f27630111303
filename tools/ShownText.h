// Bytes and names as the program shows them: UTF-8 as it is, every other
// byte that does not print as an escape, so a line shows what arrived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorlink::tools {

// \\, \n, \r, \t as such, other control bytes and bytes that are not part of
// a whole UTF-8 character as \xNN; the rest (UTF-8 included) unchanged.
std::string ShownBytes(const std::uint8_t* data, std::size_t size);
// Whether text is well-formed UTF-8 (no overlong forms, surrogates or
// values past U+10FFFF).
bool IsUtf8(const std::string& text);

}  // namespace quorlink::tools
