// An SDP client for one question: which RFCOMM channel serves a class.
#include "platform/posix/bluez/SdpClient.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/MainLoop.h"
#include "platform/posix/SdpStream.h"
#include "platform/posix/bluez/Endpoint.h"
#include "platform/posix/bluez/Rfcomm.h"
#include "quorlink/platform/BluetoothTypes.h"

namespace quorlink::platform::posix::bluez {

namespace {

constexpr std::uint8_t kSearchAttributeRequest = 0x06;
constexpr std::uint8_t kSearchAttributeResponse = 0x07;
constexpr std::uint8_t kErrorResponse = 0x01;
constexpr std::uint8_t kUuidType = 3, kUintType = 1, kSequenceType = 6, kAlternativeType = 7;
constexpr std::uint16_t kProtocolDescriptorList = 0x0004;
constexpr std::uint16_t kRfcommUuid = 0x0003;
// Larger answers than this are not a record list any device sends.
constexpr std::size_t kMaxLists = 64 * 1024;
constexpr std::size_t kMaxContinuation = 16;

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

// Whether a UUID element names RFCOMM, in any of its three sizes.
bool IsRfcomm(const SdpElement& e) {
  static const std::uint8_t kBase[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                         0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};
  if (e.type != kUuidType) return false;
  if (e.size == 2) return Get16(e.data) == kRfcommUuid;
  if (e.size != 4 && e.size != 16) return false;
  if (Get16(e.data) != 0 || Get16(e.data + 2) != kRfcommUuid) return false;
  for (std::size_t i = 0; e.size == 16 && i < 12; ++i)
    if (e.data[4 + i] != kBase[i]) return false;
  return true;
}

// A protocol descriptor list (or an alternative of them): the channel of its
// RFCOMM entry, or 0.
std::uint32_t ChannelIn(const std::uint8_t* data, std::size_t size) {
  SdpElement list;
  if (!ReadSdpElement(data, size, list)) return 0;
  if (list.type == kAlternativeType) {
    for (std::size_t at = 0; at < list.size;) {
      SdpElement stack;
      if (!ReadSdpElement(list.data + at, list.size - at, stack)) return 0;
      if (std::uint32_t c = ChannelIn(list.data + at, stack.total)) return c;
      at += stack.total;
    }
    return 0;
  }
  if (list.type != kSequenceType) return 0;
  for (std::size_t at = 0; at < list.size;) {
    SdpElement protocol, uuid, parameter;
    if (!ReadSdpElement(list.data + at, list.size - at, protocol)) return 0;
    at += protocol.total;
    if (protocol.type != kSequenceType || !ReadSdpElement(protocol.data, protocol.size, uuid) ||
        !IsRfcomm(uuid))
      continue;
    if (ReadSdpElement(uuid.data + uuid.size, protocol.size - uuid.total, parameter) &&
        parameter.type == kUintType && parameter.size == 1 && parameter.data[0] >= 1 &&
        parameter.data[0] <= 30)
      return parameter.data[0];
  }
  return 0;
}

}  // namespace

std::vector<std::uint8_t> SdpSearchRequest(const GUID& g, std::uint16_t transaction,
                                           const std::vector<std::uint8_t>& continuation) {
  std::vector<std::uint8_t> out{kSearchAttributeRequest};
  Put16(out, transaction);
  Put16(out, 0);  // parameter length, below
  // ServiceSearchPattern: one 128-bit UUID.
  out.insert(out.end(), {0x35, 0x11, 0x1C});
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(g.Data1 >> (8 * i)));
  Put16(out, g.Data2);
  Put16(out, g.Data3);
  out.insert(out.end(), g.Data4, g.Data4 + 8);
  Put16(out, 0x0400);  // MaximumAttributeByteCount
  // AttributeIDList: the protocol descriptor list alone.
  out.insert(out.end(), {0x35, 0x03, 0x09});
  Put16(out, kProtocolDescriptorList);
  out.push_back(static_cast<std::uint8_t>(continuation.size()));
  out.insert(out.end(), continuation.begin(), continuation.end());
  const auto length = static_cast<std::uint16_t>(out.size() - 5);
  out[3] = static_cast<std::uint8_t>(length >> 8);
  out[4] = static_cast<std::uint8_t>(length);
  return out;
}

int ReadSdpAnswer(const std::uint8_t* pdu, std::size_t size, std::uint16_t transaction,
                  std::vector<std::uint8_t>& lists, std::vector<std::uint8_t>& continuation) {
  if (size < 5 || Get16(pdu + 1) != transaction || Get16(pdu + 3) != size - 5)
    return WSAECONNABORTED;
  if (pdu[0] == kErrorResponse) return WSASERVICE_NOT_FOUND;
  if (pdu[0] != kSearchAttributeResponse || size < 8) return WSAECONNABORTED;
  const std::size_t count = Get16(pdu + 5);
  if (7 + count + 1 > size) return WSAECONNABORTED;
  const std::size_t stateLength = pdu[7 + count];
  if (stateLength > kMaxContinuation || 7 + count + 1 + stateLength != size ||
      lists.size() + count > kMaxLists)
    return WSAECONNABORTED;
  lists.insert(lists.end(), pdu + 7, pdu + 7 + count);
  continuation.assign(pdu + 8 + count, pdu + size);
  return 0;
}

int RfcommChannelOf(const std::vector<std::uint8_t>& lists, std::uint32_t& channel) {
  SdpElement all;
  if (!ReadSdpElement(lists.data(), lists.size(), all) || all.type != kSequenceType ||
      all.total != lists.size())
    return WSASERVICE_NOT_FOUND;
  for (std::size_t at = 0; at < all.size;) {
    SdpElement record;
    if (!ReadSdpElement(all.data + at, all.size - at, record)) break;
    std::uint32_t found = 0;
    WalkSdpAttributes(all.data + at, record.total,
                      [&](std::uint16_t id, const std::uint8_t* value, std::size_t length) {
                        if (id == kProtocolDescriptorList) found = ChannelIn(value, length);
                        return found == 0;
                      });
    if (found != 0) {
      channel = found;
      return 0;
    }
    at += record.total;
  }
  return WSASERVICE_NOT_FOUND;
}

SdpLookup::~SdpLookup() {
  Stop();
}

int SdpLookup::Start(std::uint64_t local, std::uint64_t remote, const GUID& serviceClass,
                     Done done) {
  class_ = serviceClass;
  int err = Links().Sdp(local, remote, fd_);
  if (err != 0 && err != EINPROGRESS) {
    Stop();
    return WsaErrorFromRfcomm(err);
  }
  // Writable once connected; then each answer makes it readable.
  watching_ = PosixMainLoop().Watch(fd_, EPOLLOUT, [this](std::uint32_t e) { OnReady(e); });
  if (!watching_) {
    Stop();
    return WSAENOBUFS;
  }
  done_ = std::move(done);
  return 0;
}

bool SdpLookup::Send() {
  const auto request = SdpSearchRequest(class_, transaction_, continuation_);
  return ::send(fd_, request.data(), request.size(), MSG_NOSIGNAL | MSG_DONTWAIT) ==
         static_cast<ssize_t>(request.size());
}

void SdpLookup::OnReady(std::uint32_t events) {
  if (!sent_) {
    int soError = 0;
    socklen_t length = sizeof soError;
    if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &length) != 0) soError = errno;
    if (soError == 0 && (events & EPOLLOUT) == 0) return;
    if (soError != 0) return Complete(WsaErrorFromRfcomm(soError), 0);
    if (!Send()) return Complete(WsaErrorFromRfcomm(errno), 0);
    sent_ = true;
    PosixMainLoop().Modify(fd_, EPOLLIN);
    return;
  }
  std::vector<std::uint8_t> pdu(64 * 1024);
  ssize_t n = ::recv(fd_, pdu.data(), pdu.size(), MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) return Complete(n == 0 ? WSAECONNABORTED : WsaErrorFromRfcomm(errno), 0);
  if (int code = ReadSdpAnswer(pdu.data(), static_cast<std::size_t>(n), transaction_, lists_,
                               continuation_))
    return Complete(code, 0);
  if (!continuation_.empty()) {
    ++transaction_;
    if (!Send()) Complete(WsaErrorFromRfcomm(errno), 0);
    return;
  }
  std::uint32_t channel = 0;
  const int code = RfcommChannelOf(lists_, channel);
  Complete(code, channel);
}

void SdpLookup::Complete(int code, std::uint32_t channel) {
  Stop();
  auto done = std::move(done_);
  done_ = nullptr;
  // The last use of this object: done may destroy it.
  if (done) done(code, channel);
}

void SdpLookup::Stop() {
  if (watching_) PosixMainLoop().Unwatch(fd_);
  watching_ = false;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

}  // namespace quorlink::platform::posix::bluez
