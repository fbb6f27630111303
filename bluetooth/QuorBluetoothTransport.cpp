#include "bluetooth/QuorBluetooth.h"

namespace quorlink {

namespace {
[[noreturn]] void NotBuilt() {
  throw Exception("not built yet");
}
}  // namespace

void TQuorBluetooth::InternalConnect() {
  NotBuilt();
}
void TQuorBluetooth::InternalClose() {
  NotBuilt();
}
void TQuorBluetooth::InternalListen() {
  NotBuilt();
}
void TQuorBluetooth::InitWSA() {
  NotBuilt();
}
void TQuorBluetooth::FreeWSA() {
  NotBuilt();
}
void TQuorBluetooth::CreateSocket() {
  NotBuilt();
}
void TQuorBluetooth::FreeSocket() {
  NotBuilt();
}
void TQuorBluetooth::RegisterService(bool) {
  NotBuilt();
}
void TQuorBluetooth::QuorMSocketEvent(TQUORM_SOCKET_EVENT&) {
  NotBuilt();
}
std::string TQuorBluetooth::GetLocalAddress() {
  NotBuilt();
}
std::string TQuorBluetooth::GetLocalName() {
  NotBuilt();
}
HANDLE TQuorBluetooth::GetRadioByAddress() {
  NotBuilt();
}
std::string TQuorBluetooth::SelectDevice() {
  NotBuilt();
}
void TQuorBluetooth::Dispatch(TMessage& message) {
  TQuorCustomTransport::Dispatch(message);
}

}  // namespace quorlink
