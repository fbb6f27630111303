#include "quorlink/comport/QuorComPort.h"

#include <chrono>
#include <thread>

#include "comport/QuorComPortMessages.h"
#include "core/StandardTypes.h"
#include "platform/Kernel.h"

namespace quorlink {

namespace {

constexpr DWORD kRates[] = {CBR_110,   CBR_300,   CBR_600,    CBR_1200,   CBR_2400,
                            CBR_4800,  CBR_9600,  CBR_14400,  CBR_19200,  CBR_38400,
                            CBR_56000, CBR_57600, CBR_115200, CBR_128000, CBR_256000};

const TTypeInfo kBaudRateType{
    TTypeKind::tkEnumeration,
    "TQuorBaudRate",
    {"br110", "br300", "br600", "br1200", "br2400", "br4800", "br9600", "br14400", "br19200",
     "br38400", "br56000", "br57600", "br115200", "br128000", "br256000"},
    0,
    14};
const TTypeInfo kParityType{TTypeKind::tkEnumeration,
                            "TQuorParity",
                            {"paNone", "paOdd", "paEven", "paMark", "paSpace"},
                            0,
                            4};
const TTypeInfo kPortType{TTypeKind::tkInteger, "Byte", {}, 0, 255};
const TTypeInfo kFlowControlType{TTypeKind::tkEnumeration,
                                 "TQuorFlowControl",
                                 {"fcNone", "fcRtsCts", "fcXonXoff", "fcDtrDsr"},
                                 0,
                                 3};
const TTypeInfo kStopBitsType{
    TTypeKind::tkEnumeration, "TQuorStopBits", {"sb1", "sb15", "sb2"}, 0, 2};

TQuorComPort& AsComPort(TComponent& c) {
  return static_cast<TQuorComPort&>(c);
}
const TQuorComPort& AsComPort(const TComponent& c) {
  return static_cast<const TQuorComPort&>(c);
}

template <class T, T (TQuorComPort::*Get)() const, void (TQuorComPort::*Set)(T)>
TPropInfo OrdinalProperty(const char* name, const TTypeInfo* type) {
  TPropInfo p{name, type, true, {}, {}, {}, {}, {}, {}};
  p.GetOrd = [](const TComponent& c) { return static_cast<std::int64_t>((AsComPort(c).*Get)()); };
  p.SetOrd = [](TComponent& c, std::int64_t v) { (AsComPort(c).*Set)(static_cast<T>(v)); };
  return p;
}

}  // namespace

DWORD BaudRateValue(TQuorBaudRate rate) {
  return rate <= br256000 ? kRates[rate] : 0;
}

TQuorComPort::TQuorComPort(TComponent* owner) : TQuorCustomTransport(owner) {}

TQuorComPort::~TQuorComPort() {
  DestroyTransport();
}

template <class T>
void TQuorComPort::Store(T& field, T value) {
  if (field == value) return;
  CheckActive();
  field = value;
}

void TQuorComPort::SetBaudRate(TQuorBaudRate value) {
  Store(FBaudRate, value);
}
void TQuorComPort::SetCustomBaudRate(DWORD value) {
  Store(FCustomBaudRate, value);
}
DWORD TQuorComPort::GetLineRate() const {
  return FCustomBaudRate != 0 ? FCustomBaudRate : BaudRateValue(FBaudRate);
}
void TQuorComPort::SetByteSize(TQuorByteSize value) {
  Store(FByteSize, value);
}
void TQuorComPort::SetParity(TQuorParity value) {
  Store(FParity, value);
}
void TQuorComPort::StorePort(std::uint8_t value) {
  Store(FPort, value);
}
void TQuorComPort::SetStopBits(TQuorStopBits value) {
  Store(FStopBits, value);
}

void TQuorComPort::SetFlowControl(TQuorFlowControl value) {
  Store(FFlowControl, value);
}

TQuorComPortConnection& TQuorComPort::Open() const {
  CheckNotActive();
  return static_cast<TQuorComPortConnection&>(*Connections->Items(0));
}

namespace {
void Escape(HANDLE port, DWORD function) {
  if (!platform::Serial().EscapeCommFunction(port, function)) {
    const DWORD error = platform::Kernel().GetLastError();
    throw EQuorTransportException(_Str_CanNotWriteToConnection, error);
  }
}
}  // namespace

void TQuorComPort::SetDTR(bool on) {
  Escape(Open().GetPortHandle(), on ? SETDTR : CLRDTR);
}

void TQuorComPort::SetRTS(bool on) {
  Escape(Open().GetPortHandle(), on ? SETRTS : CLRRTS);
}

TQuorModemLines TQuorComPort::GetModemStatus() {
  DWORD status = 0;
  if (!platform::Serial().GetCommModemStatus(Open().GetPortHandle(), &status)) {
    const DWORD error = platform::Kernel().GetLastError();
    throw EQuorTransportException(_Str_CanNotReadFromConnection, error);
  }
  return ModemLines(status);
}

void TQuorComPort::SendBreak(DWORD milliseconds) {
  if (milliseconds == 0 || milliseconds > 5000) throw EQuorTransportException(_Str_InvalidArgument);
  const HANDLE port = Open().GetPortHandle();
  Escape(port, SETBREAK);
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  Escape(port, CLRBREAK);
}

TQuorLineErrors TQuorComPort::GetLineErrors() const {
  TQuorLineErrors errors;
  if (!Active || Connections->Count() == 0) return errors;
  const auto& link = static_cast<TQuorComPortConnection&>(*Connections->Items(0)).Link;
  if (!link) return errors;
  errors.Breaks = link->Counts[0].load();
  errors.FramingErrors = link->Counts[1].load();
  errors.ParityErrors = link->Counts[2].load();
  errors.Overruns = link->Counts[3].load();
  return errors;
}

std::string TQuorComPort::GetPortName() const {
  return "COM" + IntToStr(FPort);
}

void TQuorComPort::InternalConnect() {
  FLinkError = 0;
  auto* connection = new TQuorComPortConnection(this);
  Connections->Add(connection);
}

void TQuorComPort::InternalClose() {
  if (Connections->Count() > 0) Connections->Delete(0);
}

void TQuorComPort::GetProperties(TPropList& list) const {
  TQuorCustomTransport::GetProperties(list);
  // Ahead of the four published ones; a form written before it existed, or
  // one that leaves it at 0, reads back the same.
  TPropInfo custom =
      OrdinalProperty<DWORD, &TQuorComPort::GetCustomBaudRate, &TQuorComPort::SetCustomBaudRate>(
          "CustomBaudRate", &kCardinalType);
  custom.IsStored = [](const TComponent& c) { return AsComPort(c).GetCustomBaudRate() != 0; };
  list.push_back(std::move(custom));
  // Also ahead of them; a form written before it existed reads back as none.
  TPropInfo flow = OrdinalProperty<TQuorFlowControl, &TQuorComPort::GetFlowControl,
                                   &TQuorComPort::SetFlowControl>("FlowControl", &kFlowControlType);
  flow.IsStored = [](const TComponent& c) { return AsComPort(c).GetFlowControl() != fcNone; };
  list.push_back(std::move(flow));
  list.push_back(
      OrdinalProperty<TQuorBaudRate, &TQuorComPort::GetBaudRate, &TQuorComPort::SetBaudRate>(
          "BaudRate", &kBaudRateType));
  list.push_back(OrdinalProperty<TQuorParity, &TQuorComPort::GetParity, &TQuorComPort::SetParity>(
      "Parity", &kParityType));
  list.push_back(OrdinalProperty<std::uint8_t, &TQuorComPort::GetPort, &TQuorComPort::SetPort>(
      "Port", &kPortType));
  list.push_back(
      OrdinalProperty<TQuorStopBits, &TQuorComPort::GetStopBits, &TQuorComPort::SetStopBits>(
          "StopBits", &kStopBitsType));
}

}  // namespace quorlink
