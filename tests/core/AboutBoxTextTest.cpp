#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "quorlink/core/Application.h"
#include "quorlink/core/Forms.h"
#include "quorlink/core/QuorBaseComponent.h"
#include "quorlink/core/TextPresenter.h"
#include "platform/Console.h"

namespace quorlink {
namespace {

// A console with scripted keys; an empty script reads as closed input.
class FakeConsole : public platform::IConsole {
 public:
  bool Terminal = false;
  std::deque<int> Keys;
  std::string Output;
  int KeyInput = 0;  // Begin minus End
  int Reads = 0;
  std::function<void()> OnRead;

  bool InputIsTerminal() override { return Terminal; }
  void WriteOutput(std::string_view text) override { Output += text; }
  void BeginKeyInput() override { ++KeyInput; }
  void EndKeyInput() override { --KeyInput; }
  int ReadKey(TPollHandle) override {
    ++Reads;
    if (OnRead) OnRead();
    if (Keys.empty()) return platform::kConsoleEnd;
    int key = Keys.front();
    Keys.pop_front();
    return key;
  }
};

// The fake console and the console presenter, which is not the platform's own
// everywhere (Windows shows a window).
struct ConsoleScope {
  explicit ConsoleScope(FakeConsole& fake) : console(fake) {}
  platform::ScopedConsole console;
  TTextPresenter text;
  ScopedFormPresenter presenter{text};
};

const char kAboutText[] =
    "+-----------------------------------------------+\n"
    "| Quorlink Library 1.1                       [X]|\n"
    "+-----------------------------------------------+\n"
    "|         Quorlink Library 1.0                  |\n"
    "|                                               |\n"
    "|           Serial port and Bluetooth links     |\n"
    "|                                               |\n"
    "|                for desktop applications       |\n"
    "|                (c) The Quorlink developers    |\n"
    "|                                               |\n"
    "|                                    [ Close ]  |\n"
    "|                                               |\n"
    "|                                               |\n"
    "+-----------------------------------------------+\n";

TEST(AboutBoxText, WithoutATerminalPrintsTheBoxAndReturnsAtOnce) {
  FakeConsole console;
  ConsoleScope scope(console);
  console.Keys = {'\r'};
  TQuorBaseComponent component(nullptr);
  component.ShowAbout();
  EXPECT_EQ(console.Output, kAboutText);
  EXPECT_EQ(console.Reads, 0);
  EXPECT_EQ(console.KeyInput, 0);
}

TEST(AboutBoxText, OnATerminalWaitsForEnterOrEscape) {
  for (int ending : {0x0D, 0x0A, 0x1B}) {
    FakeConsole console;
    ConsoleScope scope(console);
    console.Terminal = true;
    console.Keys = {'x', ' ', ending, '\r'};
    console.OnRead = [&] { EXPECT_EQ(console.KeyInput, 1); };
    TQuorBaseComponent component(nullptr);
    component.ShowAbout();
    EXPECT_EQ(console.Reads, 3);
    EXPECT_EQ(console.KeyInput, 0);
    const std::string expected = std::string(kAboutText).append("Press Enter or Escape to close.\n");
    EXPECT_EQ(console.Output, expected);
  }
}

TEST(AboutBoxText, CtrlCOrCtrlDClosesTheBox) {
  for (int ending : {0x03, 0x04}) {
    FakeConsole console;
    ConsoleScope scope(console);
    console.Terminal = true;
    console.Keys = {'x', ending, '\r'};
    TQuorBaseComponent component(nullptr);
    component.ShowAbout();
    EXPECT_EQ(console.Reads, 2);
    EXPECT_EQ(console.KeyInput, 0);
  }
}

TEST(AboutBoxText, ClosedInputEndsTheBox) {
  FakeConsole console;
  ConsoleScope scope(console);
  console.Terminal = true;
  console.Keys = {'q'};
  TQuorBaseComponent component(nullptr);
  component.ShowAbout();
  EXPECT_EQ(console.Reads, 2);
  EXPECT_EQ(console.KeyInput, 0);
}

TEST(AboutBoxText, MessagesAreHandledWhileTheBoxWaits) {
  FakeConsole console;
  ConsoleScope scope(console);
  console.Terminal = true;
  int handled = 0;
  HWND window = AllocateHWnd([&](TMessage& m) {
    if (m.Msg == WM_USER + 7) ++handled;
  });
  ASSERT_TRUE(quorlink::PostMessage(window, WM_USER + 7, 0, 0));
  console.Keys = {platform::kConsoleWake, '\r'};
  std::vector<int> seen;
  console.OnRead = [&] { seen.push_back(handled); };
  TQuorBaseComponent component(nullptr);
  component.ShowAbout();
  DeallocateHWnd(window);
  EXPECT_EQ(seen, (std::vector<int>{0, 1}));
}

TEST(TextPresenter, ClipsAndSanitisesWhatDoesNotFit) {
  TForm form(nullptr);
  form.BorderStyle = bsNone;
  form.Width = 40;
  form.Height = 32;
  auto* label = new TLabel(&form);
  label->SetParent(&form);
  label->Left = 8;
  label->Caption = "a\x1b[2Jb &&c long text";
  auto* hidden = new TLabel(&form);
  hidden->SetParent(&form);
  hidden->Top = 64;
  hidden->Caption = "below";
  EXPECT_EQ(RenderForm(form),
            "+-----+\n"
            "| a?[2|\n"
            "|     |\n"
            "+-----+\n");
}

}  // namespace
}  // namespace quorlink
