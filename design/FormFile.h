// Form files as the designer keeps them. Main thread.
#pragma once

#include <string>

namespace quorlink {

// Writes the text to a new file beside path and renames it over path, so
// that path holds either the old form or the whole new one, never a part.
// Raises Exception with the file's name on failure, leaving path as it was.
void SaveFormFile(const std::string& path, const std::string& text);
// The whole file; raises Exception with the file's name when it cannot.
std::string LoadFormFile(const std::string& path);

}  // namespace quorlink
