// Forms built to exhaust the reader: deep nesting, very many components,
// huge values. Each must read, or fail with a bounded read error, without
// changing the component.
#include <gtest/gtest.h>

#include <string>

#include "quorlink/core/FormStream.h"
#include "support/FormGadget.h"

namespace quorlink {
namespace {

using testing::TGadget;

class FormLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterClass<TGadget>("TGadget");
    root.SetName("Root");
    before = WriteForm(root);
  }
  void TearDown() override { UnregisterClass("TGadget"); }

  // Fails with a short message naming the line, and nothing changed.
  void ExpectRejected(const std::string& form, int line, const std::string& part) {
    try {
      ReadForm(root, form);
      ADD_FAILURE() << "no exception";
    } catch (const EReadError& e) {
      std::string message = e.what();
      EXPECT_EQ(message.rfind("Line " + std::to_string(line) + ": ", 0), 0u) << message;
      EXPECT_NE(message.find(part), std::string::npos) << message;
      EXPECT_LT(message.size(), 200u) << message.substr(0, 200);
    }
    EXPECT_EQ(root.ComponentCount(), 0);
    EXPECT_EQ(WriteForm(root), before);
  }

  TGadget root{nullptr};
  std::string before;
};

// The root and depth - 1 components each owned by the one before, each
// object on the line of its level.
std::string Nested(int depth, bool closed) {
  std::string out = "object Root: TGadget\n";
  for (int level = 2; level <= depth; ++level) out += "object G: TGadget\nCount = 1\n";
  if (closed)
    for (int level = 1; level <= depth; ++level) out += "end\n";
  return out;
}

TEST_F(FormLimits, NestingIsBoundedAndFailsCleanlyPastTheLimit) {
  // 10^6 open objects and no end; then deep enough to overflow a recursive
  // reader; then one past the limit: the object past it is the line named.
  const int past = 2 * MaxFormDepth;  // the line of the object at depth MaxFormDepth + 1
  ExpectRejected(Nested(1'000'000, false), past, "nested more than");
  ExpectRejected(Nested(10'000, true), past, "nested more than");
  ExpectRejected(Nested(MaxFormDepth + 1, true), past, "nested more than");

  // At the limit the form reads, and what it made writes out and reads back.
  ReadForm(root, Nested(MaxFormDepth, true));
  const TComponent* deepest = &root;
  for (int level = 2; level <= MaxFormDepth; ++level) {
    ASSERT_EQ(deepest->ComponentCount(), 1) << level;
    deepest = deepest->Components(0);
  }
  EXPECT_EQ(static_cast<const TGadget*>(deepest)->Count, 1);
  const std::string written = WriteForm(root);
  TGadget again(nullptr);
  ReadForm(again, written);
  EXPECT_EQ(WriteForm(again), written);
}

TEST_F(FormLimits, ManyOwnedComponentsReadInLinearTime) {
  // Checking each new name against all before it takes hours at this size
  // (10^5 took 105 s): the test's deadline catches a quadratic read.
  const int count = 200'000;
  std::string form = "object Root: TGadget\n";
  for (int i = 0; i < count; ++i) form += "object Gadget" + std::to_string(i) + ": TGadget\nend\n";
  const std::string bad = form + "Count = 5000\nend\n";
  form += "end\n";

  // A read that fails on its last line frees all it made.
  const int badLine = 2 * count + 2;
  ExpectRejected(bad, badLine, "out of range");

  ReadForm(root, form);
  ASSERT_EQ(root.ComponentCount(), count);
  EXPECT_EQ(root.FindComponent("GADGET123456"), root.Components(123456));
  // Read again, every component is found by name instead of made.
  ReadForm(root, form);
  EXPECT_EQ(root.ComponentCount(), count);

  // The names stay findable as components are renamed and freed.
  TComponent* g = root.FindComponent("gadget7");
  g->SetName("Renamed");
  EXPECT_EQ(root.FindComponent("gadget7"), nullptr);
  EXPECT_EQ(root.FindComponent("RENAMED"), g);
  EXPECT_THROW(root.Components(8)->SetName("renamed"), Exception);
  g->SetName("Gadget7");  // a name freed by a rename can be taken again
  EXPECT_EQ(root.FindComponent("Renamed"), nullptr);
  Free(g);
  EXPECT_EQ(root.FindComponent("Gadget7"), nullptr);
  EXPECT_EQ(root.ComponentCount(), count - 1);
  (new TGadget(&root))->SetName("gadget7");
  EXPECT_NE(root.FindComponent("Gadget7"), nullptr);
}

TEST_F(FormLimits, ErrorsQuoteOnlyAnExcerptOfHugeText) {
  const std::string digits(1'000'000, '7');
  const std::string ident = "x" + std::string(1'000'000, 'y');
  auto form = [](const std::string& line) { return "object Root: TGadget\n  " + line + "\nend\n"; };
  ExpectRejected(form("Count = " + digits), 2, "out of range");
  ExpectRejected(form("Count = -$" + digits), 2, "out of range");
  ExpectRejected(form("Title = 'ok' " + digits), 2, "unexpected text");
  ExpectRejected(form(ident + " = 1"), 2, "does not exist");
  ExpectRejected(form("Mode = " + ident), 2, "is not a value");
  ExpectRejected(form("Options = [goRed, " + ident + "]"), 2, "is not a value");
  ExpectRejected(form("OnPing = " + ident), 2, "not found");
  ExpectRejected(form("object " + ident + ": " + ident + "\n  end"), 2, "not found");
  ExpectRejected("object " + ident + ": " + ident + "\nend\n", 1, "not a x");
}

}  // namespace
}  // namespace quorlink
