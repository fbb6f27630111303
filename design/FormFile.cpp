#include "design/FormFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>

#include "quorlink/core/SysUtils.h"

namespace quorlink {

namespace {

[[noreturn]] void FileError(const std::string& what, const std::string& path, int error) {
  throw Exception("Cannot " + what + " " + path + ": " + std::strerror(error));
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

void SaveFormFile(const std::string& path, const std::string& text) {
  const std::filesystem::path target(path);
  std::random_device random;
  std::string temporary;
  std::FILE* file = nullptr;
  // "x": made here and now, never an existing file followed or reused.
  for (int attempt = 0; attempt < 16 && file == nullptr; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x~", static_cast<unsigned>(random()));
    temporary = path + suffix;
    file = std::fopen(temporary.c_str(), "wbx");
    if (file == nullptr && errno != EEXIST) FileError("write", path, errno);
  }
  if (file == nullptr) FileError("write", path, EEXIST);
  int error = 0;
  if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0)
    error = errno != 0 ? errno : EIO;
  if (std::fclose(file) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  std::error_code ec;
  if (error == 0) {
    std::filesystem::rename(temporary, target, ec);
    if (!ec) return;
    error = ec.value();
  }
  std::filesystem::remove(temporary, ec);
  FileError("write", path, error);
}

std::string LoadFormFile(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) FileError("read", path, errno);
  std::string text;
  char buffer[8192];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, n);
  if (std::ferror(file.get())) FileError("read", path, errno != 0 ? errno : EIO);
  return text;
}

}  // namespace quorlink
