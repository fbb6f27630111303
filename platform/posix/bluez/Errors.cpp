// Every mapping of a BlueZ, D-Bus or kernel RFCOMM error to a Winsock code,
// in one place. bluetoothd reports a failed page or link as
// org.bluez.Error.Failed with the kernel's strerror text (older releases) or
// a "br-connection-..." reason (5.6x), so the message decides there.
#include <cerrno>
#include <cstring>
#include <string_view>

#include "quorlink/platform/BluetoothTypes.h"
#include "platform/posix/PosixWinsockSocket.h"
#include "platform/posix/bluez/Endpoint.h"

namespace quorlink::platform::posix::bluez {

namespace {

struct Entry {
  std::string_view text;
  int code;
};

// org.bluez.Error.* and org.freedesktop.DBus.Error.* names.
constexpr Entry kNames[] = {
    {"org.bluez.Error.NotReady", WSAENETDOWN},
    {"org.bluez.Error.NotAvailable", WSASERVICE_NOT_FOUND},
    {"org.bluez.Error.DoesNotExist", WSASERVICE_NOT_FOUND},
    {"org.bluez.Error.NotSupported", WSASERVICE_NOT_FOUND},
    {"org.bluez.Error.InvalidArguments", WSAEINVAL},
    {"org.bluez.Error.InProgress", WSAEALREADY},
    {"org.bluez.Error.AlreadyConnected", WSAEISCONN},
    {"org.bluez.Error.AlreadyExists", WSAEADDRINUSE},
    {"org.bluez.Error.NotConnected", WSAENOTCONN},
    {"org.bluez.Error.ConnectionAttemptFailed", WSAEHOSTUNREACH},
    {"org.bluez.Error.AuthenticationFailed", WSAEACCES},
    {"org.bluez.Error.AuthenticationRejected", WSAEACCES},
    {"org.bluez.Error.AuthenticationCanceled", WSAEACCES},
    {"org.bluez.Error.AuthenticationTimeout", WSAETIMEDOUT},
    {"org.bluez.Error.NotAuthorized", WSAEACCES},
    {"org.bluez.Error.NotPermitted", WSAEACCES},
    {"org.bluez.Error.Rejected", WSAECONNREFUSED},
    {"org.freedesktop.DBus.Error.NoReply", WSAETIMEDOUT},
    {"org.freedesktop.DBus.Error.Timeout", WSAETIMEDOUT},
    {"org.freedesktop.DBus.Error.TimedOut", WSAETIMEDOUT},
    {"org.freedesktop.DBus.Error.AccessDenied", WSAEACCES},
    {"org.freedesktop.DBus.Error.ServiceUnknown", WSAENETDOWN},
    {"org.freedesktop.DBus.Error.NameHasNoOwner", WSAENETDOWN},
    {"org.freedesktop.DBus.Error.Disconnected", WSAENETDOWN},
    {"org.freedesktop.DBus.Error.UnknownObject", WSAEHOSTUNREACH},
    {"org.freedesktop.DBus.Error.UnknownMethod", WSAEHOSTUNREACH},
};

// org.bluez.Error.Failed's message, matched by its start.
constexpr Entry kFailedMessages[] = {
    {"Host is down", WSAEHOSTDOWN},
    {"br-connection-page-timeout", WSAEHOSTDOWN},
    {"Connection timed out", WSAETIMEDOUT},
    {"br-connection-timeout", WSAETIMEDOUT},
    {"Connection refused", WSAECONNREFUSED},
    {"br-connection-refused", WSAECONNREFUSED},
    {"No route to host", WSAEHOSTUNREACH},
    {"br-connection-adapter-not-powered", WSAENETDOWN},
    {"Connection reset by peer", WSAECONNRESET},
    {"br-connection-aborted-by-remote", WSAECONNRESET},
    {"Connection aborted", WSAECONNABORTED},
    {"br-connection-aborted-by-local", WSAECONNABORTED},
    {"br-connection-canceled", WSAECONNABORTED},
    {"Permission denied", WSAEACCES},
    {"br-connection-key-missing", WSAEACCES},
    {"Protocol not available", WSASERVICE_NOT_FOUND},
    {"br-connection-profile-unavailable", WSASERVICE_NOT_FOUND},
    {"br-connection-sdp-search", WSASERVICE_NOT_FOUND},
    {"Device or resource busy", WSAEADDRINUSE},
    {"br-connection-busy", WSAEADDRINUSE},
    {"br-connection-already-connected", WSAEISCONN},
};

}  // namespace

int WsaErrorFromBluez(const std::string& name, const std::string& message) {
  if (name == "org.bluez.Error.Failed") {
    for (const auto& e : kFailedMessages)
      if (std::string_view(message).starts_with(e.text)) return e.code;
    return WSAENETDOWN;
  }
  for (const auto& e : kNames)
    if (e.text == name) return e.code;
  return WSAENETDOWN;
}

int WsaErrorFromRfcomm(int err) {
  switch (err) {
    case EHOSTDOWN:
      return WSAEHOSTDOWN;
    case EAFNOSUPPORT:
    case EPROTONOSUPPORT:
      return WSAEAFNOSUPPORT;
    case EBUSY:
      return WSAEADDRINUSE;
    case ENETDOWN:
    case ENODEV:
      return WSAENETDOWN;
    case ENOKEY:
    case EKEYREJECTED:
      return WSAEACCES;
    case EINPROGRESS:
      return WSAEWOULDBLOCK;
    default:
      return WsaErrorFromErrno(err);
  }
}

}  // namespace quorlink::platform::posix::bluez
