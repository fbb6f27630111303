#include "tools/Host.h"

#include <windows.h>

#include <atomic>

namespace quorlink::tools {

namespace {

// The console's control handler runs on a thread of its own; it sets the
// stop event and keeps the process alive.
std::atomic<HANDLE> stopEvent{nullptr};
std::atomic<bool> closeRequested{false};

BOOL WINAPI StopOnControl(DWORD type) {
  if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
    if (type == CTRL_CLOSE_EVENT) closeRequested.store(true);
    if (HANDLE e = stopEvent.load()) ::SetEvent(e);
    return TRUE;
  }
  return FALSE;
}

enum class InputKind { kConsole, kPipe, kFile, kNone };

InputKind KindOf(HANDLE in) {
  if (in == nullptr || in == INVALID_HANDLE_VALUE) return InputKind::kNone;
  DWORD mode;
  if (::GetConsoleMode(in, &mode)) return InputKind::kConsole;
  return ::GetFileType(in) == FILE_TYPE_PIPE ? InputKind::kPipe : InputKind::kFile;
}

}  // namespace

SignalStop::SignalStop() {
  HANDLE e = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  native_ = reinterpret_cast<std::intptr_t>(e);
  stopEvent.store(e);
  ::SetConsoleCtrlHandler(StopOnControl, TRUE);
}

SignalStop::~SignalStop() {
  ::SetConsoleCtrlHandler(StopOnControl, FALSE);
  stopEvent.store(nullptr);
  ::CloseHandle(reinterpret_cast<HANDLE>(native_));
}

bool SignalStop::Raised(int timeoutMs) const {
  const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  return ::WaitForSingleObject(reinterpret_cast<HANDLE>(native_), wait) == WAIT_OBJECT_0;
}

bool SignalStop::EndRequested() const {
  return closeRequested.load();
}

InputWaiter::InputWaiter(const SignalStop& stop) : stop_(stop) {
  cancel_[0] = reinterpret_cast<std::intptr_t>(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  cancel_[1] = 0;
}

InputWaiter::~InputWaiter() {
  ::CloseHandle(reinterpret_cast<HANDLE>(cancel_[0]));
}

InputWaiter::Result InputWaiter::Wait(bool withInput, int timeoutMs) {
  HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  const InputKind kind = KindOf(in);
  HANDLE handles[3] = {reinterpret_cast<HANDLE>(stop_.Native()),
                       reinterpret_cast<HANDLE>(cancel_[0]), in};
  // A console handle is waitable; a pipe is polled every 10 ms; a file is
  // always ready.
  const bool waitOnInput = withInput && kind == InputKind::kConsole;
  if (withInput && (kind == InputKind::kFile || kind == InputKind::kNone)) {
    return ::WaitForMultipleObjects(2, handles, FALSE, 0) == WAIT_TIMEOUT ? kInput : kStopped;
  }
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    DWORD slice = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    if (withInput && kind == InputKind::kPipe) {
      DWORD available = 0;
      if (!::PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr) || available > 0)
        return kInput;  // data, or a closed pipe that Read reports
      slice = 10;
    }
    const DWORD r = ::WaitForMultipleObjects(waitOnInput ? 3 : 2, handles, FALSE, slice);
    if (r == WAIT_OBJECT_0 || r == WAIT_OBJECT_0 + 1) return kStopped;
    if (r == WAIT_OBJECT_0 + 2) {
      // Key releases, mouse and focus events wake a console wait too, and so
      // do keys that type nothing (Shift, arrows): a read would wait for a
      // character then, where Cancel cannot reach it.
      INPUT_RECORD record;
      DWORD got = 0;
      if (::PeekConsoleInputA(in, &record, 1, &got) && got == 1 &&
          !(record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            record.Event.KeyEvent.uChar.AsciiChar != 0)) {
        ::ReadConsoleInputA(in, &record, 1, &got);
        continue;
      }
      return kInput;
    }
    if (timeoutMs >= 0 && ::GetTickCount64() - start >= static_cast<ULONGLONG>(timeoutMs))
      return kTimeout;
  }
}

long InputWaiter::Read(std::uint8_t* buffer, std::size_t size) {
  DWORD got = 0;
  if (!::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, static_cast<DWORD>(size), &got,
                  nullptr))
    return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  return static_cast<long>(got);
}

void InputWaiter::Cancel() {
  ::SetEvent(reinterpret_cast<HANDLE>(cancel_[0]));
}

bool WriteStandardOutput(const void* data, std::size_t size) {
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD done = 0;
    if (!::WriteFile(out, p, static_cast<DWORD>(size), &done, nullptr)) return false;
    p += done;
    size -= done;
  }
  return true;
}

bool StandardInputIsTerminal() {
  DWORD mode;
  return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

unsigned long ProcessId() {
  return ::GetCurrentProcessId();
}

std::string MakeTemporaryDirectory(const std::string& prefix) {
  char base[MAX_PATH + 1];
  const DWORD n = ::GetTempPathA(sizeof base, base);
  if (n == 0 || n > MAX_PATH) return {};
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string path = std::string(base) + prefix + std::to_string(::GetCurrentProcessId()) + "-" +
                       std::to_string(::GetTickCount64() + attempt);
    if (::CreateDirectoryA(path.c_str(), nullptr)) return path;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

}  // namespace quorlink::tools
