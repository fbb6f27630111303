#include "platform/windows/WinFormPresenterWindow.h"

#include <algorithm>
#include <string>

namespace quorlink::platform {

namespace {

constexpr wchar_t kClassName[] = L"QuorlinkForm";

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), n);
  return out;
}

// The module this code is linked into: the program, or the library's DLL.
HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&Wide), &module);
  return module;
}

TFormWindow* WindowData(::HWND window) {
  return reinterpret_cast<TFormWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

TButton* ButtonAt(const TForm& form, int index) {
  if (index < 0 || index >= form.ControlCount()) return nullptr;
  return dynamic_cast<TButton*>(form.Controls(index));
}

int DefaultButtonId(const TForm& form) {
  for (int i = 0; i < form.ControlCount(); ++i) {
    TButton* button = ButtonAt(form, i);
    if (button != nullptr && button->Default) return kFirstControlId + i;
  }
  return 0;
}

void Command(TForm& form, int id) {
  if (id == IDOK) {
    form.KeyDown(VK_RETURN);
  } else if (id == IDCANCEL) {
    form.KeyDown(VK_ESCAPE);
  } else if (TButton* button = ButtonAt(form, id - kFirstControlId)) {
    button->Click();
  }
}

::LRESULT CALLBACK FormProc(::HWND window, ::UINT msg, ::WPARAM wParam, ::LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  TFormWindow* data = WindowData(window);
  if (data == nullptr || data->Form == nullptr) return DefWindowProcW(window, msg, wParam, lParam);
  // The form's code may raise; it must not unwind through the system's frames.
  try {
    switch (msg) {
      case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) Command(*data->Form, LOWORD(wParam));
        return 0;
      case DM_GETDEFID:
        if (int id = DefaultButtonId(*data->Form)) return MAKELRESULT(id, DC_HASDEFID);
        return 0;
      case WM_CLOSE:
        data->Form->Close();
        return 0;
      default:
        break;
    }
  } catch (...) {
    if (!data->Error) data->Error = std::current_exception();
    return 0;
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

bool RegisterFormClass() {
  static const ATOM atom = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = FormProc;
    wc.hInstance = ThisModule();
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = kClassName;
    return RegisterClassExW(&wc);
  }();
  return atom != 0;
}

struct TStyle {
  ::DWORD Style;
  ::DWORD ExStyle;
};

TStyle StyleOf(const TForm& form) {
  TStyle s{WS_CLIPSIBLINGS | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT};
  const bool system = form.BorderIcons.Contains(biSystemMenu);
  switch (form.BorderStyle) {
    case bsNone:
      s.Style |= WS_POPUP;
      return s;
    case bsDialog:
      // A dialog frame never has minimise or maximise boxes.
      s.Style |= WS_POPUP | WS_CAPTION;
      s.ExStyle |= WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
      if (system && form.BorderIcons.Contains(biHelp)) s.ExStyle |= WS_EX_CONTEXTHELP;
      break;
    case bsToolWindow:
    case bsSizeToolWin:
      s.Style |= WS_POPUP | WS_CAPTION | (form.BorderStyle == bsSizeToolWin ? WS_THICKFRAME : 0);
      s.ExStyle |= WS_EX_TOOLWINDOW;
      break;
    default:
      s.Style |= WS_OVERLAPPED | WS_CAPTION | (form.BorderStyle == bsSizeable ? WS_THICKFRAME : 0);
      if (system && form.BorderIcons.Contains(biMinimize)) s.Style |= WS_MINIMIZEBOX;
      if (system && form.BorderIcons.Contains(biMaximize)) s.Style |= WS_MAXIMIZEBOX;
      break;
  }
  if (system) s.Style |= WS_SYSMENU;
  return s;
}

POINT OriginOf(const TForm& form) {
  switch (form.Position) {
    case poDefault:
    case poDefaultPosOnly:
      return {CW_USEDEFAULT, CW_USEDEFAULT};
    case poDesktopCenter:
      return {GetSystemMetrics(SM_XVIRTUALSCREEN) +
                  (GetSystemMetrics(SM_CXVIRTUALSCREEN) - form.Width) / 2,
              GetSystemMetrics(SM_YVIRTUALSCREEN) +
                  (GetSystemMetrics(SM_CYVIRTUALSCREEN) - form.Height) / 2};
    case poScreenCenter:
    case poMainFormCenter:  // no main form of the host's here: the screen
    case poOwnerFormCenter:
      return {(GetSystemMetrics(SM_CXSCREEN) - form.Width) / 2,
              (GetSystemMetrics(SM_CYSCREEN) - form.Height) / 2};
    default:
      return {form.Left, form.Top};
  }
}

HFONT MakeFont(const TFont& font) {
  LOGFONTW lf{};
  lf.lfHeight = font.Height;
  lf.lfWeight = font.Style.Contains(fsBold) ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = font.Style.Contains(fsItalic);
  lf.lfUnderline = font.Style.Contains(fsUnderline);
  lf.lfStrikeOut = font.Style.Contains(fsStrikeOut);
  lf.lfCharSet = DEFAULT_CHARSET;
  const std::wstring name = Wide(font.Name).substr(0, LF_FACESIZE - 1);
  std::copy(name.begin(), name.end(), lf.lfFaceName);
  return CreateFontIndirectW(&lf);
}

// What the label's text takes up in its font, as a STATIC draws it.
SIZE TextExtent(::HWND window, HFONT font, const std::wstring& text) {
  RECT r{0, 0, 0, 0};
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  DrawTextW(dc, text.empty() ? L" " : text.c_str(), -1, &r, DT_CALCRECT | DT_EXPANDTABS);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return {r.right - r.left, r.bottom - r.top};
}

BOOL CALLBACK CollectEnabled(::HWND window, ::LPARAM list) {
  if (IsWindowVisible(window) && IsWindowEnabled(window))
    reinterpret_cast<std::vector<::HWND>*>(list)->push_back(window);
  return TRUE;
}

bool AddControls(TFormWindow& data) {
  const TForm& form = *data.Form;
  for (int i = 0; i < form.ControlCount(); ++i) {
    const TControl& control = *form.Controls(i);
    const auto* button = dynamic_cast<const TButton*>(&control);
    const auto* label = dynamic_cast<const TLabel*>(&control);
    HFONT font = MakeFont(control.Font());
    if (font == nullptr) return false;
    data.Fonts.push_back(font);
    const std::wstring caption = Wide(control.Caption);
    int width = control.Width;
    int height = control.Height;
    if (label != nullptr && label->AutoSize) {
      SIZE extent = TextExtent(data.Window, font, caption);
      width = extent.cx;
      height = extent.cy;
    }
    ::DWORD style = WS_CHILD | WS_VISIBLE;
    if (button != nullptr)
      style |= WS_TABSTOP | (button->Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    else
      style |= SS_LEFT;
    ::HWND child = CreateWindowExW(
        0, button != nullptr ? L"BUTTON" : L"STATIC", caption.c_str(), style, control.Left,
        control.Top, width, height, data.Window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + i)), ThisModule(), nullptr);
    if (child == nullptr) return false;
    SendMessageW(child, WM_SETFONT, reinterpret_cast<::WPARAM>(font), FALSE);
  }
  return true;
}

}  // namespace

TFormWindow::~TFormWindow() {
  // Enabled first, so that the activation passes back to them.
  for (auto it = Disabled.rbegin(); it != Disabled.rend(); ++it)
    if (IsWindow(*it)) EnableWindow(*it, TRUE);
  if (Window != nullptr) {
    SetWindowLongPtrW(Window, GWLP_USERDATA, 0);  // no message reaches the form now
    DestroyWindow(Window);
  }
  for (HFONT font : Fonts) DeleteObject(font);
}

std::unique_ptr<TFormWindow> CreateFormWindow(TForm& form) {
  if (!RegisterFormClass()) return nullptr;
  auto data = std::make_unique<TFormWindow>();
  data->Form = &form;
  const TStyle style = StyleOf(form);
  const POINT origin = OriginOf(form);
  ::HWND owner = GetActiveWindow();
  data->Window =
      CreateWindowExW(style.ExStyle, kClassName, Wide(form.Caption).c_str(), style.Style, origin.x,
                      origin.y, form.Width, form.Height, owner, nullptr, ThisModule(), data.get());
  if (data->Window == nullptr) return nullptr;
  HFONT font = MakeFont(form.Font);
  if (font == nullptr) return nullptr;
  data->Fonts.push_back(font);
  SendMessageW(data->Window, WM_SETFONT, reinterpret_cast<::WPARAM>(font), FALSE);
  if (!AddControls(*data)) {
    const ::DWORD code = GetLastError();
    data.reset();
    SetLastError(code);
    return nullptr;
  }
  // Modal: the thread's other windows take no input until this one is gone.
  std::vector<::HWND> others;
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabled, reinterpret_cast<::LPARAM>(&others));
  for (::HWND other : others)
    if (other != data->Window) {
      EnableWindow(other, FALSE);
      data->Disabled.push_back(other);
    }
  return data;
}

}  // namespace quorlink::platform
