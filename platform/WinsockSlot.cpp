#include "platform/Winsock.h"

namespace quorlink::platform {

namespace {
ApiSlot<IWinsock> winsockSlot;
}  // namespace

IWinsock& Winsock() {
  return winsockSlot.Get(OsWinsock());
}
IWinsock* SetWinsock(IWinsock* api) {
  return winsockSlot.Set(api);
}

}  // namespace quorlink::platform
