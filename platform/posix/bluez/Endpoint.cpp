// BlueZ sockets: bind picks the adapter and channel, listen and published
// records register server profiles whose links queue on the socket, connect
// goes through ConnectProfile (by class) or a kernel RFCOMM socket.
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/posix/MainLoop.h"
#include "platform/posix/PosixWinsockSocket.h"
#include "platform/posix/bluez/Bluez.h"
#include "platform/posix/bluez/Bus.h"
#include "platform/posix/bluez/EndpointImpl.h"
#include "platform/posix/bluez/Rfcomm.h"
#include "quorlink/platform/BluetoothTypes.h"

namespace quorlink::platform::posix::bluez {

namespace {

// ConnectProfile pages the device and asks its records: seconds on air.
constexpr std::uint64_t kConnectUsec = 40'000'000;

bool FindAdapter(std::uint64_t radio, Adapter& out, int& code) {
  std::vector<Adapter> adapters;
  std::vector<Device> devices;
  if (Objects(adapters, devices) != 0) {
    code = WSAENETDOWN;
    return false;
  }
  for (const auto& a : adapters) {
    if (radio == 0 ? a.powered : a.address == radio) {
      out = a;
      code = a.powered ? 0 : WSAENETDOWN;
      return a.powered;
    }
  }
  code = radio == 0 ? WSAENETDOWN : WSAEADDRNOTAVAIL;
  return false;
}

bool ChannelHeld(std::uint64_t radio, std::uint32_t channel, const EndpointImpl* except);

std::uint64_t AdapterOf(const std::vector<Adapter>& adapters, const Device& device) {
  for (const auto& a : adapters)
    if (a.path == device.adapterPath) return a.address;
  return 0;
}

}  // namespace

EndpointImpl::EndpointImpl(int fd) : fd_(fd) {
  AddEndpoint(this);
}

EndpointImpl::~EndpointImpl() {
  // A published record outlives the socket until it is deleted; the bare
  // profile of a plain listen does not.
  for (auto* r : Registrations())
    if (r->bare && r->owner == this) Unregister(r);
  RemoveEndpoint(this);
  if (client_ != nullptr) Unregister(client_);
  sd_bus_slot_unref(call_);
  sdp_.reset();
  StopRfcommWatch();
  if (feed_ >= 0) close(feed_);
  if (queue_ >= 0) close(queue_);
}

int EndpointImpl::Bind(std::uint64_t radio, std::uint32_t port, std::uint64_t& boundRadio,
                       std::uint32_t& channel) {
  Adapter adapter;
  int code = 0;
  if (!FindAdapter(radio, adapter, code)) return code;
  std::uint32_t chosen = 0;
  if (port >= 1 && port <= 30) {
    if (ChannelHeld(adapter.address, port, this)) return WSAEADDRINUSE;
    chosen = port;
  } else if (KernelSocketsRequired()) {
    int err = AnyChannel(adapter.address, chosen);
    if (err != 0) return WsaErrorFromRfcomm(err);
  } else {
    // A stand-in bluetoothd: the lowest channel this process leaves free.
    for (std::uint32_t c = 1; c <= 30 && chosen == 0; ++c)
      if (!ChannelHeld(adapter.address, c, this)) chosen = c;
    if (chosen == 0) return WSAEADDRINUSE;
  }
  radio_ = boundRadio = adapter.address;
  channel_ = channel = chosen;
  bound_ = true;
  return 0;
}

int EndpointImpl::MakeQueue() {
  if (feed_ >= 0) return 0;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) != 0) return WsaErrorFromErrno(errno);
  fcntl(pair[1], F_SETFL, fcntl(pair[1], F_GETFL) | O_NONBLOCK);
  queue_ = pair[0];
  feed_ = pair[1];
  return 0;
}

int EndpointImpl::Listen() {
  if (!bound_) return WSAEINVAL;
  if (int code = MakeQueue()) return code;
  bool published = false;
  for (auto* r : Registrations()) published |= r->owner == this;
  if (!published) {
    // Nothing published: a profile of its own carries the channel.
    Registration bare;
    char uuid[40];
    std::snprintf(uuid, sizeof uuid, "51a7c0de-0000-4000-8000-%012llx",
                  static_cast<unsigned long long>(radio_ << 8 | channel_) & 0xFFFFFFFFFFFFull);
    bare.uuid = uuid;
    bare.radio = radio_;
    bare.channel = channel_;
    bare.bare = true;
    bare.owner = this;
    Registration* r = nullptr;
    if (int code = Register(std::move(bare), &r)) return code;
  }
  if (queue_ >= 0) {
    dup3(queue_, fd_, O_CLOEXEC);
    close(queue_);
    queue_ = -1;
  }
  listening_ = true;
  return 0;
}

bool EndpointImpl::OnLink(Registration* registration, int fd, std::uint64_t peer) {
  if (registration == client_ && done_) {
    // The link of this socket's own connect: it becomes the socket.
    dup3(fd, fd_, O_CLOEXEC);
    close(fd);
    Finish(0);
    return true;
  }
  if (registration->client || feed_ < 0) return false;
  char data[sizeof peer];
  std::memcpy(data, &peer, sizeof peer);
  iovec iov{data, sizeof data};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  cmsghdr* c = CMSG_FIRSTHDR(&msg);
  c->cmsg_level = SOL_SOCKET;
  c->cmsg_type = SCM_RIGHTS;
  c->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
  // A full queue (the backlog) refuses the link, as a full listen queue does.
  const bool queued = sendmsg(feed_, &msg, MSG_DONTWAIT | MSG_NOSIGNAL) >= 0;
  close(fd);
  return queued;
}

int EndpointImpl::Accept(bool nonBlocking, int& link, std::uint64_t& peer) {
  if (!listening_) return WSAEINVAL;
  char data[sizeof peer] = {};
  iovec iov{data, sizeof data};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  ssize_t n;
  do {
    n = recvmsg(fd_, &msg, MSG_CMSG_CLOEXEC | (nonBlocking ? MSG_DONTWAIT : 0));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return WsaErrorFromErrno(errno);
  link = -1;
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c))
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS)
      std::memcpy(&link, CMSG_DATA(c), sizeof link);
  if (link < 0) return WSAEWOULDBLOCK;
  std::memcpy(&peer, data, sizeof peer);
  const int flags = fcntl(link, F_GETFL);
  fcntl(link, F_SETFL, nonBlocking ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
  return 0;
}

int EndpointImpl::Connect(std::uint64_t local, std::uint64_t remote, std::uint32_t channel,
                          const GUID& serviceClass, bool nonBlocking, Done done) {
  local_ = local;
  remote_ = remote;
  class_ = serviceClass;
  if (channel != 0) {
    done_ = std::move(done);
    int code = ConnectRfcomm(local, remote, channel, nonBlocking);
    if (code != WSAEWOULDBLOCK) done_ = nullptr;
    return code;
  }
  // By class bluetoothd answers later, from the main loop: a blocking
  // socket there would wait for itself.
  if (!nonBlocking) return WSAEOPNOTSUPP;
  int err = 0;
  sd_bus* bus = ProfileBus(err);
  if (bus == nullptr) return WSAENETDOWN;
  std::vector<Adapter> adapters;
  std::vector<Device> devices;
  if (Objects(adapters, devices) != 0) return WSAENETDOWN;
  const Device* device = nullptr;
  for (const auto& d : devices) {
    auto a = std::find_if(adapters.begin(), adapters.end(),
                          [&](const auto& x) { return x.path == d.adapterPath; });
    if (d.address != remote || a == adapters.end() || (local != 0 && a->address != local)) continue;
    if (!a->powered) return WSAENETDOWN;
    device = &d;
    break;
  }
  // bluetoothd reaches only the devices it knows (found or paired before).
  if (device == nullptr) return WSAEHOSTUNREACH;
  if (local_ == 0) local_ = AdapterOf(adapters, *device);
  Registration client;
  client.uuid = UuidText(serviceClass);
  client.client = true;
  client.owner = this;
  if (int code = Register(std::move(client), &client_)) {
    // bluetoothd keeps one profile per class: while another program (or a
    // listener here) holds it, ask the device's SDP server for the channel.
    if (code != WSAEACCES && code != WSAEADDRINUSE) return code;
    return ConnectBySdp(std::move(done));
  }
  MessageRef call;
  if (sd_bus_message_new_method_call(bus, &call.m, "org.bluez", device->path.c_str(),
                                     "org.bluez.Device1", "ConnectProfile") < 0 ||
      sd_bus_message_append(call.m, "s", client_->uuid.c_str()) < 0)
    return WSAENOBUFS;
  int r = sd_bus_call_async(
      bus, &call_, call.m,
      [](sd_bus_message* reply, void* self, sd_bus_error*) {
        static_cast<EndpointImpl*>(self)->OnConnectReply(reply);
        return 0;
      },
      this, kConnectUsec);
  if (r < 0) return WSAENETDOWN;
  done_ = std::move(done);
  return WSAEWOULDBLOCK;
}

int EndpointImpl::ConnectBySdp(Done done) {
  if (int code = StartSdp()) return code;
  done_ = std::move(done);
  return WSAEWOULDBLOCK;
}

int EndpointImpl::StartSdp() {
  sdp_ = std::make_unique<SdpLookup>();
  int code = sdp_->Start(local_, remote_, class_, [this](int error, std::uint32_t channel) {
    sdp_.reset();
    if (error == 0) error = ConnectRfcomm(local_, remote_, channel, true);
    if (error != WSAEWOULDBLOCK) Finish(error);
  });
  if (code != 0) sdp_.reset();
  return code;
}

void EndpointImpl::OnConnectReply(sd_bus_message* reply) {
  call_ = sd_bus_slot_unref(call_);
  const sd_bus_error* error = sd_bus_message_get_error(reply);
  if (error != nullptr && sd_bus_error_is_set(error)) {
    const int code =
        WsaErrorFromBluez(error->name, error->message != nullptr ? error->message : "");
    // bluetoothd answers from the records it last read of the device, which
    // may be older than the service: the device itself may still offer it.
    if (code == WSASERVICE_NOT_FOUND && StartSdp() == 0) return;
    Finish(code);
    return;
  }
  // bluetoothd hands the link over (NewConnection) before it answers, and
  // its messages keep their order: an answer without a link has none to give.
  Finish(WSAECONNABORTED);
}

void EndpointImpl::Finish(int code) {
  if (!done_) return;
  auto done = std::move(done_);
  done_ = nullptr;
  call_ = sd_bus_slot_unref(call_);
  sdp_.reset();
  StopRfcommWatch();
  if (code == 0) adopted_ = true;
  done(code);
}

void EndpointImpl::OnBluezGone() {
  if (adopted_) ::shutdown(fd_, SHUT_RDWR);
  // A ConnectProfile in flight gets no answer now; a kernel connect goes on.
  if (call_ != nullptr) Finish(WSAENETDOWN);
}

void EndpointImpl::StopRfcommWatch() {
  if (!watchingRfcomm_) return;
  PosixMainLoop().Unwatch(fd_);
  watchingRfcomm_ = false;
}

int EndpointImpl::ConnectRfcomm(std::uint64_t local, std::uint64_t remote, std::uint32_t channel,
                                bool nonBlocking) {
  int s = -1;
  int err = Links().Rfcomm(local, remote, channel, nonBlocking, s);
  if (s >= 0) {
    // Without a bound adapter the kernel chose one: the socket knows which.
    if (local_ == 0) local_ = RfcommLocalAddress(s);
    dup3(s, fd_, O_CLOEXEC);
    close(s);
  }
  if (err == 0) {
    adopted_ = true;
    return 0;
  }
  if (err != EINPROGRESS) return WsaErrorFromRfcomm(err);
  watchingRfcomm_ = PosixMainLoop().Watch(fd_, EPOLLOUT, [this](std::uint32_t) {
    int soError = 0;
    socklen_t length = sizeof soError;
    if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &length) != 0) soError = errno;
    Finish(WsaErrorFromRfcomm(soError));
  });
  return watchingRfcomm_ ? WSAEWOULDBLOCK : WSAENOBUFS;
}

namespace {

bool ChannelHeld(std::uint64_t radio, std::uint32_t channel, const EndpointImpl* except) {
  for (auto* e : Endpoints())
    if (e != except && e->Holds(radio, channel)) return true;
  // A record published for the channel without a socket on it.
  for (auto* r : Registrations())
    if (!r->client && r->owner == nullptr && r->channel == channel && r->radio == radio)
      return true;
  return false;
}

}  // namespace

std::shared_ptr<Endpoint> Endpoint::Create(int fd) {
  return std::make_shared<EndpointImpl>(fd);
}

}  // namespace quorlink::platform::posix::bluez
