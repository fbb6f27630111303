#include "platform/Kernel.h"
#include "quorlink/comport/QuorComPort.h"

namespace quorlink {

namespace {
HANDLE MakeReadEvent() {
  HANDLE event = platform::Kernel().CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) throw EQuorTransportException(_Str_CanNotOpenConnection);
  return event;
}
}  // namespace

TQuorComPortReadThread::TQuorComPortReadThread(TQuorComPortConnection* connection)
    : Link(connection->Link), PortHandle(connection->PortHandle) {
  ReadOverlapped.hEvent = MakeReadEvent();
  Start();
}

TQuorComPortReadThread::~TQuorComPortReadThread() {
  platform::Kernel().CloseHandle(ReadOverlapped.hEvent);
}

bool TQuorComPortReadThread::Stopping() const {
  return Terminated() || Link->Stopped.load(std::memory_order_acquire);
}

void TQuorComPortReadThread::Execute() {
  SetFreeOnTerminate(true);
  try {
    ReadUntilStopped();
  } catch (...) {
    // The port failed: this thread ends, and the program hears why. A close
    // that ended a call is no failure.
    if (Stopping()) return;
    const std::exception_ptr error = std::current_exception();
    Synchronize([this, &error] { ReportFailure(error); });
  }
}

void TQuorComPortReadThread::ReadUntilStopped() {
  auto& serial = platform::Serial();
  auto& kernel = platform::Kernel();
  while (!Stopping()) {
    DWORD mask = 0;
    if (!serial.WaitCommEvent(PortHandle, &mask, &ReadOverlapped)) {
      if (kernel.GetLastError() != ERROR_IO_PENDING)
        throw EQuorTransportException(_Str_CanNotReadFromConnection);
      kernel.WaitForSingleObject(ReadOverlapped.hEvent, INFINITE);
    }
    // A close ends the wait: leave without touching the port again.
    if (Stopping()) break;
    DWORD errors = 0;
    COMSTAT stat{};
    if (!serial.ClearCommError(PortHandle, &errors, &stat))
      throw EQuorTransportException(_Str_CanNotReadFromConnection);
    ReadCount = stat.cbInQue;
    if (ReadCount == 0) continue;
    ReadBuffer.resize(ReadCount);
    if (!serial.ReadFile(PortHandle, ReadBuffer.data(), ReadCount, &ReadCount, &ReadOverlapped)) {
      ReadBuffer.clear();
      throw EQuorTransportException(_Str_CanNotReadFromConnection);
    }
    ReadBuffer.resize(ReadCount);
    Synchronize([this] { DoRead(); });
    ReadBuffer = TQuorByteArray();
  }
}

void TQuorComPortReadThread::DoRead() {
  // Disconnect may have run while this delivery waited for the main thread.
  TQuorComPortConnection* connection = Link->Connection;
  if (connection == nullptr) return;
  try {
    connection->DoRead(ReadBuffer);
  } catch (...) {
    // A failing handler is the application's to hear of; the link goes on
    // reading, as it does after any other handler's exception.
    connection->GetTransport()->DoError(connection);
  }
}

void TQuorComPortReadThread::ReportFailure(const std::exception_ptr& error) {
  TQuorComPortConnection* connection = Link->Connection;
  if (connection == nullptr) return;
  try {
    std::rethrow_exception(error);
  } catch (...) {
    connection->GetTransport()->DoError(connection);
  }
}

}  // namespace quorlink
