// Two virtual radios in a private rendezvous directory of their own, for the
// Bluetooth tests; and a bounded message pump.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "quorlink/core/Application.h"
#include "quorlink/platform/Messages.h"
#include "platform/virtual/VirtualRadio.h"

namespace quorlink::testing {

constexpr std::uint64_t kServerRadio = 0x0000A1B2C3D4E5F6ull;
constexpr std::uint64_t kClientRadio = 0x0000001122334455ull;
inline const char* const kServerText = "(A1:B2:C3:D4:E5:F6)";
inline const char* const kClientText = "(00:11:22:33:44:55)";

class VirtualRadios {
 public:
  VirtualRadios() {
    directory_ = MakePrivateDirectory();
    platform::vradio::SetRendezvousDirectory(directory_);
    platform::vradio::Enable(true);
    server_ = std::make_unique<platform::vradio::Radio>(kServerRadio, "Server radio");
    client_ = std::make_unique<platform::vradio::Radio>(kClientRadio, "Client radio");
  }
  ~VirtualRadios() {
    client_.reset();
    server_.reset();
    platform::vradio::Enable(false);
    RemoveDirectory(directory_);
    platform::vradio::SetRendezvousDirectory("");
  }
  VirtualRadios(const VirtualRadios&) = delete;
  VirtualRadios& operator=(const VirtualRadios&) = delete;

  const std::string& Directory() const { return directory_; }

  static void RemoveDirectory(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }

  // A fresh directory of the system's temporary directory, open to its
  // owner alone.
  static std::string MakePrivateDirectory() {
    namespace fs = std::filesystem;
    std::random_device random;
    for (;;) {
      const fs::path path = fs::temp_directory_path() / ("quorlink-bt-" + std::to_string(random()));
      if (!fs::create_directory(path)) continue;
      fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace);
      return path.string();
    }
  }

 private:
  std::string directory_;
  std::unique_ptr<platform::vradio::Radio> server_;
  std::unique_ptr<platform::vradio::Radio> client_;
};

// Pumps the main loop until done() or the deadline; true when done.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::Messages().ProcessMessage(10);
  }
  return true;
}

// Handles whatever is ready now, for a short while.
inline void PumpFor(std::chrono::milliseconds span) {
  const auto deadline = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < deadline) platform::Messages().ProcessMessage(5);
}

}  // namespace quorlink::testing
