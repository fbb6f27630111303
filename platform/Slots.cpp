#include "platform/Kernel.h"
#include "quorlink/platform/Messages.h"

namespace quorlink::platform {

namespace {
ApiSlot<IKernel> kernelSlot;
ApiSlot<IMessageLoop> messagesSlot;
}  // namespace

IKernel& Kernel() {
  return kernelSlot.Get(OsKernel());
}
IKernel* SetKernel(IKernel* api) {
  return kernelSlot.Set(api);
}

IMessageLoop& Messages() {
  return messagesSlot.Get(OsMessages());
}
IMessageLoop* SetMessages(IMessageLoop* api) {
  return messagesSlot.Set(api);
}

}  // namespace quorlink::platform
