#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "quorlink/core/FormStream.h"
#include "quorlink/core/QuorCustomTransport.h"
#include "support/FormGadget.h"

namespace quorlink {
namespace {

using testing::gmFast;
using testing::gmSlow;
using testing::goBlue;
using testing::goRed;
using testing::TGadget;
using testing::TGadgetOptions;
using testing::TPingEvent;
using testing::TTextEvent;

// Every byte value, quotes and line breaks among them.
std::string AllBytes() {
  std::string s = "it's \"quoted\"\r\n\t";
  for (int b = 0; b < 256; ++b) s += static_cast<char>(b);
  return s + "''";
}

TMethodTable Methods(int* pings = nullptr) {
  TMethodTable table;
  table.Add<TPingEvent>("GadgetPing", [pings](int n) {
    if (pings) *pings += n;
  });
  table.Add<TTextEvent>("GadgetText", [](const std::string&) {});
  return table;
}

TEST(FormStream, WritesTheReadableLayout) {
  TGadget root(nullptr);
  root.SetName("Panel1");
  root.SetTag(-7);
  root.Count = 12;
  root.Title = "O'Neil\n\xC3\xA9";
  root.Mode = gmSlow;
  root.Options = {goRed, goBlue};
  TMethodTable methods = Methods();
  root.OnPing = *methods.Find<TPingEvent>("GadgetPing");
  root.OnText = TTextEvent([](const std::string&) {});  // bound in code: no name to store
  auto* child = new TGadget(&root);
  child->SetName("Knob");
  new TGadget(child);  // unnamed: could not be found again, so not written

  EXPECT_EQ(WriteForm(root),
            "object Panel1: TGadget\n"
            "  Tag = -7\n"
            "  Count = 12\n"
            "  Title = 'O''Neil'#10#195#169\n"
            "  Mode = gmSlow\n"
            "  Options = [goRed, goBlue]\n"
            "  OnPing = GadgetPing\n"
            "  object Knob: TGadget\n"
            "    Tag = 0\n"
            "    Count = 0\n"
            "    Title = ''\n"
            "    Mode = gmOff\n"
            "    Options = []\n"
            "  end\n"
            "end\n");
}

TEST(FormStream, RoundTripRestoresEveryValueAndRecreatesOwnedComponents) {
  RegisterClass<TGadget>("TGadget");
  int pings = 0;
  TMethodTable methods = Methods(&pings);

  TGadget source(nullptr);
  source.SetName("Root");
  source.SetTag(INTPTR_MIN);
  source.Count = -1000;
  source.Title = AllBytes();
  source.Mode = gmFast;
  source.Options = {goRed, testing::goGreen, goBlue};
  source.OnPing = *methods.Find<TPingEvent>("GadgetPing");
  source.OnText = *methods.Find<TTextEvent>("GadgetText");
  auto* knob = new TGadget(&source);
  knob->SetName("Knob");
  knob->Title = "";
  knob->Count = 1000;
  auto* dial = new TGadget(knob);
  dial->SetName("Dial");
  dial->Title = "'";
  dial->SetTag(INTPTR_MAX);
  std::string form = WriteForm(source);

  // One owned component exists already (found by name, any case), the rest are made.
  TGadget target(nullptr);
  auto* existing = new TGadget(&target);
  existing->SetName("KNOB");
  ReadForm(target, form, methods);

  EXPECT_EQ(WriteForm(target), form);
  EXPECT_EQ(target.Name(), "Root");
  EXPECT_EQ(target.Title, AllBytes());
  EXPECT_EQ(target.Options, (TGadgetOptions{goRed, testing::goGreen, goBlue}));
  ASSERT_EQ(target.ComponentCount(), 1);
  EXPECT_EQ(target.Components(0), existing);
  EXPECT_EQ(existing->Name(), "Knob");
  ASSERT_EQ(existing->ComponentCount(), 1);
  auto* madeDial = dynamic_cast<TGadget*>(existing->Components(0));
  ASSERT_NE(madeDial, nullptr);
  EXPECT_EQ(madeDial->Owner(), existing);
  EXPECT_EQ(madeDial->Tag(), INTPTR_MAX);
  EXPECT_EQ(madeDial->Title, "'");
  target.OnPing(5);
  EXPECT_EQ(pings, 5);
  UnregisterClass("TGadget");
}

TEST(FormStream, LeavesUnmentionedValuesAndAcceptsFreeLayout) {
  TGadget g(nullptr);
  g.Count = 3;
  g.Title = "kept";
  ReadForm(g,
           "\r\n  OBJECT   TGadget\r\n"
           "\tmode=GMFAST\r\n"
           "  Options = [ goBlue ,goRed ]  \r\n"
           "  Title = 'a'#13#$0A'b'\r\n"
           "  Count = $1F\r\n"
           "END\r\n\r\n");
  EXPECT_EQ(g.Name(), "");
  EXPECT_EQ(g.Count, 31);
  EXPECT_EQ(g.Title, "a\r\nb");
  EXPECT_EQ(g.Mode, gmFast);
  EXPECT_EQ(g.Options, (TGadgetOptions{goRed, goBlue}));
}

TEST(FormStream, RefusesToWriteAMethodNameThatCouldNotBeReadBack) {
  TMethodTable methods;
  methods.Add<TPingEvent>("two words", [](int) {});
  TGadget g(nullptr);
  g.OnPing = *methods.Find<TPingEvent>("two words");
  EXPECT_THROW(WriteForm(g), Exception);
}

TEST(FormStream, NotStoredPropertiesAreNeverWrittenAndKeepTheirConstants) {
  TGadget g(nullptr);
  EXPECT_EQ(WriteForm(g).find("Serial"), std::string::npos);
  ReadForm(g, "object TGadget\n  Serial = 1\nend\n");
  EXPECT_EQ(g.GetSerial(), 4711);
}

// Events described by name only, without their values.
class TNamedEventsGadget : public TGadget {
 public:
  using TGadget::TGadget;
  void GetProperties(TPropList& list) const override {
    TGadget::GetProperties(list);
    for (TPropInfo& p : list) {
      p.GetMethodValue = nullptr;
      p.SetMethodValue = nullptr;
    }
  }
};

TEST(FormStream, EventsKnownOnlyByNameAreBoundAndPutBackByName) {
  TMethodTable methods = Methods();
  TNamedEventsGadget g(nullptr);
  g.Count = 1;
  g.OnPing = *methods.Find<TPingEvent>("GadgetPing");
  // A method of the wrong type shows only when it is bound: the values before it go back.
  try {
    ReadForm(g, "object TGadget\n  Count = 2\n  OnPing = GadgetText\nend\n", methods);
    FAIL() << "no exception";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Line 3: method GadgetText does not fit OnPing");
  }
  EXPECT_EQ(g.Count, 1);
  EXPECT_EQ(g.OnPing.Name(), "GadgetPing");

  g.Locked = true;
  methods.Add<TPingEvent>("OtherPing", [](int) {});
  EXPECT_THROW(ReadForm(g, "object TGadget\n  OnPing = OtherPing\n  Title = 'x'\nend\n", methods),
               std::runtime_error);
  EXPECT_EQ(g.OnPing.Name(), "GadgetPing");
  g.Locked = false;
  ReadForm(g, "object TGadget\n  OnText = GadgetText\nend\n", methods);
  EXPECT_EQ(g.OnText.Name(), "GadgetText");
}

// A transport kind with one setting that follows the rule: equal does
// nothing, otherwise "Transport active." while active.
class TFormTransport : public TQuorCustomTransport {
 public:
  using TQuorCustomTransport::TQuorCustomTransport;
  ~TFormTransport() override { DestroyTransport(); }
  const char* ClassName() const override { return "TFormTransport"; }
  TQuorTransportCategory GetCategory() const override { return tcCOMPort; }
  std::string GetDescription() const override { return "Form Test Transport"; }
  TQuorTransportFlags GetFlags() const override { return {tfClient}; }

  int Port = 1;
  void SetPort(int value) {
    if (value == Port) return;
    CheckActive();
    Port = value;
  }
  void GetProperties(TPropList& list) const override {
    static const TTypeInfo portType{TTypeKind::tkInteger, "TPort", {}, 1, 255};
    TQuorCustomTransport::GetProperties(list);
    TPropInfo port{"Port", &portType, true, {}, {}, {}, {}, {}, {}};
    port.GetOrd = [](const TComponent& c) {
      return std::int64_t{static_cast<const TFormTransport&>(c).Port};
    };
    port.SetOrd = [](TComponent& c, std::int64_t v) {
      static_cast<TFormTransport&>(c).SetPort(static_cast<int>(v));
    };
    list.push_back(std::move(port));
  }

 protected:
  void InternalConnect() override {}
  void InternalClose() override { Connections->Clear(); }
};

TEST(FormStream, TransportConstantsAreNotStoredAndIgnoredWhenRead) {
  TFormTransport t(nullptr);
  t.SetName("Link1");
  t.Port = 7;
  TMethodTable methods;
  methods.Add<TQuorReadEvent>("LinkRead", [](TQuorCustomConnection*, const TQuorByteArray&) {});
  t.OnRead = *methods.Find<TQuorReadEvent>("LinkRead");
  EXPECT_EQ(WriteForm(t),
            "object Link1: TFormTransport\n"
            "  Tag = 0\n"
            "  OnRead = LinkRead\n"
            "  Port = 7\n"
            "end\n");

  TFormTransport u(nullptr);
  ReadForm(u,
           "object Link2: TFormTransport\n"
           "  About = 'Other Library'\n"
           "  Version = 513\n"
           "  Category = tcIrDA\n"
           "  Description = 'Other'\n"
           "  Flags = [tfServer]\n"
           "  OnRead = LinkRead\n"
           "  Port = 9\n"
           "end\n",
           methods);
  EXPECT_EQ(u.GetAbout(), "Quorlink Library");
  EXPECT_EQ(u.GetVersion(), 0x0101);
  EXPECT_EQ(u.GetCategory(), tcCOMPort);
  EXPECT_EQ(u.GetDescription(), "Form Test Transport");
  EXPECT_EQ(u.GetFlags(), TQuorTransportFlags{tfClient});
  EXPECT_EQ(u.OnRead.Name(), "LinkRead");
  EXPECT_EQ(u.Port, 9);
  EXPECT_EQ(u.Name(), "Link2");

  // The run-time ByteSize kind of setting is not published: a form cannot name it.
  EXPECT_THROW(ReadForm(u, "object TFormTransport\n  ByteSize = 8\nend\n"), EReadError);
}

TEST(FormStream, ActiveTransportRefusesAChangeAndGetsEveryValueBack) {
  TFormTransport t(nullptr);
  t.SetName("Link1");
  t.SetTag(3);
  bool codeHandlerRan = false;
  t.OnConnect = TQuorConnectEvent([&](TQuorCustomConnection*) { codeHandlerRan = true; });
  t.Connect();
  TMethodTable methods;
  methods.Add<TQuorConnectEvent>("LinkConnect", [](TQuorCustomConnection*) {});
  std::string before = WriteForm(t);

  try {
    ReadForm(t,
             "object Renamed: TFormTransport\n"
             "  Tag = 4\n"
             "  OnConnect = LinkConnect\n"
             "  Port = 2\n"
             "end\n",
             methods);
    FAIL() << "no exception";
  } catch (const EQuorTransportException& e) {
    EXPECT_STREQ(e.what(), "Transport active.");
  }
  EXPECT_EQ(WriteForm(t), before);
  EXPECT_EQ(t.Name(), "Link1");
  EXPECT_EQ(t.Tag(), 3);
  t.OnConnect(nullptr);  // the handler bound in code, not a copy by name
  EXPECT_TRUE(codeHandlerRan);
  // Equal values are no change, so an active transport takes them.
  EXPECT_NO_THROW(ReadForm(t, "object Link1: TFormTransport\n  Port = 1\nend\n"));
}

}  // namespace
}  // namespace quorlink
