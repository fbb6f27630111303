#include "platform/windows/WinMessageLoop.h"

#include <memory>
#include <stdexcept>

namespace quorlink::platform::windows {

namespace {

constexpr const char* kClassName = "QuorlinkMessageWindow";

// The library's windows see the messages it and Winsock post (WM_USER and
// above); what Windows sends a window of its own accord gets the default.
LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= WM_USER) {
    auto* proc = reinterpret_cast<TWndMethod*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (proc != nullptr && *proc) {
      TMessage message{msg, wParam, lParam, 0};
      try {
        (*proc)(message);
      } catch (...) {
        // Window procedures stop their own exceptions; nothing may unwind the loop.
      }
      return message.Result;
    }
  }
  return ::DefWindowProcA(window, msg, wParam, lParam);
}

void RegisterWindowClass() {
  WNDCLASSEXA cls{};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = WindowProc;
  cls.hInstance = ::GetModuleHandleA(nullptr);
  cls.lpszClassName = kClassName;
  if (::RegisterClassExA(&cls) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw std::runtime_error("cannot register the message window class");
}

}  // namespace

WinMessageLoop::WinMessageLoop() {
  RegisterWindowClass();
  event_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event_ == nullptr) throw std::runtime_error("cannot create the message loop's event");
}

WinMessageLoop::~WinMessageLoop() {
  ::CloseHandle(event_);
}

HWND WinMessageLoop::AllocateWindow(TWndMethod proc) {
  auto method = std::make_unique<TWndMethod>(std::move(proc));
  HWND window = ::CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  ::GetModuleHandleA(nullptr), nullptr);
  if (window == nullptr) return nullptr;
  ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(method.release()));
  return window;
}

void WinMessageLoop::DeallocateWindow(HWND window) {
  if (window == nullptr || !::IsWindow(window)) return;
  auto* method = reinterpret_cast<TWndMethod*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
  // Messages still queued for it are dropped: DispatchMessage skips a
  // destroyed window.
  ::DestroyWindow(window);
  delete method;
}

BOOL WinMessageLoop::PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (window == nullptr || !::PostMessageA(window, msg, wParam, lParam)) return FALSE;
  ::SetEvent(event_);
  return TRUE;
}

void WinMessageLoop::Wake() {
  woken_.store(true);
  ::SetEvent(event_);
}

bool WinMessageLoop::DispatchOne() {
  MSG msg;
  if (!::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (msg.message == WM_QUIT) {
    // Not the library's: put it back for the program's own loop.
    ::PostQuitMessage(static_cast<int>(msg.wParam));
    return false;
  }
  ::TranslateMessage(&msg);
  ::DispatchMessageA(&msg);
  return true;
}

bool WinMessageLoop::ProcessMessage(DWORD timeoutMs) {
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    ::ResetEvent(event_);
    if (DispatchOne()) {
      // A program waiting on the event must still see what is queued.
      if (HIWORD(::GetQueueStatus(QS_ALLINPUT)) != 0) ::SetEvent(event_);
      return true;
    }
    if (woken_.exchange(false)) return false;
    DWORD wait = timeoutMs;
    if (timeoutMs != INFINITE) {
      const ULONGLONG spent = ::GetTickCount64() - start;
      if (spent >= timeoutMs) return false;
      wait = static_cast<DWORD>(timeoutMs - spent);
    }
    const DWORD r =
        ::MsgWaitForMultipleObjectsEx(1, &event_, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (r == WAIT_TIMEOUT) return false;
    if (r == WAIT_FAILED) return false;
  }
}

WinMessageLoop& TheMessageLoop() {
  static WinMessageLoop loop;
  return loop;
}

}  // namespace quorlink::platform::windows

namespace quorlink::platform {

IMessageLoop& OsMessages() {
  return windows::TheMessageLoop();
}

}  // namespace quorlink::platform
