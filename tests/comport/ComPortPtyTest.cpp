// The serial transport over a test cable (a pty pair, or COM ports joined
// under Wine): the cable's far end plays the device.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "comport/ComPortTestSupport.h"
#include "platform/Kernel.h"
#include "quorlink/core/FormStream.h"

namespace quorlink::testing {
namespace {

using namespace comport;

TEST(ComPortPty, OpenWriteReadClose) {
  CablePort p;
  p.port.Connect();
  ASSERT_TRUE(p.port.IsActive());
  ASSERT_EQ(p.port.ConnectionCount(), 1);
  EXPECT_EQ(p.log.events, std::vector<std::string>{"connect"});
  EXPECT_EQ(p.Connection().GetLocalName(), "COM42");
  EXPECT_EQ(p.Connection().GetRemoteName(), "COM42");
  EXPECT_EQ(p.Connection().GetLocalAddress(), "42");
  EXPECT_EQ(p.Connection().GetRemoteAddress(), "42");

  // Every byte value passes unchanged both ways.
  TQuorByteArray all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  p.Connection().Write(all);
  EXPECT_EQ(p.cable.Read(all.size()), all);
  ASSERT_TRUE(p.cable.Write(all));
  ASSERT_TRUE(PumpUntil([&] { return p.log.received.size() >= all.size(); }));
  EXPECT_EQ(p.log.received, all);

  p.port.Close();
  EXPECT_FALSE(p.port.IsActive());
  EXPECT_EQ(p.port.ConnectionCount(), 0);
  EXPECT_EQ(p.log.Count("disconnect"), 1);
  p.port.Close();
  EXPECT_EQ(p.log.Count("disconnect"), 1);
}

TEST(ComPortPty, ClosingTheConnectionClosesTheTransportAndItReopens) {
  CablePort p;
  p.port.Connect();
  p.Connection().Close();
  EXPECT_FALSE(p.port.IsActive());
  EXPECT_EQ(p.log.Count("disconnect"), 1);
  p.port.Connect();  // the device is free again at once
  EXPECT_TRUE(p.port.IsActive());
  p.Connection().Write(Bytes("again"));
  EXPECT_EQ(p.cable.Read(5), Bytes("again"));
}

TEST(ComPortPty, ConnectAndListenByState) {
  CablePort p;
  EXPECT_THROW(
      {
        try {
          p.port.Listen();
        } catch (const EQuorTransportException& e) {
          EXPECT_STREQ(e.what(), "Future not supported.");
          throw;
        }
      },
      EQuorTransportException);
  p.port.Connect();
  p.port.Connect();  // already active: nothing
  EXPECT_EQ(p.log.Count("connect"), 1);
  try {
    p.port.Listen();
    ADD_FAILURE();
  } catch (const EQuorTransportException& e) {
    EXPECT_STREQ(e.what(), "Transport in client mode.");
  }
  EXPECT_TRUE(p.port.IsActive());
}

TEST(ComPortPty, SettingsChangeOnlyWhileInactive) {
  CablePort p;
  p.port.Connect();
  p.port.SetBaudRate(br115200);  // same value: no check
  p.port.SetPort(CablePort::kPort);
  try {
    p.port.SetBaudRate(br9600);
    ADD_FAILURE();
  } catch (const EQuorTransportException& e) {
    EXPECT_STREQ(e.what(), "Transport active.");
  }
  EXPECT_THROW(p.port.SetByteSize(7), EQuorTransportException);
  EXPECT_THROW(p.port.SetParity(paOdd), EQuorTransportException);
  EXPECT_THROW(p.port.SetStopBits(sb2), EQuorTransportException);
  EXPECT_THROW(p.port.SetPort(3), EQuorTransportException);
  EXPECT_EQ(p.port.GetBaudRate(), br115200);
  p.port.Close();
  p.port.SetBaudRate(br9600);
  EXPECT_EQ(p.port.GetBaudRate(), br9600);
}

// The line settings reach the device, and what the library does not set
// stays as it was.
TEST(ComPortPty, LineSettingsReachTheDeviceAndOthersAreKept) {
  CablePort p;
  // 56000 has no termios speed code; a cable whose device takes only the
  // coded rates carries 57600, another rate than the default.
  const bool coded = SerialCable::Lacks("uncoded rates").has_value();
  p.port.SetBaudRate(coded ? br57600 : br56000);
  p.port.SetStopBits(sb2);
  p.port.Connect();
  HANDLE h = static_cast<TQuorComPortConnection&>(p.Connection()).GetPortHandle();
  DCB dcb{};
  ASSERT_TRUE(platform::Serial().GetCommState(h, &dcb));
  EXPECT_EQ(dcb.BaudRate, coded ? 57600u : 56000u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
  EXPECT_FALSE(dcb.fParity);
  EXPECT_FALSE(dcb.fOutX);
  EXPECT_FALSE(dcb.fOutxCtsFlow);
  // Writing back what was read changes nothing.
  DCB again = dcb;
  ASSERT_TRUE(platform::Serial().SetCommState(h, &again));
  DCB after{};
  ASSERT_TRUE(platform::Serial().GetCommState(h, &after));
  EXPECT_EQ(std::memcmp(&after, &dcb, sizeof dcb), 0);
}

TEST(ComPortPty, SettingsTheDeviceCannotTakeFailTheConnect) {
  struct Case {
    TQuorByteSize size;
    TQuorParity parity;
    TQuorStopBits stop;
    TQuorBaudRate rate = br9600;
  };
  std::vector<Case> cases;
  // A pty carries 8 data bits without parity only: the kernel drops the rest,
  // and the read-back catches it.
  const auto noFormats = SerialCable::Lacks("formats");
  if (!noFormats)
    cases = {Case{9, paNone, sb1}, Case{4, paNone, sb1}, Case{8, paNone, sb15},
             Case{5, paNone, sb2}, Case{7, paNone, sb1}, Case{8, paEven, sb1}};
  // A device that takes only the coded rates may still report success for
  // another (Wine gives 38400 for 56000): the port must not open at a wrong rate.
  if (SerialCable::Lacks("uncoded rates")) cases.push_back(Case{8, paNone, sb1, br56000});
  if (cases.empty()) GTEST_SKIP() << *noFormats;
  for (Case c : cases) {
    CablePort p;
    p.port.SetByteSize(c.size);
    p.port.SetParity(c.parity);
    p.port.SetStopBits(c.stop);
    p.port.SetBaudRate(c.rate);
    try {
      p.port.Connect();
      ADD_FAILURE() << int{c.size} << " bits, rate " << p.port.GetLineRate();
    } catch (const EQuorTransportException& e) {
      EXPECT_STREQ(e.what(), "Can not open connection.");
    }
    EXPECT_FALSE(p.port.IsActive());
    EXPECT_TRUE(p.log.events.empty());
  }
}

TEST(ComPortPty, MissingPortsFailToOpen) {
  for (std::uint8_t n : {0, 43}) {
    EventLog log;
    TQuorComPort port(nullptr);
    log.Attach(port);
    platform::BindComPort(43, "/nonexistent/tty");
    port.SetPort(n);
    try {
      port.Connect();
      ADD_FAILURE();
    } catch (const EQuorTransportException& e) {
      EXPECT_STREQ(e.what(), "Can not open connection.");
    }
    platform::UnbindComPort(43);
    EXPECT_FALSE(port.IsActive());
    EXPECT_EQ(port.ConnectionCount(), 0);
    EXPECT_TRUE(log.events.empty());
  }
}

TEST(ComPortPty, OpenIsExclusive) {
  CablePort p;
  p.port.Connect();
  EventLog log;
  TQuorComPort second(nullptr);
  log.Attach(second);
  second.SetPort(CablePort::kPort);
  try {
    second.Connect();
    ADD_FAILURE();
  } catch (const EQuorTransportException& e) {
    EXPECT_STREQ(e.what(), "Can not open connection.");
  }
  EXPECT_TRUE(log.events.empty());
  // The first is untouched.
  p.Connection().Write(Bytes("still"));
  EXPECT_EQ(p.cable.Read(5), Bytes("still"));
  p.port.Close();
  second.Connect();
  EXPECT_TRUE(second.IsActive());
}

TEST(ComPortPty, BytesQueuedBeforeConnectArePurged) {
  CablePort p;
  ASSERT_TRUE(p.cable.QueueAtPort(Bytes("stale")));
  p.port.Connect();
  ASSERT_TRUE(p.cable.Write(Bytes("fresh")));
  ASSERT_TRUE(PumpUntil([&] { return p.log.received.size() >= 5; }));
  PumpFor(50);
  EXPECT_EQ(p.log.received, Bytes("fresh"));
  p.port.Close();
}

// Bytes that come while a handler runs arrive together in the next chunk,
// in order, none twice, none lost.
TEST(ComPortPty, BytesArrivingDuringOnReadComeInTheNextChunk) {
  CablePort p;
  std::vector<TQuorByteArray> chunks;
  p.port.OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& buf) {
    chunks.push_back(buf);
    if (chunks.size() == 1) {
      ASSERT_TRUE(p.cable.Write(Bytes("BCD")));
      std::this_thread::sleep_for(
          std::chrono::milliseconds(100));  // let them reach the queue while this handler runs
      ASSERT_TRUE(p.cable.Write(Bytes("EF")));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  };
  p.port.Connect();
  ASSERT_TRUE(p.cable.Write(Bytes("A")));
  ASSERT_TRUE(PumpUntil([&] {
    std::size_t n = 0;
    for (auto& c : chunks) n += c.size();
    return n >= 6;
  }));
  PumpFor(50);
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0], Bytes("A"));
  EXPECT_EQ(chunks[1], Bytes("BCDEF"));
}

TEST(ComPortPty, NoOnReadAfterClose) {
  CablePort p;
  p.port.Connect();
  ASSERT_TRUE(p.cable.Write(Bytes("late")));
  std::this_thread::sleep_for(
      std::chrono::milliseconds(50));  // the reader has the chunk and waits for the main thread
  p.port.Close();
  PumpFor(100);
  EXPECT_EQ(p.log.reads, 0);
  EXPECT_EQ(p.log.Count("disconnect"), 1);
}

TEST(ComPortPty, NoOnReadAfterTheTransportIsDestroyed) {
  ThreadBaseline threads;
  SerialCable cable;
  ScopedComBinding binding(44, cable.PortPath());
  int reads = 0;
  auto* port = new TQuorComPort(nullptr);
  port->SetPort(44);
  port->OnRead = [&](TQuorCustomConnection*, const TQuorByteArray&) { ++reads; };
  port->Connect();
  ASSERT_TRUE(cable.Write(Bytes("late")));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Free(port);
  PumpFor(100);
  EXPECT_EQ(reads, 0);
  EXPECT_TRUE(threads.Back());
}

TEST(ComPortPty, LargeWritesCompleteInTheBackgroundInOrder) {
  CablePort p;
  p.port.Connect();
  // Far more than the pty holds: most of it must wait for the reader.
  TQuorByteArray data(4 << 20);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  const std::size_t half = data.size() / 2;
  p.Connection().Write(TQuorByteArray(data.begin(), data.begin() + half));
  p.Connection().Write(TQuorByteArray(data.begin() + half, data.end()));
  EXPECT_EQ(p.cable.Read(data.size(), 20000), data);
}

TEST(ComPortPty, WritingNothingIsFine) {
  CablePort p;
  p.port.Connect();
  p.Connection().Write({});
  p.Connection().Write(Bytes("x"));
  EXPECT_EQ(p.cable.Read(1), Bytes("x"));
}

TEST(ComPortPty, QueuedOutputStillGoesOutAfterClose) {
  CablePort p;
  p.port.Connect();
  TQuorByteArray data(1 << 20, 0x5A);
  p.Connection().Write(data);
  p.port.Close();
  EXPECT_EQ(p.cable.Read(data.size(), 20000).size(), data.size());
}

// The device goes away while open: closed as by Close, once, with the
// system's reason kept, and nothing raised afterwards.
TEST(ComPortPty, ADeviceThatGoesAwayClosesTheConnection) {
  CablePort p;
  TQuorCustomConnection* seen = nullptr;
  DWORD errorSeen = 0;
  p.port.OnDisconnect = [&](TQuorCustomConnection* c) {
    p.log.events.push_back("disconnect");
    seen = c;
    errorSeen = p.port.GetLinkError();
  };
  p.port.Connect();
  TQuorCustomConnection* connection = &p.Connection();
  if (!p.cable.Unplug()) GTEST_SKIP() << "this cable's device end cannot be unplugged";
  ASSERT_TRUE(PumpUntil([&] { return !p.port.IsActive(); }));
  EXPECT_EQ(seen, connection);
  EXPECT_NE(errorSeen, 0u);
  EXPECT_EQ(p.port.GetLinkError(), errorSeen);
  EXPECT_EQ(p.port.ConnectionCount(), 0);
  PumpFor(50);
  EXPECT_EQ(p.log.events, (std::vector<std::string>{"connect", "disconnect"}));
  p.port.Close();  // nothing left to close
  EXPECT_EQ(p.log.Count("disconnect"), 1);
}

TEST(ComPortPty, OnConnectThatRaisesLeavesTheTransportClosed) {
  CablePort p;
  int disconnects = 0;
  p.port.OnConnect = [](TQuorCustomConnection* c) {
    EXPECT_EQ(c->GetTransport()->ConnectionCount(), 0);
    EXPECT_FALSE(c->GetTransport()->IsActive());
    throw Exception("handler refused");
  };
  p.port.OnDisconnect = [&](TQuorCustomConnection*) { ++disconnects; };
  EXPECT_THROW(p.port.Connect(), Exception);
  EXPECT_FALSE(p.port.IsActive());
  EXPECT_EQ(disconnects, 0);
  // The port was closed again: it opens.
  p.port.OnConnect = nullptr;
  p.port.Connect();
  EXPECT_TRUE(p.port.IsActive());
}

TEST(ComPortPty, OnDisconnectSeesTheConnection) {
  CablePort p;
  std::string name;
  p.port.OnDisconnect = [&](TQuorCustomConnection* c) { name = c->GetLocalName(); };
  p.port.Connect();
  p.port.Close();
  EXPECT_EQ(name, "COM42");
}

TEST(ComPortPty, DestroyingAnActiveTransportRaisesOnDisconnectOnce) {
  ThreadBaseline threads;
  SerialCable cable;
  ScopedComBinding binding(45, cable.PortPath());
  int disconnects = 0;
  {
    TQuorComPort port(nullptr);
    port.SetPort(45);
    port.OnDisconnect = [&](TQuorCustomConnection*) { ++disconnects; };
    port.Connect();
  }
  EXPECT_EQ(disconnects, 1);
  EXPECT_TRUE(threads.Back());
}

// What an OnRead handler raises reaches the application's hook with the
// connection as sender, and the link goes on delivering: it is not left
// looking alive while nothing is read any more.
TEST(ComPortPty, AnOnReadThatRaisesGoesToTheHookAndReadingGoesOn) {
  CablePort p;
  std::vector<std::string> caught;
  TObject* sender = nullptr;
  ApplicationHandleException = [&](TObject* s) {
    sender = s;
    try {
      throw;
    } catch (const std::exception& e) {
      caught.emplace_back(e.what());
    }
  };
  struct RestoreHook {
    ~RestoreHook() { ApplicationHandleException = nullptr; }
  } restore;
  TQuorByteArray received;
  p.port.OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& buf) {
    received.insert(received.end(), buf.begin(), buf.end());
    if (received.size() <= 3) throw Exception("handler failed");
  };
  p.port.Connect();
  ASSERT_TRUE(p.cable.Write(Bytes("one")));
  ASSERT_TRUE(PumpUntil([&] { return caught.size() == 1; }));
  EXPECT_EQ(caught[0], "handler failed");
  EXPECT_EQ(sender, &p.Connection());
  ASSERT_TRUE(p.cable.Write(Bytes("two")));
  ASSERT_TRUE(PumpUntil([&] { return received.size() >= 6; }));
  EXPECT_EQ(received, Bytes("onetwo"));
  EXPECT_EQ(caught.size(), 1u);
  EXPECT_TRUE(p.port.IsActive());
  p.port.Close();
  EXPECT_EQ(p.log.Count("disconnect"), 1);
}

}  // namespace
}  // namespace quorlink::testing

namespace quorlink::testing {
namespace {

using namespace comport;

// Each setting reaches the driver and reads back; none undoes what an
// earlier session left; a setting the device cannot carry fails the open
// as refused settings. Stored with a form when set.
TEST(ComPortPty, FlowControlReachesTheDeviceAndNoneTurnsItOff) {
  CablePort p;
  struct Expect {
    TQuorFlowControl flow;
    bool cts, xon;
  };
  for (const Expect e : {Expect{fcRtsCts, true, false}, Expect{fcXonXoff, false, true},
                         Expect{fcRtsCts, true, false}, Expect{fcNone, false, false}}) {
    SCOPED_TRACE(static_cast<int>(e.flow));
    p.port.SetFlowControl(e.flow);
    try {
      p.port.Connect();
    } catch (const EQuorTransportException& x) {
      // A cable that cannot carry it refuses it: it never pretends.
      ASSERT_TRUE(e.cts && SerialCable::Lacks("hardware flow"))
          << x.what() << " " << x.GetErrorCode();
      EXPECT_EQ(x.GetKind(), ekSettingsRefused);
      continue;
    }
    HANDLE h = static_cast<TQuorComPortConnection&>(p.Connection()).GetPortHandle();
    DCB dcb{};
    ASSERT_TRUE(platform::Serial().GetCommState(h, &dcb));
    EXPECT_EQ(dcb.fOutxCtsFlow, e.cts);
    EXPECT_EQ(dcb.fRtsControl == RTS_CONTROL_HANDSHAKE, e.cts);
    EXPECT_EQ(dcb.fOutX, e.xon);
    EXPECT_EQ(dcb.fInX, e.xon);
    EXPECT_THROW(p.port.SetFlowControl(fcDtrDsr), EQuorTransportException);  // fixed while open
    p.port.Close();
  }
  p.port.SetFlowControl(fcDtrDsr);
  try {
    p.port.Connect();
    HANDLE h = static_cast<TQuorComPortConnection&>(p.Connection()).GetPortHandle();
    DCB dcb{};
    ASSERT_TRUE(platform::Serial().GetCommState(h, &dcb));
    EXPECT_TRUE(dcb.fOutxDsrFlow);
  } catch (const EQuorTransportException& e) {
    EXPECT_EQ(e.GetKind(), ekSettingsRefused);
    EXPECT_FALSE(p.port.IsActive());
  }
  p.port.Close();

  TQuorComPort stored(nullptr);
  EXPECT_EQ(WriteForm(stored).find("FlowControl"), std::string::npos);
  stored.SetFlowControl(fcXonXoff);
  TQuorComPort back(nullptr);
  ReadForm(back, WriteForm(stored));
  EXPECT_EQ(back.GetFlowControl(), fcXonXoff);
}

}  // namespace
}  // namespace quorlink::testing
