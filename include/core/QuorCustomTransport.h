// The abstract transport and connection: state rules, ownership, events and
// hidden message windows. Everything here runs on the main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/Classes.h"
#include "core/QuorBaseComponent.h"
#include "core/QuorStrings.h"
#include "core/SysUtils.h"
#include "core/TypInfo.h"

namespace quorlink {

using TQuorByteArray = std::vector<std::uint8_t>;

enum TQuorTransportFlag : std::uint8_t { tfClient = 0, tfServer = 1 };
using TQuorTransportFlags = TSet<TQuorTransportFlag>;

enum TQuorTransportCategory : std::uint8_t { tcBluetooth = 0, tcCOMPort = 1, tcIrDA = 2 };

class TQuorCustomConnection;
class TQuorCustomTransport;

// Sender is always the connection concerned.
using TQuorConnectEvent = TEvent<TQuorCustomConnection*>;
using TQuorDisconnectEvent = TEvent<TQuorCustomConnection*>;
using TQuorReadEvent = TEvent<TQuorCustomConnection*, const TQuorByteArray&>;

class EQuorTransportException : public Exception {
 public:
  explicit EQuorTransportException(const TResStringRec& rec) : Exception(rec) {}
};

class TQuorCustomTransport : public TQuorBaseComponent {
 public:
  explicit TQuorCustomTransport(TComponent* owner);
  // Kinds call DestroyTransport from their own destructor, where the whole
  // object still stands; this only releases the window.
  ~TQuorCustomTransport() override;
  const char* ClassName() const override { return "TQuorCustomTransport"; }
  // Free runs Close here, so that a raising handler reaches the caller.
  void BeforeDestruction() override;

  void Connect();
  void Listen();
  void Close();

  int GetConnectionCount() const { return Connections->Count(); }
  int ConnectionCount() const { return GetConnectionCount(); }
  // Raises the list's index error outside 0..count-1.
  TQuorCustomConnection* GetConnections(int index) const { return Connections->Items(index); }

  virtual TQuorTransportCategory GetCategory() const = 0;
  virtual std::string GetDescription() const = 0;
  virtual TQuorTransportFlags GetFlags() const = 0;
  void SetCategory(TQuorTransportCategory) {}
  void SetDescription(const std::string&) {}
  void SetFlags(TQuorTransportFlags) {}

  bool IsActive() const { return Active; }
  bool IsServerMode() const { return ServerMode; }

  TQuorConnectEvent OnConnect;
  TQuorDisconnectEvent OnDisconnect;
  TQuorReadEvent OnRead;

  void GetProperties(TPropList& list) const override;

 protected:
  virtual void InternalConnect() = 0;
  virtual void InternalClose() = 0;
  // Kinds without tfServer leave it; Listen never reaches it.
  virtual void InternalListen();

  void CheckActive() const;
  void CheckNotActive() const;

  // The hidden window's procedure; no exception leaves it.
  void WndProc(TMessage& message);
  // Closes (passing what a handler raises to the exception hook), then frees
  // the remaining connections with the transport inactive, so without
  // OnDisconnect. Idempotent.
  void DestroyTransport() noexcept;

  bool Active = false;
  std::unique_ptr<TObjectList<TQuorCustomConnection>> Connections;
  bool ServerMode = false;
  HWND WindowHandle = nullptr;

 private:
  friend class TQuorCustomConnection;
};

class TQuorCustomConnection : public TObject {
 public:
  // Raises "Invalid argument." without a transport; makes the window.
  explicit TQuorCustomConnection(TQuorCustomTransport* transport);
  ~TQuorCustomConnection() override;
  TQuorCustomConnection(const TQuorCustomConnection&) = delete;
  TQuorCustomConnection& operator=(const TQuorCustomConnection&) = delete;
  const char* ClassName() const override { return "TQuorCustomConnection"; }

  // Disconnect, release the window, and close a client transport; each
  // step runs whatever the one before raised.
  void BeforeDestruction() override;

  virtual std::string GetLocalAddress() = 0;
  virtual std::string GetLocalName() = 0;
  virtual std::string GetRemoteAddress() = 0;
  virtual std::string GetRemoteName() = 0;
  virtual void Write(const TQuorByteArray& buf) = 0;

  // Takes the connection out of its transport's list, which destroys it.
  void Close() { DeleteSelf(); }
  TQuorCustomTransport* GetTransport() const { return Transport; }

 protected:
  // Releases the link; called once, from BeforeDestruction.
  virtual void Disconnect() = 0;

  void DoConnect();
  void DoDisconnect();
  void DoRead(const TQuorByteArray& buf);
  // Destroys the connection if its transport lists it; touch nothing of
  // the object afterwards.
  void DeleteSelf();
  // The hidden window's procedure; no exception leaves it.
  void WndProc(TMessage& message);

  TQuorCustomTransport* const Transport;
  HWND WindowHandle = nullptr;

 private:
  static TQuorCustomTransport* Checked(TQuorCustomTransport* transport);
};

}  // namespace quorlink
