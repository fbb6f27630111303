#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "quorlink/core/FormStream.h"
#include "support/FormGadget.h"

namespace quorlink {
namespace {

using testing::gmSlow;
using testing::TGadget;
using testing::TPingEvent;
using testing::TTextEvent;

// A tree with values everywhere, and event handlers bound in code, so that
// any change a failed read makes shows.
class FormErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterClass<TGadget>("TGadget");
    root.SetName("Root");
    root.Count = 5;
    root.Title = "title";
    root.Mode = gmSlow;
    root.OnPing = TPingEvent([this](int n) { rootPings += n; });
    knob = new TGadget(&root);
    knob->SetName("Knob");
    knob->Count = -5;
    methods.Add<TPingEvent>("Ping", [](int) {});
    methods.Add<TTextEvent>("Text", [](const std::string&) {});
    before = WriteForm(root);
  }
  void TearDown() override { UnregisterClass("TGadget"); }

  // The form fails naming the line, and nothing changed.
  void ExpectRejected(const std::string& form, int line, const std::string& part) {
    SCOPED_TRACE(form);
    try {
      ReadForm(root, form, methods);
      ADD_FAILURE() << "no exception";
    } catch (const EReadError& e) {
      std::string message = e.what();
      EXPECT_EQ(message.rfind("Line " + std::to_string(line) + ": ", 0), 0u) << message;
      EXPECT_NE(message.find(part), std::string::npos) << message;
    }
    ExpectUnchanged();
  }
  void ExpectUnchanged() {
    EXPECT_EQ(WriteForm(root), before);
    EXPECT_EQ(root.ComponentCount(), 1);
    EXPECT_EQ(knob->ComponentCount(), 0);
    int pings = rootPings;
    root.OnPing(1);
    EXPECT_EQ(rootPings, pings + 1);
  }

  TGadget root{nullptr};
  TGadget* knob = nullptr;
  int rootPings = 0;
  TMethodTable methods;
  std::string before;
};

// Each form first changes values of the root and of an owned component, and
// makes a new owned component, before the faulty line.
std::string Form(const std::string& rootLine, const std::string& knobLine = "Count = 1") {
  std::string head =
      "object Renamed: TGadget\n"    // 1
      "  Count = 9\n"                // 2
      "  OnPing = Ping\n"            // 3
      "  object Knob: TGadget\n"     // 4
      "    Title = 'changed'\n"      // 5
      "    object Fresh: TGadget\n"  // 6
      "      Count = 2\n"            // 7
      "    end\n";                   // 8
  return head + "    " + knobLine + "\n" + "  end\n" + "  " + rootLine + "\n" + "end\n";
}

TEST_F(FormErrors, UnknownPropertyOrWrongType) {
  ExpectRejected(Form("Colour = 3"), 11, "property Colour does not exist in TGadget");
  ExpectRejected(Form("Count = 1", "Volume = 3"), 9, "property Volume does not exist");
  ExpectRejected(Form("Count = 'nine'"), 11, "integer expected");
  ExpectRejected(Form("Title = 9"), 11, "string expected");
  ExpectRejected(Form("Title = Hello"), 11, "string expected");
  ExpectRejected(Form("Mode = 1"), 11, "enumeration value expected");
  ExpectRejected(Form("Mode = [gmOff]"), 11, "enumeration value expected");
  ExpectRejected(Form("Options = goRed"), 11, "set expected");
  ExpectRejected(Form("OnPing = 'Ping'"), 11, "method name expected");
  ExpectRejected(Form("Serial = 'x'"), 11, "integer expected");  // not stored, still checked
}

TEST_F(FormErrors, UnknownNamesAndValuesOutOfRange) {
  ExpectRejected(Form("Mode = gmTurbo"), 11, "gmTurbo is not a value of TGadgetMode");
  ExpectRejected(Form("Options = [goRed, goPink]"), 11, "goPink is not a value of TGadgetOptions");
  ExpectRejected(Form("Count = 1001"), 11, "out of range");
  ExpectRejected(Form("Count = -1001"), 11, "out of range");
  ExpectRejected(Form("Count = 99999999999999999999"), 11, "out of range");
  ExpectRejected(Form("Count = -$FFFFFFFFFFFFFFFFF"), 11, "out of range");
  ExpectRejected(Form("Serial = 2147483648"), 11, "out of range");
  ExpectRejected(Form("OnPing = Pong"), 11, "method Pong not found");
  ExpectRejected(Form("OnPing = Text"), 11, "method Text does not fit OnPing");
}

TEST_F(FormErrors, MalformedLines) {
  ExpectRejected(Form("Count 9"), 11, "'=' expected");
  ExpectRejected(Form("Count ="), 11, "value expected");
  ExpectRejected(Form("Count = 9 10"), 11, "unexpected text");
  ExpectRejected(Form("Count = 12ab"), 11, "malformed number");
  ExpectRejected(Form("Count = -"), 11, "malformed number");
  ExpectRejected(Form("Title = 'open"), 11, "unterminated string");
  ExpectRejected(Form("Title = 'a'#256"), 11, "character code out of range");
  ExpectRejected(Form("Title = #"), 11, "character code expected");
  ExpectRejected(Form("Options = [goRed goBlue]"), 11, "',' or ']' expected");
  ExpectRejected(Form("Options = [goRed,]"), 11, "set element expected");
  ExpectRejected(Form("= 3"), 11, "property name");
  ExpectRejected(Form("Font.Size = 3"), 11, "'=' expected");
  ExpectRejected(Form("object"), 11, "component name expected");
  ExpectRejected(Form("object Lid:"), 11, "class name expected");
  ExpectRejected(Form("object TGadget"), 11, "needs a name");
  ExpectRejected(Form("end junk"), 11, "unexpected text");
  ExpectRejected(Form("Count = 1") + "end\n", 13, "text after the end");
  ExpectRejected(Form("Count = 1") + "Count = 1\n", 13, "text after the end");
  ExpectRejected(Form("object Lid: TGadget"), 1, "'end' missing");  // the root's
  ExpectRejected("end\n", 1, "'end' without 'object'");
  ExpectRejected("", 1, "'object' expected");
  ExpectRejected("\n\n  Count = 1\n", 3, "'object' expected");
}

TEST_F(FormErrors, WrongClassesAndComponents) {
  ExpectRejected("object Root: TWidget\nend\n", 1, "is a TGadget, not a TWidget");
  ExpectRejected(Form("object Knob2: TWidget\n  end"), 11, "class TWidget not found");
  ExpectRejected(Form("Count = 1", "object Fresh: TGadget\n    end"), 9, "Fresh appears twice");
  TGadget other(nullptr);
  other.SetName("Owner");
  TGadget* sibling = new TGadget(&other);
  sibling->SetName("Taken");
  TGadget* g = new TGadget(&other);
  g->SetName("Mine");
  EXPECT_THROW(ReadForm(*g, "object Taken: TGadget\nend\n"), EReadError);
  EXPECT_EQ(g->Name(), "Mine");
}

TEST_F(FormErrors, SetterRaisingPutsEveryValueBackAndFreesWhatItMade) {
  knob->Locked = true;
  try {
    ReadForm(root, Form("Count = 1"), methods);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Gadget locked.");  // the setter's own exception passes on
  }
  ExpectUnchanged();
  knob->Locked = false;
  ReadForm(root, Form("Count = 1"), methods);
  EXPECT_EQ(root.Name(), "Renamed");
  EXPECT_EQ(knob->Title, "changed");
  ASSERT_EQ(knob->ComponentCount(), 1);
  EXPECT_EQ(knob->Components(0)->Name(), "Fresh");
}

}  // namespace
}  // namespace quorlink
