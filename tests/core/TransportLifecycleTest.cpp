// Destruction, window messages and handlers that re-enter the transport.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "OsTestSupport.h"
#include "support/TestTransport.h"

namespace quorlink::testing {
namespace {

class TransportLifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    TestConnection::alive = 0;
    TestConnection::disconnects = 0;
    CheckMainThread("test");  // the main thread's own windows exist from here
    windowsBefore_ = testing::LiveWindowCount();
    hookCalls_ = 0;
    ApplicationHandleException = [this](TObject* sender) {
      ++hookCalls_;
      lastSender_ = sender;
      try {
        throw;
      } catch (const Exception& e) {
        lastMessage_ = e.Message();
      }
    };
  }
  void TearDown() override {
    ApplicationHandleException = nullptr;
    Pump();
    EXPECT_EQ(TestConnection::alive, 0);
    EXPECT_EQ(testing::LiveWindowCount(), windowsBefore_);
  }

  std::size_t windowsBefore_ = 0;
  int hookCalls_ = 0;
  TObject* lastSender_ = nullptr;
  std::string lastMessage_;
};

TEST_F(TransportLifecycle, DestroyingAnActiveTransportDisconnectsEveryLink) {
  int disconnects = 0;
  {
    TestTransport t;
    t.OnDisconnect = [&](TQuorCustomConnection*) { ++disconnects; };
    t.Listen();
    t.AddConnection();
    t.AddConnection();
  }
  EXPECT_EQ(disconnects, 2);
}

TEST_F(TransportLifecycle, DestroyingAnInactiveTransportRaisesNoEvent) {
  int events = 0;
  auto* t = new TestTransport;
  t->OnDisconnect = [&](TQuorCustomConnection*) { ++events; };
  Free(t);
  EXPECT_EQ(events, 0);
}

TEST_F(TransportLifecycle, FreeingThroughTheOwnerClosesFirst) {
  int disconnects = 0;
  auto owner = std::make_unique<TComponent>(nullptr);
  auto* t = new TestTransport(owner.get());
  t->OnDisconnect = [&](TQuorCustomConnection*) { ++disconnects; };
  t->Connect();
  owner.reset();
  EXPECT_EQ(disconnects, 1);
}

TEST_F(TransportLifecycle, FreeLetsACloseHandlerErrorReachTheCaller) {
  auto* t = new TestTransport;
  t->OnDisconnect = [](TQuorCustomConnection*) { throw Exception("from handler"); };
  t->Connect();
  EXPECT_THROW(Free(t), Exception);  // and t is gone: ASan would see a leak
}

TEST_F(TransportLifecycle, HandlerErrorInCloseReachesTheCaller) {
  TestTransport t;
  t.OnDisconnect = [](TQuorCustomConnection*) { throw Exception("from handler"); };
  t.Connect();
  EXPECT_THROW(t.Close(), Exception);
  // The connection is gone even though its handler raised.
  EXPECT_EQ(t.ConnectionCount(), 0);
  EXPECT_EQ(TestConnection::alive, 0);
}

TEST_F(TransportLifecycle, ReadHandlerErrorGoesToTheHookAndLaterMessagesStillArrive) {
  TestTransport t;
  int reads = 0;
  t.OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& buf) {
    ++reads;
    if (buf.at(0) == 1) throw Exception("bad byte");
  };
  t.Listen();
  auto* c = t.AddConnection();
  TQuorByteArray first{1}, second{2};
  quorlink::PostMessage(c->Window(), kTestReadMessage, 0, reinterpret_cast<LPARAM>(&first));
  quorlink::PostMessage(c->Window(), kTestReadMessage, 0, reinterpret_cast<LPARAM>(&second));
  Pump();
  EXPECT_EQ(reads, 2);
  EXPECT_EQ(hookCalls_, 1);
  EXPECT_EQ(lastSender_, c);
  EXPECT_EQ(lastMessage_, "bad byte");
}

// What the windows stop goes to the transport's OnError, from its own window
// and its connections' (a link that ended inside its handler included), and
// not to the hook; an OnError that raises, and what is not a std::exception,
// reach the hook.
TEST_F(TransportLifecycle, OnErrorTakesWhatTheWindowsStopBeforeTheHook) {
  TestTransport t;
  std::vector<std::pair<TObject*, std::string>> errors;
  t.OnError = [&](TObject* sender, const std::exception& e) {
    errors.emplace_back(sender, e.what());
    if (std::string(e.what()) == "raise again") throw Exception("from OnError");
  };
  t.OnRead = [](TQuorCustomConnection*, const TQuorByteArray&) { throw Exception("bad read"); };
  t.OnDisconnect = [](TQuorCustomConnection*) { throw Exception("bad end"); };
  t.Listen();
  TestConnection* reader = t.AddConnection();
  TestConnection* ending = t.AddConnection();
  TQuorByteArray bytes{1};
  quorlink::PostMessage(reader->Window(), kTestReadMessage, 0, reinterpret_cast<LPARAM>(&bytes));
  quorlink::PostMessage(ending->Window(), kTestCloseMessage, 0, 0);
  quorlink::PostMessage(t.Window(), kTestRaiseMessage, 0, reinterpret_cast<LPARAM>("failed"));
  Pump();
  const std::vector<std::pair<TObject*, std::string>> expected{
      {reader, "bad read"}, {ending, "bad end"}, {&t, "failed"}};
  EXPECT_EQ(errors, expected);
  EXPECT_EQ(hookCalls_, 0);
  EXPECT_EQ(t.ConnectionCount(), 1);

  quorlink::PostMessage(t.Window(), kTestRaiseMessage, 0, reinterpret_cast<LPARAM>("raise again"));
  quorlink::PostMessage(t.Window(), kTestRaiseMessage, 0, 0);
  Pump();
  EXPECT_EQ(errors.size(), 4u);
  EXPECT_EQ(hookCalls_, 2);
  EXPECT_EQ(lastSender_, &t);
  EXPECT_EQ(lastMessage_, "from OnError");
  t.OnDisconnect = nullptr;
}

TEST_F(TransportLifecycle, WithoutAHookHandlerErrorsAreDropped) {
  ApplicationHandleException = nullptr;
  TestTransport t;
  t.OnRead = [](TQuorCustomConnection*, const TQuorByteArray&) { throw Exception("dropped"); };
  t.Listen();
  auto* c = t.AddConnection();
  TQuorByteArray bytes{9};
  quorlink::PostMessage(c->Window(), kTestReadMessage, 0, reinterpret_cast<LPARAM>(&bytes));
  EXPECT_NO_THROW(Pump());
}

TEST_F(TransportLifecycle, ALinkThatDeletesItselfInItsHandler) {
  TestTransport t;
  int disconnects = 0;
  t.OnDisconnect = [&](TQuorCustomConnection*) { ++disconnects; };
  t.Listen();
  auto* c = t.AddConnection();
  quorlink::PostMessage(c->Window(), kTestCloseMessage, 0, 0);
  Pump();
  EXPECT_EQ(disconnects, 1);
  EXPECT_EQ(t.ConnectionCount(), 0);
  EXPECT_TRUE(t.IsActive());
}

TEST_F(TransportLifecycle, MessagesForAReleasedWindowAreDropped) {
  TestTransport t;
  int reads = 0;
  t.OnRead = [&](TQuorCustomConnection*, const TQuorByteArray&) { ++reads; };
  t.Listen();
  auto* c = t.AddConnection();
  HWND window = c->Window();
  TQuorByteArray bytes{1};
  quorlink::PostMessage(window, kTestReadMessage, 0, reinterpret_cast<LPARAM>(&bytes));
  c->Close();
  Pump();
  EXPECT_EQ(reads, 0);
  EXPECT_FALSE(quorlink::PostMessage(window, kTestReadMessage, 0, 0));
}

TEST_F(TransportLifecycle, MessagesWithoutAHandlerAreIgnored) {
  TestTransport t;
  ASSERT_TRUE(quorlink::PostMessage(t.Window(), WM_USER + 99, 1, 2));
  Pump();
  EXPECT_EQ(hookCalls_, 0);
}

TEST_F(TransportLifecycle, HandlerClosingTheTransportWhileItEmptiesItsList) {
  TestTransport t;
  int disconnects = 0;
  t.OnDisconnect = [&](TQuorCustomConnection*) {
    ++disconnects;
    t.Close();  // re-enters the emptying of the list
  };
  t.Listen();
  for (int i = 0; i < 4; ++i) t.AddConnection();
  EXPECT_NO_THROW(t.Close());
  EXPECT_EQ(disconnects, 4);
  EXPECT_EQ(t.ConnectionCount(), 0);
  EXPECT_FALSE(t.IsActive());
}

TEST_F(TransportLifecycle, HandlerClosingAnotherLinkWhileTheListEmpties) {
  TestTransport t;
  int disconnects = 0;
  t.OnDisconnect = [&](TQuorCustomConnection*) {
    ++disconnects;
    if (t.ConnectionCount() > 0) t.GetConnections(t.ConnectionCount() - 1)->Close();
  };
  t.Listen();
  for (int i = 0; i < 5; ++i) t.AddConnection();
  EXPECT_NO_THROW(t.Close());
  EXPECT_EQ(disconnects, 5);
  EXPECT_EQ(t.ConnectionCount(), 0);
}

// A handler's captures must outlive its own call even when the handler clears
// or replaces the event (or the exception hook) that is running it.
TEST_F(TransportLifecycle, HandlersMayRebindTheirOwnEventWhileRunning) {
  struct Capture {
    bool* destroyed;
    ~Capture() { *destroyed = true; }
  };
  bool destroyed = false;
  std::vector<std::string> seen;
  auto capture = [&] { return std::shared_ptr<Capture>(new Capture{&destroyed}); };
  TestTransport t;

  // Each handler drops the last reference to its own state, then uses it.
  auto check = [&](const char* what) {
    seen.push_back(what);
    EXPECT_FALSE(destroyed) << what;
  };
  t.OnConnect = [&, c = capture()](TQuorCustomConnection*) {
    t.OnConnect = [&](TQuorCustomConnection*) { seen.push_back("second connect"); };
    check("connect");
  };
  t.OnRead = [&, c = capture()](TQuorCustomConnection*, const TQuorByteArray&) {
    t.OnRead = nullptr;
    check("read");
  };
  t.OnDisconnect = [&, c = capture()](TQuorCustomConnection*) {
    t.OnDisconnect = nullptr;
    check("disconnect");
  };
  ApplicationHandleException = [&, c = capture()](TObject*) {
    ApplicationHandleException = nullptr;
    check("hook");
  };
  // Each replaced handler is released once its own call has returned.
  auto released = [&] {
    const bool was = destroyed;
    destroyed = false;
    return was;
  };
  t.Listen();
  TestConnection* link = t.AddConnection();
  EXPECT_TRUE(released());
  t.AddConnection();
  TQuorByteArray bytes{1, 2};
  quorlink::PostMessage(link->Window(), kTestReadMessage, 0, reinterpret_cast<LPARAM>(&bytes));
  Pump();
  EXPECT_TRUE(released());
  HandleException(&t);
  EXPECT_TRUE(released());
  t.Close();
  EXPECT_TRUE(released());
  EXPECT_EQ(seen,
            (std::vector<std::string>{"connect", "second connect", "read", "hook", "disconnect"}));
}

}  // namespace
}  // namespace quorlink::testing
