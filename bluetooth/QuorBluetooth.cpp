#include "quorlink/bluetooth/QuorBluetooth.h"

#include <cstring>

#include "bluetooth/QuorBluetoothTimer.h"
#include "core/StandardTypes.h"
#include "platform/Winsock.h"
#include "quorlink/core/SysUtils.h"

namespace quorlink {

TQuorBluetooth::TQuorBluetooth(TComponent* owner)
    : TQuorCustomTransport(owner), ServiceGUID(QuorServiceGUIDsName[7].GUID) {}

TQuorBluetooth::~TQuorBluetooth() {
  DestroyTransport();
}

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// "(" six hexadecimal pairs separated by ":" ")", nothing else.
bool IsAddressText(const std::string& text) {
  if (text.empty() || text.size() != 19) return false;
  if (text[0] != '(' || text[18] != ')') return false;
  for (std::size_t i : {3u, 6u, 9u, 12u, 15u}) {
    if (text[i] != ':') return false;
  }
  for (std::size_t i : {1u, 4u, 7u, 10u, 13u, 16u}) {
    if (!IsHexDigit(text[i]) || !IsHexDigit(text[i + 1])) return false;
  }
  return true;
}

}  // namespace

void TQuorBluetooth::SetAddress(const std::string& value) {
  if (value == Address) return;
  CheckActive();
  if (!IsAddressText(value)) throw EQuorTransportException(_Str_InvalidArgument);
  Address = value;
}

void TQuorBluetooth::StorePort(DWORD value) {
  if (value == Port) return;
  CheckActive();
  Port = value;
}

std::string TQuorBluetooth::GetService() const {
  for (const auto& row : QuorServiceGUIDsName) {
    if (std::memcmp(&row.GUID, &ServiceGUID, sizeof(quorlink::GUID)) == 0) return row.Name;
  }
  return {};
}

void TQuorBluetooth::SetService(const std::string& value) {
  if (value == GetService()) return;
  CheckActive();
  quorlink::GUID found{};
  for (const auto& row : QuorServiceGUIDsName) {
    if (value == row.Name) {
      found = row.GUID;
      break;
    }
  }
  ServiceGUID = found;
}

void TQuorBluetooth::SetServiceComment(const std::string& value) {
  if (value == ServiceComment) return;
  CheckActive();
  ServiceComment = value;
}

void TQuorBluetooth::SetServiceName(const std::string& value) {
  if (value == ServiceName) return;
  CheckActive();
  ServiceName = value;
}

void TQuorBluetooth::MakeAddr(SOCKADDR_BTH& addr, bool local) const {
  std::memset(&addr, 0, sizeof addr);
  addr.addressFamily = AF_BTH;
  addr.btAddr = 0;
  addr.serviceClassId = quorlink::GUID{};
  addr.port = BT_PORT_ANY;
  if (!local) return;
  int length = sizeof addr;
  if (platform::Winsock().getsockname(SocketHandle, reinterpret_cast<SOCKADDR*>(&addr), &length) !=
      0) {
    RaiseLastOSError();
  }
}

std::int64_t TQuorBluetooth::MakeAddressFromString(const std::string& text) const {
  SOCKADDR_BTH addr;
  MakeAddr(addr, false);
  addr.btAddr = 0;
  INT length = sizeof addr;
  std::string buffer = text;  // the platform takes a writable, zero-terminated text
  if (platform::Winsock().WSAStringToAddressA(buffer.data(), AF_BTH, nullptr,
                                              reinterpret_cast<SOCKADDR*>(&addr), &length) != 0) {
    RaiseLastOSError();
  }
  return static_cast<std::int64_t>(addr.btAddr);
}

namespace {

TQuorBluetooth& AsBluetooth(TComponent& c) {
  return static_cast<TQuorBluetooth&>(c);
}
const TQuorBluetooth& AsBluetooth(const TComponent& c) {
  return static_cast<const TQuorBluetooth&>(c);
}

template <const std::string& (TQuorBluetooth::*Get)() const,
          void (TQuorBluetooth::*Set)(const std::string&)>
TPropInfo TextProperty(const char* name) {
  TPropInfo p{name, &kStringType, true, {}, {}, {}, {}, {}, {}};
  p.GetStr = [](const TComponent& c) { return (AsBluetooth(c).*Get)(); };
  p.SetStr = [](TComponent& c, const std::string& v) { (AsBluetooth(c).*Set)(v); };
  return p;
}

}  // namespace

void TQuorBluetooth::GetProperties(TPropList& list) const {
  TQuorCustomTransport::GetProperties(list);
  list.push_back(TextProperty<&TQuorBluetooth::GetAddress, &TQuorBluetooth::SetAddress>("Address"));
  TPropInfo port{"Port", &kCardinalType, true, {}, {}, {}, {}, {}, {}};
  port.GetOrd = [](const TComponent& c) { return std::int64_t{AsBluetooth(c).GetPort()}; };
  port.SetOrd = [](TComponent& c, std::int64_t v) {
    AsBluetooth(c).SetPort(static_cast<DWORD>(v));
  };
  list.push_back(std::move(port));
  TPropInfo service{"Service", &kStringType, true, {}, {}, {}, {}, {}, {}};
  service.GetStr = [](const TComponent& c) { return AsBluetooth(c).GetService(); };
  service.SetStr = [](TComponent& c, const std::string& v) { AsBluetooth(c).SetService(v); };
  list.push_back(std::move(service));
  list.push_back(
      TextProperty<&TQuorBluetooth::GetServiceComment, &TQuorBluetooth::SetServiceComment>(
          "ServiceComment"));
  list.push_back(TextProperty<&TQuorBluetooth::GetServiceName, &TQuorBluetooth::SetServiceName>(
      "ServiceName"));
}

}  // namespace quorlink
