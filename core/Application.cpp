#include "core/Application.h"

#include <atomic>
#include <thread>

namespace quorlink {

namespace {
// Static initialisation runs on the program's main thread.
const std::thread::id kMainThread = std::this_thread::get_id();
std::atomic<bool> terminated{false};
}  // namespace

void TApplication::ProcessMessages() {
  while (platform::Messages().ProcessMessage(0)) {
  }
}

bool TApplication::HandleMessage() {
  if (Terminated()) return false;
  platform::Messages().ProcessMessage(INFINITE);
  return !Terminated();
}

void TApplication::Run() {
  while (HandleMessage()) {
  }
}

void TApplication::Terminate() {
  terminated.store(true);
  platform::Messages().Wake();
}

bool TApplication::Terminated() const {
  return terminated.load();
}
void TApplication::Reset() {
  terminated.store(false);
}
int TApplication::Handle() const {
  return platform::Messages().Descriptor();
}
bool TApplication::IsMainThread() const {
  return std::this_thread::get_id() == kMainThread;
}

TApplication& Application() {
  static TApplication app;
  return app;
}

HWND AllocateHWnd(TWndMethod method) {
  return platform::Messages().AllocateWindow(std::move(method));
}
void DeallocateHWnd(HWND window) {
  platform::Messages().DeallocateWindow(window);
}
bool PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return platform::Messages().PostMessage(window, msg, wParam, lParam) != FALSE;
}

}  // namespace quorlink
