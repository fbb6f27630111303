// Forms as real windows, and the resources of the Windows files, looked at
// the way a Windows program sees them. Run under Wine on a virtual display by
// run_window_tests.py; one case per run:
//   about [--pause]     the About box: window, captions, buttons, fonts,
//                       Enter and Escape close it, messages flow meanwhile
//                       (--pause: say SHOWN and wait for a line on stdin
//                       while the box is up, for a screenshot)
//   keys                a form of several buttons: Enter, Escape, the
//                       accelerator, the system menu, an exception in OnClick
//   resources FILE      FILE's version block and palette bitmaps
//   headless            no display: the About box goes to the console and
//                       returns at once (the driver reads the text)
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <iostream>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "quorlink/core/Application.h"
#include "quorlink/core/Forms.h"
#include "quorlink/core/QuorBaseComponent.h"
#include "quorlink/design/PaletteBitmaps.h"

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::string TextOf(HWND window) {
  wchar_t buffer[256] = {};
  GetWindowTextW(window, buffer, 256);
  return Narrow(buffer);
}

std::string ClassOf(HWND window) {
  wchar_t buffer[64] = {};
  GetClassNameW(window, buffer, 64);
  return Narrow(buffer);
}

// Polls for a condition on the helper thread: a guard against a hang, not a
// measurement (the test fails on the condition, never on the time).
bool WaitFor(const std::function<bool()>& condition) {
  for (int i = 0; i < 1500; ++i) {
    if (condition()) return true;
    Sleep(20);
  }
  return false;
}

HWND WaitForForm(const wchar_t* caption) {
  HWND found = nullptr;
  WaitFor([&] {
    found = FindWindowW(L"QuorlinkForm", caption);
    return found != nullptr && IsWindowVisible(found);
  });
  return found;
}

// A key as the keyboard gives it, to whichever window has the focus.
void Press(HWND form, WORD key) {
  SetForegroundWindow(form);
  INPUT input[2] = {};
  input[0].type = INPUT_KEYBOARD;
  input[0].ki.wVk = key;
  input[1] = input[0];
  input[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, input, sizeof(INPUT));
}

// True when the window went away; otherwise closes it so the test can end.
bool ClosedAfter(HWND form, const std::function<void()>& action) {
  action();
  if (WaitFor([&] { return !IsWindow(form); })) return true;
  PostMessageW(form, WM_CLOSE, 0, 0);
  return false;
}

struct TChild {
  HWND Window;
  std::string Class;
  std::string Text;
  RECT Rect;  // in the form's client coordinates
};

BOOL CALLBACK CollectChild(HWND child, LPARAM list) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  reinterpret_cast<std::vector<TChild>*>(list)->push_back(
      {child, ClassOf(child), TextOf(child), r});
  return TRUE;
}

std::vector<TChild> ChildrenOf(HWND form) {
  std::vector<TChild> children;
  EnumChildWindows(form, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

LOGFONTW FontOf(HWND window) {
  LOGFONTW lf{};
  auto font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  if (font != nullptr) GetObjectW(font, sizeof lf, &lf);
  return lf;
}

// Distinct colours in the form's window as the screen shows it: a blank
// (undrawn) window has one or two.
std::size_t ColoursOf(HWND form) {
  RECT r;
  GetWindowRect(form, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return 0;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  std::set<std::uint32_t> colours;
  for (int i = 0; i < w * h; ++i) colours.insert(static_cast<const std::uint32_t*>(bits)[i]);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return colours.size();
}

void CheckAboutLayout(HWND form) {
  Check(TextOf(form) == "Quorlink Library 1.1", "caption is \"Quorlink Library 1.1\"");
  RECT r;
  GetWindowRect(form, &r);
  Check(r.right - r.left == 384 && r.bottom - r.top == 190, "window is 384 x 190");
  const int desktopLeft =
      GetSystemMetrics(SM_XVIRTUALSCREEN) + (GetSystemMetrics(SM_CXVIRTUALSCREEN) - 384) / 2;
  Check(r.left == desktopLeft, "window is centred on the desktop");
  const LONG style = GetWindowLongW(form, GWL_STYLE);
  Check((style & WS_SYSMENU) && (style & WS_CAPTION) == WS_CAPTION,
        "caption bar with a system menu");
  Check(!(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME)),
        "no minimise or maximise box, fixed size");
  Check(GetWindowLongW(form, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME, "dialog frame");

  const std::vector<TChild> children = ChildrenOf(form);
  struct TExpect {
    const char* Class;
    const char* Text;
    int Left, Top;
  };
  const TExpect expected[] = {{"Static", "Quorlink Library 1.0", 75, 15},
                              {"Static", "Serial port and Bluetooth links", 95, 45},
                              {"Static", "for desktop applications", 130, 65},
                              {"Static", "(c) The Quorlink developers", 135, 85},
                              {"Button", "&Close", 290, 115}};
  Check(children.size() == 5, "five controls: four labels and a button");
  for (std::size_t i = 0; i < children.size() && i < 5; ++i) {
    const TChild& c = children[i];
    const TExpect& e = expected[i];
    const std::string name = std::string(e.Class) + " \"" + e.Text + "\"";
    Check(_stricmp(c.Class.c_str(), e.Class) == 0 && c.Text == e.Text,
          name + " (found " + c.Class + " \"" + c.Text + "\")");
    Check(c.Rect.left == e.Left && c.Rect.top == e.Top,
          name + " at " + std::to_string(e.Left) + "," + std::to_string(e.Top));
    Check(c.Rect.right > c.Rect.left && c.Rect.bottom > c.Rect.top && IsWindowVisible(c.Window),
          name + " visible with a non-empty rectangle");
  }
  if (children.size() == 5) {
    const TChild& button = children[4];
    Check(button.Rect.right - button.Rect.left == 75 && button.Rect.bottom - button.Rect.top == 25,
          "button has the default size 75 x 25");
    Check((GetWindowLongW(button.Window, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON,
          "the button is the default button");
    const LOGFONTW title = FontOf(children[0].Window);
    Check(title.lfHeight == -16 && title.lfWeight >= FW_BOLD, "title is bold, 16 pixels high");
    const LOGFONTW line = FontOf(children[1].Window);
    Check(line.lfHeight == -11 && line.lfWeight < FW_BOLD, "other labels in the form's font");
  }
  Check(ColoursOf(form) >= 3, "the window is drawn (not blank)");
}

int AboutCase(bool pause) {
  // The application's own hidden window: its messages must keep arriving
  // while the box waits for the user.
  std::atomic<int> handled{0};
  HWND hidden = quorlink::AllocateHWnd([&](quorlink::TMessage& m) {
    if (m.Msg == WM_USER + 7) ++handled;
  });
  quorlink::TQuorBaseComponent component(nullptr);

  std::thread user([&] {
    HWND form = WaitForForm(L"Quorlink Library 1.1");
    Check(form != nullptr, "the About box appears as a window");
    if (form == nullptr) return;
    CheckAboutLayout(form);
    quorlink::PostMessage(hidden, WM_USER + 7, 0, 0);
    Check(WaitFor([&] { return handled.load() == 1; }),
          "the application's messages are handled while the box is up");
    if (pause) {
      std::printf("SHOWN\n");
      std::fflush(stdout);
      std::string line;
      std::getline(std::cin, line);
    }
    Check(ClosedAfter(form, [&] { Press(form, VK_RETURN); }), "Enter closes the About box");
  });
  component.ShowAbout();
  user.join();

  std::thread again([&] {
    HWND form = WaitForForm(L"Quorlink Library 1.1");
    Check(form != nullptr, "the About box appears again");
    if (form == nullptr) return;
    Check(ClosedAfter(form, [&] { Press(form, VK_ESCAPE); }), "Escape closes the About box");
  });
  component.ShowAbout();
  again.join();
  quorlink::DeallocateHWnd(hidden);
  return failures;
}

// A form with OK (default), Cancel (cancel) and Apply (an accelerator, no
// modal result): Enter and Escape reach the right buttons, not just "close".
struct TKeysForm {
  quorlink::TForm Form{nullptr};
  quorlink::TButton* Apply = nullptr;
  int Applied = 0;
  TKeysForm() {
    Form.Caption = "Keys";
    Form.Position = quorlink::poScreenCenter;
    Form.BorderStyle = quorlink::bsSingle;
    Form.Width = 330;
    Form.Height = 120;
    const char* captions[] = {"OK", "Cancel", "&Apply"};
    for (int i = 0; i < 3; ++i) {
      auto* button = new quorlink::TButton(&Form);
      button->SetParent(&Form);
      button->Left = 10 + 100 * i;
      button->Top = 40;
      button->Caption = captions[i];
      if (i == 0) {
        button->Default = true;
        button->ModalResult = quorlink::mrOk;
      } else if (i == 1) {
        button->Cancel = true;
        button->ModalResult = quorlink::mrCancel;
      } else {
        Apply = button;
        button->OnClick = [this](quorlink::TObject*) { ++Applied; };
      }
    }
  }
};

// Shows the form modally while the helper thread acts on its window.
quorlink::TModalResult ShowWhile(quorlink::TForm& form, const std::function<void(HWND)>& act) {
  std::thread user([&] {
    HWND window = WaitForForm(L"Keys");
    Check(window != nullptr, "the form appears as a window");
    if (window != nullptr) act(window);
  });
  quorlink::TModalResult result = quorlink::mrNone;
  try {
    result = form.ShowModal();
  } catch (...) {
    user.join();
    throw;
  }
  user.join();
  return result;
}

int KeysCase() {
  // The program's own window must take no input while the form is modal.
  HWND main = CreateWindowExW(0, L"STATIC", L"main", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                              100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  {
    TKeysForm f;
    const auto result = ShowWhile(f.Form, [&](HWND form) {
      Check(!IsWindowEnabled(main), "the program's other window is disabled while modal");
      Check(ChildrenOf(form).size() == 3, "three buttons");
      Press(form, 'A');
      Check(WaitFor([&] { return f.Applied == 1; }), "the accelerator key clicks &Apply");
      Check(IsWindow(form), "a button without a modal result leaves the form open");
      Check(ClosedAfter(form, [&] { Press(form, VK_RETURN); }), "Enter closes the form");
    });
    Check(result == quorlink::mrOk, "Enter gives the default button's result");
    Check(IsWindowEnabled(main), "the program's window is enabled again");
  }
  {
    TKeysForm f;
    const auto result = ShowWhile(f.Form, [&](HWND form) {
      Check(ClosedAfter(form, [&] { Press(form, VK_ESCAPE); }), "Escape closes the form");
    });
    Check(result == quorlink::mrCancel, "Escape gives the cancel button's result");
  }
  {
    TKeysForm f;
    const auto result = ShowWhile(f.Form, [&](HWND form) {
      Check(ClosedAfter(form, [&] { PostMessageW(form, WM_SYSCOMMAND, SC_CLOSE, 0); }),
            "the system menu's Close closes the form");
    });
    Check(result == quorlink::mrCancel, "the system menu's Close gives mrCancel");
  }
  {
    TKeysForm f;
    f.Apply->OnClick = [](quorlink::TObject*) { throw std::runtime_error("from OnClick"); };
    HWND seen = nullptr;
    bool raised = false;
    try {
      ShowWhile(f.Form, [&](HWND form) {
        seen = form;
        ClosedAfter(form, [&] { Press(form, 'A'); });
      });
    } catch (const std::runtime_error& e) {
      raised = std::string(e.what()) == "from OnClick";
    }
    Check(raised, "an exception in OnClick leaves ShowModal");
    Check(seen != nullptr && !IsWindow(seen), "and the form's window is gone");
    Check(!f.Form.Visible(), "and the form is hidden");
  }
  DestroyWindow(main);
  return failures;
}

std::string VersionString(const std::vector<char>& block, const wchar_t* name) {
  std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  void* value = nullptr;
  UINT size = 0;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &size) || size == 0) return {};
  return Narrow(static_cast<const wchar_t*>(value));
}

int ResourcesCase(const std::string& file) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, file.c_str(), -1, nullptr, 0);
  std::wstring path(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, file.c_str(), -1, path.data(), n);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  Check(size > 0, "the file has a version block");
  if (size == 0) return failures;
  std::vector<char> block(size);
  GetFileVersionInfoW(path.c_str(), 0, size, block.data());
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  Check(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) &&
            fixed != nullptr,
        "fixed version information");
  if (fixed != nullptr) {
    Check(fixed->dwFileVersionMS == 0x00010001 && fixed->dwFileVersionLS == 0x00000004,
          "file version 1.1.0.4");
    Check(fixed->dwProductVersionMS == 0x00010001 && fixed->dwProductVersionLS == 0,
          "product version 1.1");
  }
  Check(VersionString(block, L"FileDescription") == "Quorlink Library",
        "FileDescription \"Quorlink Library\"");
  Check(VersionString(block, L"FileVersion") == "1.1.0.4", "FileVersion \"1.1.0.4\"");
  Check(VersionString(block, L"ProductVersion") == "1.1", "ProductVersion \"1.1\"");
  Check(VersionString(block, L"ProductName") == "Quorlink Library", "ProductName");
  Check(!VersionString(block, L"CompanyName").empty() &&
            !VersionString(block, L"LegalCopyright").empty(),
        "CompanyName and LegalCopyright");

  HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  Check(module != nullptr, "the file loads as a resource module");
  if (module == nullptr) return failures;
  for (const std::string& name : quorlink::PaletteBitmapNames()) {
    const std::wstring wide(name.begin(), name.end());
    HRSRC found = FindResourceW(module, wide.c_str(), MAKEINTRESOURCEW(2));  // RT_BITMAP
    Check(found != nullptr, name + " is a bitmap resource");
    if (found == nullptr) continue;
    const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, found)));
    const std::vector<std::uint8_t>& file = *quorlink::FindPaletteBitmap(name);
    // A BITMAP resource is the file without its 14-byte file header.
    const std::vector<std::uint8_t> resource(data, data + SizeofResource(module, found));
    Check(resource == std::vector<std::uint8_t>(file.begin() + 14, file.end()),
          name + " is the library's own image");
    auto bitmap = static_cast<HBITMAP>(LoadImageW(module, wide.c_str(), IMAGE_BITMAP, 0, 0, 0));
    BITMAP info{};
    Check(bitmap != nullptr && GetObjectW(bitmap, sizeof info, &info) && info.bmWidth == 32 &&
              info.bmHeight == 32,
          name + " loads as a 32 x 32 bitmap");
    if (bitmap != nullptr) DeleteObject(bitmap);
  }
  FreeLibrary(module);
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string which = argc > 1 ? argv[1] : "";
  try {
    if (which == "about") return AboutCase(argc > 2 && std::string(argv[2]) == "--pause") ? 1 : 0;
    if (which == "keys") return KeysCase() ? 1 : 0;
    if (which == "headless") {
      quorlink::TQuorBaseComponent component(nullptr);
      component.ShowAbout();
      return 0;
    }
    if (which == "resources" && argc > 2) return ResourcesCase(argv[2]) ? 1 : 0;
  } catch (const std::exception& e) {
    std::printf("FAILED: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "usage: %s about [--pause] | keys | resources FILE | headless\n", argv[0]);
  return 2;
}
