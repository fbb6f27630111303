#include "quorlink/core/QuorCustomTransport.h"

#include <any>
#include <exception>

#include "core/StandardTypes.h"
#include "quorlink/core/Application.h"

namespace quorlink {

// ---- TQuorCustomTransport ----

TQuorCustomTransport::TQuorCustomTransport(TComponent* owner)
    : TQuorBaseComponent(owner),
      Connections(std::make_unique<TObjectList<TQuorCustomConnection>>()) {
  WindowHandle = AllocateHWnd([this](TMessage& m) { WndProc(m); });
}

TQuorCustomTransport::~TQuorCustomTransport() {
  // InternalClose cannot be reached from here; the kind's destructor has
  // closed already (DestroyTransport).
  Active = false;
  Connections.reset();
  DeallocateHWnd(WindowHandle);
}

void TQuorCustomTransport::BeforeDestruction() {
  TQuorBaseComponent::BeforeDestruction();
  Close();
}

void TQuorCustomTransport::DestroyTransport() noexcept {
  try {
    Close();
  } catch (...) {
    DoError(this);
  }
  // What Close left behind goes now, with the transport inactive.
  Active = false;
  Connections.reset();
}

void TQuorCustomTransport::Connect() {
  CheckMainThread("Connect");
  if (Active) {
    if (ServerMode) throw EQuorTransportException(_Str_TransportInServerMode);
    return;
  }
  if (!GetFlags().Contains(tfClient)) throw EQuorTransportException(_Str_FutureNotSupported);
  InternalConnect();
  Active = true;
  ServerMode = false;
}

void TQuorCustomTransport::Listen() {
  CheckMainThread("Listen");
  if (Active) {
    if (!ServerMode) throw EQuorTransportException(_Str_TransportInClientMode);
    return;
  }
  if (!GetFlags().Contains(tfServer)) throw EQuorTransportException(_Str_FutureNotSupported);
  InternalListen();
  Active = true;
  ServerMode = true;
}

void TQuorCustomTransport::Close() {
  CheckMainThread("Close");
  if (!Active) return;
  InternalClose();
  Active = false;
  ServerMode = false;
}

void TQuorCustomTransport::InternalListen() {
  throw Exception("Abstract Error");
}

void TQuorCustomTransport::CheckActive() const {
  if (Active) throw EQuorTransportException(_Str_TransportActive);
}

void TQuorCustomTransport::CheckNotActive() const {
  if (!Active) throw EQuorTransportException(_Str_TransportNotActive);
}

void TQuorCustomTransport::WndProc(TMessage& message) {
  try {
    Dispatch(message);
  } catch (...) {
    DoError(this);
  }
}

void TQuorCustomTransport::DoError(TObject* sender) noexcept {
  // A copy: the handler may rebind or clear the event while it runs.
  const TQuorErrorEvent handler = OnError;
  if (handler) {
    try {
      throw;
    } catch (const std::exception& e) {
      try {
        handler(sender, e);
      } catch (...) {
        HandleException(sender);
      }
      return;
    } catch (...) {
      // Not a std::exception: only the application's hook can take it.
    }
  }
  HandleException(sender);
}

namespace {
const TTypeInfo kCategoryType{TTypeKind::tkEnumeration,
                              "TQuorTransportCategory",
                              {"tcBluetooth", "tcCOMPort", "tcIrDA"},
                              0,
                              2};
const TTypeInfo kFlagsType{TTypeKind::tkSet, "TQuorTransportFlags", {"tfClient", "tfServer"}, 0, 3};
const TTypeInfo kConnectEventType{TTypeKind::tkMethod, "TQuorConnectEvent", {}, 0, 0};
const TTypeInfo kDisconnectEventType{TTypeKind::tkMethod, "TQuorDisconnectEvent", {}, 0, 0};
const TTypeInfo kReadEventType{TTypeKind::tkMethod, "TQuorReadEvent", {}, 0, 0};
const TTypeInfo kErrorEventType{TTypeKind::tkMethod, "TQuorErrorEvent", {}, 0, 0};

TQuorCustomTransport& AsTransport(TComponent& c) {
  return static_cast<TQuorCustomTransport&>(c);
}
const TQuorCustomTransport& AsTransport(const TComponent& c) {
  return static_cast<const TQuorCustomTransport&>(c);
}

template <class Event, Event TQuorCustomTransport::*Slot>
TPropInfo EventProperty(const char* name, const TTypeInfo* type) {
  TPropInfo p{name, type, true, {}, {}, {}, {}, {}, {}};
  p.GetMethodName = [](const TComponent& c) { return (AsTransport(c).*Slot).Name(); };
  p.SetMethod = [](TComponent& c, const std::string& method, const TMethodTable& table) {
    if (method.empty()) {
      AsTransport(c).*Slot = nullptr;
      return true;
    }
    const Event* handler = table.Find<Event>(method);
    if (handler == nullptr) return false;
    AsTransport(c).*Slot = *handler;
    return true;
  };
  p.GetMethodValue = [](const TComponent& c) { return std::any(AsTransport(c).*Slot); };
  p.SetMethodValue = [](TComponent& c, const std::any& v) {
    AsTransport(c).*Slot = std::any_cast<const Event&>(v);
  };
  return p;
}
}  // namespace

void TQuorCustomTransport::GetProperties(TPropList& list) const {
  TQuorBaseComponent::GetProperties(list);
  TPropInfo category{"Category", &kCategoryType, false, {}, {}, {}, {}, {}, {}};
  category.GetOrd = [](const TComponent& c) { return std::int64_t{AsTransport(c).GetCategory()}; };
  category.SetOrd = [](TComponent& c, std::int64_t v) {
    AsTransport(c).SetCategory(static_cast<TQuorTransportCategory>(v));
  };
  list.push_back(std::move(category));
  TPropInfo description{"Description", &kStringType, false, {}, {}, {}, {}, {}, {}};
  description.GetStr = [](const TComponent& c) { return AsTransport(c).GetDescription(); };
  description.SetStr = [](TComponent& c, const std::string& v) {
    AsTransport(c).SetDescription(v);
  };
  list.push_back(std::move(description));
  TPropInfo flags{"Flags", &kFlagsType, false, {}, {}, {}, {}, {}, {}};
  flags.GetOrd = [](const TComponent& c) { return std::int64_t{AsTransport(c).GetFlags().Bits()}; };
  flags.SetOrd = [](TComponent& c, std::int64_t v) {
    AsTransport(c).SetFlags(TQuorTransportFlags::FromBits(static_cast<std::uint8_t>(v)));
  };
  list.push_back(std::move(flags));
  list.push_back(EventProperty<TQuorConnectEvent, &TQuorCustomTransport::OnConnect>(
      "OnConnect", &kConnectEventType));
  list.push_back(EventProperty<TQuorDisconnectEvent, &TQuorCustomTransport::OnDisconnect>(
      "OnDisconnect", &kDisconnectEventType));
  list.push_back(
      EventProperty<TQuorReadEvent, &TQuorCustomTransport::OnRead>("OnRead", &kReadEventType));
  list.push_back(
      EventProperty<TQuorErrorEvent, &TQuorCustomTransport::OnError>("OnError", &kErrorEventType));
}

// ---- TQuorCustomConnection ----

TQuorCustomTransport* TQuorCustomConnection::Checked(TQuorCustomTransport* transport) {
  if (transport == nullptr) throw EQuorTransportException(_Str_InvalidArgument);
  return transport;
}

TQuorCustomConnection::TQuorCustomConnection(TQuorCustomTransport* transport)
    : Transport(Checked(transport)) {
  WindowHandle = AllocateHWnd([this](TMessage& m) { WndProc(m); });
}

TQuorCustomConnection::~TQuorCustomConnection() {
  // A half-built connection never reached BeforeDestruction.
  if (WindowHandle != nullptr) DeallocateHWnd(WindowHandle);
}

void TQuorCustomConnection::BeforeDestruction() {
  std::exception_ptr error;
  try {
    Disconnect();
  } catch (...) {
    error = std::current_exception();
  }
  DeallocateHWnd(WindowHandle);
  WindowHandle = nullptr;
  if (!Transport->ServerMode) {
    try {
      Transport->Close();
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  if (error) std::rethrow_exception(error);
}

void TQuorCustomConnection::DoConnect() {
  if (Transport->OnConnect) Transport->OnConnect(this);
}

void TQuorCustomConnection::DoDisconnect() {
  if (Transport->Active && Transport->OnDisconnect) Transport->OnDisconnect(this);
}

void TQuorCustomConnection::DoRead(const TQuorByteArray& buf) {
  if (Transport->OnRead) Transport->OnRead(this, buf);
}

void TQuorCustomConnection::DeleteSelf() {
  auto& list = *Transport->Connections;
  const int count = list.Count();
  for (int i = 0; i < count; ++i) {
    if (list.Items(i) == this) {
      list.Delete(i);
      return;
    }
  }
}

void TQuorCustomConnection::WndProc(TMessage& message) {
  // Taken first: the handler may destroy this connection before it raises.
  TQuorCustomTransport* const transport = Transport;
  try {
    Dispatch(message);
  } catch (...) {
    transport->DoError(this);
  }
}

}  // namespace quorlink
