#include "quorlink/comport/QuorPortWatcher.h"

#include <set>

#include "comport/PortNames.h"
#include "platform/PortDevices.h"
#include "quorlink/comport/QuorPortList.h"
#include "quorlink/core/Application.h"

namespace quorlink {

TQuorPortWatcher::TQuorPortWatcher(TComponent* owner)
    : TComponent(owner), session_(std::make_shared<unsigned>(0)) {}

TQuorPortWatcher::~TQuorPortWatcher() {
  ++*session_;
}

void TQuorPortWatcher::SetActive(bool value) {
  CheckMainThread(value ? "TQuorPortWatcher start" : "TQuorPortWatcher stop");
  if (value == GetActive()) return;
  ++*session_;
  if (!value) {
    watch_.reset();
    known_.clear();
    return;
  }
  // Watch first, then list: a port that comes in between is listed and its
  // arrival, already known, raises nothing.
  std::weak_ptr<unsigned> session = session_;
  const unsigned started = *session_;
  auto watch = platform::OsWatchPorts([this, session, started](const auto& changes) {
    auto alive = session.lock();
    if (alive && *alive == started) Changed(changes);
  });
  if (!watch) RaiseLastOSError();
  for (auto& port : ListComPorts()) known_.emplace(port.Path, std::move(port));
  watch_ = std::move(watch);
}

std::vector<TQuorPortInfo> TQuorPortWatcher::Ports() const {
  std::vector<TQuorPortInfo> ports;
  for (const auto& [path, port] : known_) ports.push_back(port);
  return ports;
}

void TQuorPortWatcher::Changed(const std::vector<platform::PortChange>& changes) {
  // A handler may stop, restart or destroy the watcher: the rest of the
  // batch belongs to a session that is over.
  std::weak_ptr<unsigned> session = session_;
  const unsigned current = *session_;
  for (const auto& change : changes) {
    auto alive = session.lock();
    if (!alive || *alive != current) return;
    switch (change.kind) {
      case platform::PortChange::kArrived:
        Arrived(change.port);
        break;
      case platform::PortChange::kRemoved:
        Removed(change.port.Path);
        break;
      case platform::PortChange::kRescan:
        Rescan();
        break;
    }
  }
}

void TQuorPortWatcher::Arrived(TQuorPortInfo port) {
  if (known_.count(port.Path) != 0) return;
  NameComPorts(port);
  const auto& stored = known_.emplace(port.Path, std::move(port)).first->second;
  DoArrival(TQuorPortInfo(stored));
}

void TQuorPortWatcher::Removed(const std::string& path) {
  auto it = known_.find(path);
  if (it == known_.end()) return;
  TQuorPortInfo port = std::move(it->second);
  known_.erase(it);
  DoRemoval(port);
}

void TQuorPortWatcher::Rescan() {
  std::map<std::string, TQuorPortInfo> now;
  for (auto& port : ListComPorts()) now.emplace(port.Path, std::move(port));
  std::vector<std::string> gone;
  for (const auto& [path, port] : known_)
    if (now.count(path) == 0) gone.push_back(path);
  std::weak_ptr<unsigned> session = session_;
  const unsigned current = *session_;
  auto over = [&] {
    auto alive = session.lock();
    return !alive || *alive != current;
  };
  for (const auto& path : gone) {
    if (over()) return;
    Removed(path);
  }
  for (auto& [path, port] : now) {
    if (over()) return;
    if (known_.count(path) == 0) {
      known_.emplace(path, port);
      DoArrival(port);
    }
  }
}

void TQuorPortWatcher::DoArrival(const TQuorPortInfo& port) {
  try {
    if (OnArrival) OnArrival(this, port);
  } catch (...) {
    HandleException(this);
  }
}

void TQuorPortWatcher::DoRemoval(const TQuorPortInfo& port) {
  try {
    if (OnRemoval) OnRemoval(this, port);
  } catch (...) {
    HandleException(this);
  }
}

}  // namespace quorlink
