#include "quorlink/core/TextPresenter.h"

#include <algorithm>
#include <vector>

#include "quorlink/core/Application.h"
#include "platform/Console.h"

namespace quorlink {

namespace {

constexpr int kCellWidth = 8;
constexpr int kCellHeight = 16;

// Control bytes would act on the terminal instead of showing.
std::string Printable(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return text;
}

std::string Fit(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

std::string ButtonFace(const TControl& button) {
  std::size_t inner = static_cast<std::size_t>(std::max(2, button.Width / kCellWidth - 2));
  std::string caption = Printable(StripHotkey(button.Caption)).substr(0, inner);
  std::size_t left = (inner - caption.size()) / 2;
  return "[" + std::string(left, ' ') + caption + std::string(inner - caption.size() - left, ' ') +
         "]";
}

}  // namespace

std::string RenderForm(const TForm& form) {
  const int cols = std::max(1, form.ClientWidth() / kCellWidth);
  const int rows = std::max(1, form.ClientHeight() / kCellHeight);
  std::vector<std::string> grid(static_cast<std::size_t>(rows),
                                std::string(static_cast<std::size_t>(cols), ' '));
  auto put = [&](int row, int col, const std::string& text) {
    if (row < 0 || row >= rows) return;
    for (std::size_t i = 0; i < text.size(); ++i) {
      int c = col + static_cast<int>(i);
      if (c >= 0 && c < cols)
        grid[static_cast<std::size_t>(row)][static_cast<std::size_t>(c)] = text[i];
    }
  };
  for (int i = 0; i < form.ControlCount(); ++i) {
    const TControl& c = *form.Controls(i);
    if (dynamic_cast<const TButton*>(&c) != nullptr)
      put((c.Top + c.Height / 2) / kCellHeight, c.Left / kCellWidth, ButtonFace(c));
    else
      put(c.Top / kCellHeight, c.Left / kCellWidth, Printable(StripHotkey(c.Caption)));
  }

  const std::string rule = "+" + std::string(static_cast<std::size_t>(cols), '-') + "+\n";
  std::string out = rule;
  if (form.BorderStyle != bsNone) {
    std::string icons;
    if (form.BorderIcons.Contains(biMinimize)) icons += "[_]";
    if (form.BorderIcons.Contains(biMaximize)) icons += "[^]";
    if (form.BorderIcons.Contains(biSystemMenu)) icons += "[X]";
    std::size_t room = static_cast<std::size_t>(cols) - std::min(icons.size(), std::size_t(cols));
    out += "|" + Fit(" " + Printable(form.Caption), room) + icons.substr(0, std::size_t(cols)) +
           "|\n" + rule;
  }
  for (const std::string& line : grid) out += "|" + line + "|\n";
  return out + rule;
}

void TTextPresenter::Show(TForm& form) {
  platform::IConsole& console = platform::Console();
  console.WriteOutput(RenderForm(form));
  if (!console.InputIsTerminal()) return;
  console.WriteOutput("Press Enter or Escape to close.\n");
  console.BeginKeyInput();
}

void TTextPresenter::Hide(TForm&) {
  platform::IConsole& console = platform::Console();
  if (console.InputIsTerminal()) console.EndKeyInput();
}

bool TTextPresenter::WaitInput(TForm& form) {
  platform::IConsole& console = platform::Console();
  if (!console.InputIsTerminal()) return false;
  switch (int key = console.ReadKey(Application().Handle())) {
    case platform::kConsoleEnd:
      return false;
    case platform::kConsoleWake:
      Application().ProcessMessages();
      return true;
    case '\r':
    case '\n':
      form.KeyDown(VK_RETURN);
      return true;
    case 0x1B:
      form.KeyDown(VK_ESCAPE);
      return true;
    case 0x03:  // Ctrl-C and Ctrl-D: the system menu's close
    case 0x04:
      form.Close();
      return true;
    default:
      (void)key;
      return true;
  }
}

}  // namespace quorlink
