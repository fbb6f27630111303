/// @file
/// TQuorPortWatcher: events when serial ports come and go.
///
/// Thread rules: main thread only. The events are raised by the main loop
/// (Application().Run, ProcessMessages); the watcher has no thread and does
/// not poll. On Linux it reads the kernel's device events (a netlink socket
/// the main loop watches); on Windows a message-only window receives the
/// device-interface notifications of COM ports.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "quorlink/core/Classes.h"
#include "quorlink/core/Export.h"
#include "quorlink/platform/PortInfo.h"

namespace quorlink {

/// @cond INTERNAL
namespace platform {
class IPortWatch;
struct PortChange;
}  // namespace platform
/// @endcond

class TQuorPortWatcher;
/// OnArrival and OnRemoval: the watcher and the port that came or went.
using TQuorPortEvent = std::function<void(TQuorPortWatcher* Sender, const TQuorPortInfo& Port)>;

/// Raises OnArrival when a serial port appears and OnRemoval when it goes,
/// while Active. A port arrives once its device can be opened (on Linux the
/// kernel announces a device before its node has its final permissions); a
/// port whose attributes change raises nothing; a port that comes and goes
/// before it could be opened raises nothing. When the system drops
/// notifications (a burst overflowing the kernel's queue), the watcher lists
/// the ports again and raises what changed, so no arrival or removal is lost.
///
/// Waiting for one port (a reconnect):
/// @code
///   watcher.OnArrival = [&](TQuorPortWatcher*, const TQuorPortInfo& port) {
///     if (port.Matches("COM3")) reconnect();
///   };
///   watcher.SetActive(true);
/// @endcode
class QUORLINK_API TQuorPortWatcher : public TComponent {
 public:
  /// An inactive watcher.
  explicit TQuorPortWatcher(TComponent* owner);
  /// Stops watching; no event follows.
  ~TQuorPortWatcher() override;
  /// "TQuorPortWatcher".
  const char* ClassName() const override { return "TQuorPortWatcher"; }

  ///@{
  /// Starts or stops watching. Starting takes the ports present as known
  /// (they raise no event) and raises EOSError when the system refuses the
  /// notifications; stopping (or destroying the watcher) releases them, and
  /// no event follows, even one already read.
  bool GetActive() const { return watch_ != nullptr; }
  void SetActive(bool value);
  ///@}
  /// The ports known now: those present at start and since arrived.
  std::vector<TQuorPortInfo> Ports() const;

  /// A port came, with what the system knows of it and its COM names.
  TQuorPortEvent OnArrival;
  /// A port went, with what was known of it when it came (the system has
  /// forgotten it by now).
  TQuorPortEvent OnRemoval;

 protected:
  ///@{
  /// Raise the events; an exception from a handler goes to
  /// ApplicationHandleException.
  virtual void DoArrival(const TQuorPortInfo& port);
  virtual void DoRemoval(const TQuorPortInfo& port);
  ///@}

 private:
  void Changed(const std::vector<platform::PortChange>& changes);
  void Arrived(TQuorPortInfo port);
  void Removed(const std::string& path);
  void Rescan();

  std::unique_ptr<platform::IPortWatch> watch_;
  std::map<std::string, TQuorPortInfo> known_;
  // Counts starts and stops: a batch of changes read under one start is
  // dropped once a handler stops, restarts or destroys the watcher.
  std::shared_ptr<unsigned> session_;
};

}  // namespace quorlink
