// Serial ports coming and going on Windows: a message-only window registered
// for the device-interface notifications of COM ports. A notification names
// an interface, not a COM name, so each one makes the watcher list the ports
// again and raise what changed; Windows sends the arrival once the port's
// interface is enabled, that is once it can be opened.
#include <windows.h>
// After windows.h.
#include <dbt.h>

#include <memory>

#include "platform/PortDevices.h"

namespace quorlink::platform {

namespace {

constexpr const wchar_t* kClassName = L"QuorlinkPortWatchWindow";
// GUID_DEVINTERFACE_COMPORT (ntddser.h), named here so that no other file's
// GUID definitions meet it in a batch build.
constexpr GUID kComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

class WinPortWatch final : public IPortWatch {
 public:
  explicit WinPortWatch(PortChanges changed) : changed_(std::move(changed)) {}
  ~WinPortWatch() override {
    if (notification_ != nullptr) ::UnregisterDeviceNotification(notification_);
    if (window_ != nullptr) {
      ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
      ::DestroyWindow(window_);
    }
  }
  WinPortWatch(const WinPortWatch&) = delete;
  WinPortWatch& operator=(const WinPortWatch&) = delete;

  bool Open() {
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = WindowProc;
    cls.hInstance = ::GetModuleHandleW(nullptr);
    cls.lpszClassName = kClassName;
    if (::RegisterClassExW(&cls) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
      return false;
    window_ = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
    if (window_ == nullptr) return false;
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kComPortInterface;
    notification_ = ::RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    return notification_ != nullptr;
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<WinPortWatch*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && msg == WM_DEVICECHANGE &&
        (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
      const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
      if (header != nullptr && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        // The last thing done here: the receiver may destroy this watch.
        PortChanges changed = self->changed_;
        changed({PortChange{PortChange::kRescan, {}}});
      }
      return TRUE;
    }
    return ::DefWindowProcW(window, msg, wParam, lParam);
  }

  PortChanges changed_;
  HWND window_ = nullptr;
  HDEVNOTIFY notification_ = nullptr;
};

}  // namespace

std::unique_ptr<IPortWatch> OsWatchPorts(PortChanges changed) {
  auto watch = std::make_unique<WinPortWatch>(std::move(changed));
  if (!watch->Open()) {
    const DWORD error = ::GetLastError();
    watch.reset();
    ::SetLastError(error);
    return nullptr;
  }
  return watch;
}

}  // namespace quorlink::platform
