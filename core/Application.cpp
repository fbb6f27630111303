#include "quorlink/core/Application.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "core/MainThreadWindows.h"

namespace quorlink {

namespace {
// Unset until the first thread uses the loop or a transport.
std::atomic<std::thread::id> mainThread{};
std::atomic<bool> terminated{false};
}  // namespace

bool ClaimMainThread() {
  const std::thread::id self = std::this_thread::get_id();
  std::thread::id expected{};
  if (mainThread.compare_exchange_strong(expected, self)) {
    MakeMainThreadWindows();
    return true;
  }
  return expected == self;
}

void CheckMainThread(const char* entry) {
  if (ClaimMainThread()) return;
#ifndef NDEBUG
  std::fprintf(stderr, "quorlink: %s called from a thread other than the main thread\n", entry);
  std::abort();
#else
  (void)entry;
#endif
}

void TApplication::ProcessMessages() {
  CheckMainThread("Application().ProcessMessages");
  while (platform::Messages().ProcessMessage(0)) {
  }
}

bool TApplication::HandleMessage() {
  CheckMainThread("Application().HandleMessage");
  if (Terminated()) return false;
  platform::Messages().ProcessMessage(INFINITE);
  return !Terminated();
}

void TApplication::Run() {
  CheckMainThread("Application().Run");
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
TPollHandle TApplication::Handle() const {
  CheckMainThread("Application().Handle");
  return platform::Messages().Descriptor();
}
bool TApplication::IsMainThread() const {
  return std::this_thread::get_id() == mainThread.load();
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
bool PostWindowMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return platform::Messages().PostMessage(window, msg, wParam, lParam) != FALSE;
}

}  // namespace quorlink
