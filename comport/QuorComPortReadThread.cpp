#include "comport/QuorComPortMessages.h"
#include "platform/Kernel.h"
#include "quorlink/comport/QuorComPort.h"
#include "quorlink/core/Application.h"

namespace quorlink {

namespace {
HANDLE MakeReadEvent() {
  HANDLE event = platform::Kernel().CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr)
    throw EQuorTransportException(_Str_CanNotOpenConnection, platform::Kernel().GetLastError());
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

void TQuorComPortReadThread::Fail(DWORD error) {
  Link->Failure.store(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
  throw EQuorTransportException(_Str_CanNotReadFromConnection, error, ekDeviceGone);
}

void TQuorComPortReadThread::NoteErrors(DWORD errors) {
  static constexpr DWORD kBits[4] = {CE_BREAK, CE_FRAME, CE_RXPARITY, CE_OVERRUN | CE_RXOVER};
  for (int i = 0; i < 4; ++i)
    if ((errors & kBits[i]) != 0) Link->Counts[i].fetch_add(1, std::memory_order_relaxed);
}

void TQuorComPortReadThread::CheckLines() {
  DWORD now = 0;
  if (!platform::Serial().GetCommModemStatus(PortHandle, &now) || now == Lines) return;
  Lines = now;
  quorlink::PostMessage(Link->Window, QUORM_MODEM_CHANGE, now, 0);
}

void TQuorComPortReadThread::Execute() {
  SetFreeOnTerminate(true);
  try {
    ReadUntilStopped();
  } catch (...) {
    // The port failed: the program hears why (OnError), then the connection
    // closes as a lost link on the main thread. A close that ended a call is
    // no failure, and a message for a connection closed meanwhile is dropped.
    if (Stopping()) return;
    const std::exception_ptr error = std::current_exception();
    Synchronize([this, &error] { ReportFailure(error); });
    if (!Stopping()) quorlink::PostMessage(Link->Window, QUORM_PORT_FAILED, 0, 0);
  }
}

void TQuorComPortReadThread::ReadUntilStopped() {
  auto& serial = platform::Serial();
  auto& kernel = platform::Kernel();
  // What the lines are at the start is no change.
  if (Link->WatchLines) serial.GetCommModemStatus(PortHandle, &Lines);
  while (!Stopping()) {
    DWORD mask = 0;
    if (!serial.WaitCommEvent(PortHandle, &mask, &ReadOverlapped)) {
      if (kernel.GetLastError() != ERROR_IO_PENDING) Fail(kernel.GetLastError());
      kernel.WaitForSingleObject(ReadOverlapped.hEvent, INFINITE);
    }
    // A close ends the wait: leave without touching the port again.
    if (Stopping()) break;
    if (Link->WatchLines) CheckLines();
    DWORD errors = 0;
    COMSTAT stat{};
    if (!serial.ClearCommError(PortHandle, &errors, &stat)) Fail(kernel.GetLastError());
    NoteErrors(errors);
    ReadCount = stat.cbInQue;
    if (ReadCount == 0) continue;
    ReadBuffer.resize(ReadCount);
    if (!serial.ReadFile(PortHandle, ReadBuffer.data(), ReadCount, &ReadCount, &ReadOverlapped)) {
      ReadBuffer.clear();
      Fail(kernel.GetLastError());
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
