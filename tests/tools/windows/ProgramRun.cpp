// Windows: CreateProcessW with inheritable copies of the child's streams,
// anonymous pipes read with PeekNamedPipe, a named pipe (overlapped at the
// test's end) for a Feeder so that its writer can be stopped.
#include "tools/ProgramRun.h"

#include <signal.h>
#include <windows.h>

#include <algorithm>
#include <atomic>

namespace quorlink::testing::tools {

namespace {

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

// One argument as the C runtime's command-line parser reads it back.
std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring q = L"\"";
  for (auto it = arg.begin();; ++it) {
    std::size_t backslashes = 0;
    for (; it != arg.end() && *it == L'\\'; ++it) ++backslashes;
    if (it == arg.end()) {
      q.append(backslashes * 2, L'\\');
      break;
    }
    q.append(*it == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    q.push_back(*it);
  }
  return q + L"\"";
}

// The build gives the program's path as the build machine sees it; under
// Wine a Unix path is mapped to its DOS name.
std::wstring ProgramPath() {
  const std::string path = QUORLINK_PROGRAM;
  using DosName = WCHAR*(CDECL*)(const char*);
  if (!path.empty() && path[0] == '/') {
    if (auto dos = reinterpret_cast<DosName>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")))) {
      if (WCHAR* name = dos(path.c_str())) {
        std::wstring result(name);
        ::HeapFree(::GetProcessHeap(), 0, name);
        return result;
      }
    }
  }
  return Wide(path);
}

HANDLE InheritableCopy(HANDLE h) {
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
    return nullptr;
  return copy;
}

void CloseIf(HANDLE& h) {
  if (h != nullptr && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  h = nullptr;
}

}  // namespace

struct Program::Child {
  HANDLE process = nullptr;
  DWORD id = 0;
  HANDLE out = nullptr, err = nullptr;  // our read ends; null once closed
};

Program::Program(const std::vector<std::string>& args, Stream in, Stream out)
    : child_(std::make_unique<Child>()) {
  HANDLE outWrite = nullptr, errWrite = nullptr;
  if (out == kNoStream && !::CreatePipe(&child_->out, &outWrite, nullptr, 0)) return;
  if (!::CreatePipe(&child_->err, &errWrite, nullptr, 0)) return;
  // Only these copies are inheritable, and only while the child is made.
  HANDLE childIn;
  if (in != kNoStream) {
    childIn = InheritableCopy(reinterpret_cast<HANDLE>(in));
  } else {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    childIn = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr);
  }
  HANDLE childOut = InheritableCopy(out != kNoStream ? reinterpret_cast<HANDLE>(out) : outWrite);
  HANDLE childErr = InheritableCopy(errWrite);
  CloseIf(outWrite);
  CloseIf(errWrite);

  const std::wstring program = ProgramPath();
  std::wstring line = Quoted(program);
  for (const auto& a : args) line += L" " + Quoted(Wide(a));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = childIn;
  startup.hStdOutput = childOut;
  startup.hStdError = childErr;
  PROCESS_INFORMATION info{};
  // A group of its own, so that a console break reaches the child alone.
  if (::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                       CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &info)) {
    child_->process = info.hProcess;
    child_->id = info.dwProcessId;
    ::CloseHandle(info.hThread);
  }
  CloseIf(childIn);
  CloseIf(childOut);
  CloseIf(childErr);
}

Program::~Program() {
  Kill();
  CloseIf(child_->out);
  CloseIf(child_->err);
}

bool Program::Started() const {
  return child_->process != nullptr || exit_.code != -1;
}

bool Program::Signal(int signal) const {
  if (child_->process == nullptr) return false;
  if (signal == SIGINT || signal == SIGBREAK)
    return ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, child_->id) != 0;
  return ::TerminateProcess(child_->process, 128 + static_cast<UINT>(signal)) != 0;
}

bool Program::Ended() {
  if (child_->process == nullptr) return true;
  if (::WaitForSingleObject(child_->process, 0) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  ::GetExitCodeProcess(child_->process, &code);
  exit_.code = static_cast<int>(code);
  CloseIf(child_->process);
  return true;
}

void Program::Kill() {
  if (child_->process == nullptr) return;
  ::TerminateProcess(child_->process, 1);
  ::WaitForSingleObject(child_->process, 10000);
  CloseIf(child_->process);
}

bool Program::Collect(int timeoutMs) {
  auto readSome = [this] {
    bool got = false;
    for (HANDLE* pipe : {&child_->out, &child_->err}) {
      if (*pipe == nullptr) continue;
      DWORD available = 0;
      if (!::PeekNamedPipe(*pipe, nullptr, 0, nullptr, &available, nullptr)) {
        CloseIf(*pipe);  // every writer has gone
        continue;
      }
      if (available == 0) continue;
      char buf[4096];
      DWORD n = 0;
      if (::ReadFile(*pipe, buf, std::min<DWORD>(available, sizeof buf), &n, nullptr) && n > 0) {
        (pipe == &child_->out ? exit_.out : exit_.err).append(buf, n);
        got = true;
      }
    }
    return got;
  };
  if (readSome()) return true;
  if (timeoutMs <= 0) return false;
  ::Sleep(static_cast<DWORD>(timeoutMs));
  return readSome();
}

Feeder::Feeder(std::vector<std::uint8_t> data, bool holdOpen)
    : data_(std::move(data)), holdOpen_(holdOpen) {
  static std::atomic<unsigned> count{0};
  const std::wstring name = L"\\\\.\\pipe\\quorlink-feeder-" +
                            std::to_wstring(::GetCurrentProcessId()) + L"-" +
                            std::to_wstring(count++);
  HANDLE server = ::CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
  if (server == INVALID_HANDLE_VALUE) return;
  HANDLE client = ::CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (client == INVALID_HANDLE_VALUE) {
    ::CloseHandle(server);
    return;
  }
  read_ = reinterpret_cast<Stream>(client);
  write_ = reinterpret_cast<Stream>(server);
  stop_ = reinterpret_cast<Stream>(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  thread_ = std::thread([this] {
    HANDLE pipe = reinterpret_cast<HANDLE>(write_);
    HANDLE stop = reinterpret_cast<HANDLE>(stop_);
    OVERLAPPED ov{};
    ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::size_t at = 0;
    while (at < data_.size()) {
      ::ResetEvent(ov.hEvent);
      const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(data_.size() - at, 65536));
      DWORD n = 0;
      if (!::WriteFile(pipe, data_.data() + at, piece, nullptr, &ov)) {
        if (::GetLastError() != ERROR_IO_PENDING) break;
        HANDLE both[2] = {ov.hEvent, stop};
        if (::WaitForMultipleObjects(2, both, FALSE, INFINITE) != WAIT_OBJECT_0) {
          ::CancelIo(pipe);
          ::GetOverlappedResult(pipe, &ov, &n, TRUE);
          break;
        }
      }
      if (!::GetOverlappedResult(pipe, &ov, &n, TRUE) || n == 0) break;
      at += n;
    }
    ::CloseHandle(ov.hEvent);
    if (!holdOpen_) CloseWriteEnd();
    done_ = true;
  });
}

void Feeder::CloseWriteEnd() {
  if (write_ != kNoStream) ::CloseHandle(reinterpret_cast<HANDLE>(write_));
  write_ = kNoStream;
}

void Feeder::End() {
  if (thread_.joinable()) thread_.join();
  CloseWriteEnd();
}

Feeder::~Feeder() {
  if (stop_ != kNoStream) ::SetEvent(reinterpret_cast<HANDLE>(stop_));
  if (read_ != kNoStream) ::CloseHandle(reinterpret_cast<HANDLE>(read_));
  End();
  if (stop_ != kNoStream) ::CloseHandle(reinterpret_cast<HANDLE>(stop_));
}

}  // namespace quorlink::testing::tools
