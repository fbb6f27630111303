// What Windows knows of its COM ports: the Ports device class (SetupAPI:
// the driver's service, the device's name, maker and USB ids), the serial
// device map in the registry (kernel device to COM name) and the DOS device
// names. Under Wine a COM port may also be a link in the prefix's dosdevices
// folder that none of these lists; such links are listed too.
#include <windows.h>
// The device class GUIDs are defined here, after windows.h.
#include <initguid.h>
// SetupAPI after both.
#include <devguid.h>
#include <devpkey.h>
#include <setupapi.h>

#include <cctype>
#include <cstdlib>
#include <cwctype>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/PortDevices.h"
#include "quorlink/platform/Serial.h"

namespace quorlink::platform {

namespace {

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}

std::optional<unsigned> ComNumber(const std::string& name) {
  auto n = ComPortNumber(name);
  if (!n || *n == 0 || *n > 255) return std::nullopt;
  return n;
}

// The four hex digits after `key` ("VID_") in a hardware id such as
// USB\VID_0403&PID_6001&REV_0600 or FTDIBUS\COMPORT&VID_0403&PID_6001.
std::string IdAfter(const std::wstring& hardwareId, const wchar_t* key) {
  const auto at = hardwareId.find(key);
  if (at == std::wstring::npos || hardwareId.size() < at + 8) return {};
  std::string id = Narrow(hardwareId.substr(at + 4, 4));
  for (char& c : id) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return id;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

using Table = std::map<unsigned, TQuorPortInfo>;

TQuorPortInfo& Entry(Table& ports, unsigned n) {
  TQuorPortInfo& info = ports[n];
  info.Path = "COM" + std::to_string(n);
  return info;
}

std::wstring DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  wchar_t text[1024] = {};
  if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(text), sizeof text - 2, nullptr))
    return {};
  return text;  // a multi-string's first string
}

std::wstring InstanceId(HDEVINFO set, SP_DEVINFO_DATA& device) {
  wchar_t text[512] = {};
  if (!::SetupDiGetDeviceInstanceIdW(set, &device, text, 511, nullptr)) return {};
  return text;
}

// What the device told the bus it is (a USB device's product string).
std::wstring BusDescription(HDEVINFO set, SP_DEVINFO_DATA& device) {
  wchar_t text[512] = {};
  DEVPROPTYPE type = 0;
  if (!::SetupDiGetDevicePropertyW(set, &device, &DEVPKEY_Device_BusReportedDeviceDesc, &type,
                                   reinterpret_cast<BYTE*>(text), sizeof text - 2, nullptr, 0) ||
      type != DEVPROP_TYPE_STRING)
    return {};
  return text;
}

void Describe(HDEVINFO set, SP_DEVINFO_DATA& device, TQuorPortInfo& info) {
  info.Driver = Narrow(DeviceProperty(set, device, SPDRP_SERVICE));
  info.Bus = Lower(Narrow(DeviceProperty(set, device, SPDRP_ENUMERATOR_NAME)));
  info.Manufacturer = Narrow(DeviceProperty(set, device, SPDRP_MFG));
  std::wstring product = BusDescription(set, device);
  if (product.empty()) product = DeviceProperty(set, device, SPDRP_FRIENDLYNAME);
  info.Product = Narrow(product);
  const std::wstring hardwareId = DeviceProperty(set, device, SPDRP_HARDWAREID);
  info.VendorId = IdAfter(hardwareId, L"VID_");
  info.ProductId = IdAfter(hardwareId, L"PID_");
  // A composite device's function: USB\VID_1234&PID_5678&MI_02.
  if (const auto mi = hardwareId.find(L"&MI_");
      mi != std::wstring::npos && hardwareId.size() >= mi + 6)
    info.Interface = Lower(Narrow(hardwareId.substr(mi + 4, 2)));
  if (!info.VendorId.empty()) {
    info.Bus = "usb";
    // USB\VID_0403&PID_6001\A6008isP: the last part is the device's serial
    // number when it has one; one Windows made up has '&' in it.
    const std::wstring instance = InstanceId(set, device);
    const auto slash = instance.rfind(L'\\');
    if (instance.rfind(L"USB\\", 0) == 0 && slash != std::wstring::npos &&
        instance.find(L'&', slash) == std::wstring::npos)
      info.SerialNumber = Narrow(instance.substr(slash + 1));
  }
}

void FromPortsClass(Table& ports) {
  HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    wchar_t name[64] = {};
    DWORD size = sizeof name - 2, type = 0;
    const bool named = ::RegQueryValueExW(key, L"PortName", nullptr, &type,
                                          reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
                       type == REG_SZ;
    ::RegCloseKey(key);
    const auto n = named ? ComNumber(Narrow(name)) : std::nullopt;
    if (!n) continue;  // a printer port, say
    Describe(set, device, Entry(ports, *n));
  }
  ::SetupDiDestroyDeviceInfoList(set);
}

void FromSerialMap(Table& ports) {
  HKEY key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return;
  for (DWORD i = 0;; ++i) {
    wchar_t device[256], com[64] = {};
    DWORD deviceSize = 256, comSize = sizeof com - 2, type = 0;
    if (::RegEnumValueW(key, i, device, &deviceSize, nullptr, &type, reinterpret_cast<BYTE*>(com),
                        &comSize) != ERROR_SUCCESS)
      break;
    if (type != REG_SZ) continue;
    if (auto n = ComNumber(Narrow(com))) Entry(ports, *n).Device = Narrow(device);
  }
  ::RegCloseKey(key);
}

std::string DosTarget(const std::wstring& name) {
  wchar_t target[1024] = {};
  return ::QueryDosDeviceW(name.c_str(), target, 1024) != 0 ? Narrow(target) : std::string{};
}

void FromDosDevices(Table& ports) {
  std::vector<wchar_t> names(1 << 16);
  DWORD n;
  while ((n = ::QueryDosDeviceW(nullptr, names.data(), static_cast<DWORD>(names.size()))) == 0 &&
         ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && names.size() < (1u << 22))
    names.resize(names.size() * 2);
  if (n == 0) return;
  for (const wchar_t* p = names.data(); *p != 0; p += wcslen(p) + 1) {
    const auto number = ComNumber(Narrow(p));
    if (!number) continue;
    TQuorPortInfo& info = Entry(ports, *number);
    if (info.Device.empty()) info.Device = DosTarget(p);
  }
}

// Wine opens "COMn" through the link dosdevices\comn in its prefix.
void FromWinePrefix(Table& ports) {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  using DosName = WCHAR*(CDECL*)(const char*);
  auto dosName = reinterpret_cast<DosName>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  const char* prefix = std::getenv("WINEPREFIX");
  if (ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr ||
      dosName == nullptr || prefix == nullptr)
    return;
  WCHAR* folder = dosName((std::string(prefix) + "/dosdevices").c_str());
  if (folder == nullptr) return;
  const std::wstring dir = folder;
  ::HeapFree(::GetProcessHeap(), 0, folder);
  WIN32_FIND_DATAW found;
  HANDLE find = ::FindFirstFileW((dir + L"\\com*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = found.cFileName;
    for (auto& c : name) c = static_cast<wchar_t>(std::towupper(c));
    const auto number = ComNumber(Narrow(name));
    if (!number) continue;
    TQuorPortInfo& info = Entry(ports, *number);
    if (info.Device.empty()) info.Device = "a link in Wine's dosdevices folder";
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
}

}  // namespace

std::vector<TQuorPortInfo> OsListPorts() {
  Table ports;
  FromPortsClass(ports);
  FromSerialMap(ports);
  FromDosDevices(ports);
  FromWinePrefix(ports);
  std::vector<TQuorPortInfo> list;
  for (auto& [n, info] : ports) list.push_back(std::move(info));
  return list;
}

TQuorPortInfo OsDescribeDevice(const std::string& path) {
  if (const auto n = ComNumber(path)) {
    for (auto& info : OsListPorts())
      if (info.Path == "COM" + std::to_string(*n)) {
        info.Path = path;
        return info;
      }
  }
  TQuorPortInfo info;
  info.Path = path;
  // "\\.\NAME" is the DOS device NAME.
  const std::string name = path.rfind("\\\\.\\", 0) == 0 ? path.substr(4) : path;
  info.Device = DosTarget(std::wstring(name.begin(), name.end()));
  return info;
}

std::optional<unsigned> OsDefaultComNumber(const std::string& path) {
  return ComNumber(path);
}

}  // namespace quorlink::platform
