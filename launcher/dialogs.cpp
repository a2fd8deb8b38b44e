#include "dialogs.h"

#include <commctrl.h>

#include "base/win_text.h"
#include "config/launcher_config.h"
#include "res/resource_ids.h"

namespace {

using SetWindowTextWFn = BOOL(WINAPI*)(HWND, LPCWSTR);
using SetDlgItemTextWFn = BOOL(WINAPI*)(HWND, int, LPCWSTR);

// Looked up once: only the NT family offers the wide setters.
struct WideSetters {
  SetWindowTextWFn setWindowText = nullptr;
  SetDlgItemTextWFn setDlgItemText = nullptr;
  WideSetters() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info) || info.dwPlatformId != VER_PLATFORM_WIN32_NT) return;
    HMODULE user32 = GetModuleHandleA("user32.dll");
    setWindowText = reinterpret_cast<SetWindowTextWFn>(reinterpret_cast<void*>(GetProcAddress(user32, "SetWindowTextW")));
    setDlgItemText =
        reinterpret_cast<SetDlgItemTextWFn>(reinterpret_cast<void*>(GetProcAddress(user32, "SetDlgItemTextW")));
  }
};

const WideSetters& wideSetters() {
  static const WideSetters setters;
  return setters;
}

std::string ansiForDialog(const std::u16string& text) {
  std::string narrow = wideToAnsi(asWide(text));
  if (narrow.size() > 8191) narrow.resize(8191);
  return narrow;
}

}  // namespace

void centerWindow(HWND window) {
  RECT dialog, owner;
  GetWindowRect(window, &dialog);
  HWND parent = GetWindow(window, GW_OWNER);
  GetWindowRect(parent ? parent : GetDesktopWindow(), &owner);
  int width = dialog.right - dialog.left, height = dialog.bottom - dialog.top;
  int left = owner.left + ((owner.right - owner.left) - width) / 2;
  int top = owner.top + ((owner.bottom - owner.top) - height) / 2;
  SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void fitTextHeight(HWND dialog, int itemId) {
  HWND control = GetDlgItem(dialog, itemId);
  if (!control) return;
  int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(control, text.data(), length + 1);
  RECT client;
  GetClientRect(control, &client);
  RECT needed = {0, 0, client.right, 0};
  HDC dc = GetDC(control);
  HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
  DrawTextW(dc, text.c_str(), length, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
  SelectObject(dc, previous);
  ReleaseDC(control, dc);
  int grow = needed.bottom - client.bottom;
  if (grow <= 0) return;
  RECT area;
  GetWindowRect(control, &area);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&area), 2);
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    if (child != control && r.top >= area.bottom) {
      SetWindowPos(child, nullptr, r.left, r.top + grow, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  SetWindowPos(control, nullptr, 0, 0, area.right - area.left, area.bottom - area.top + grow,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT frame;
  GetWindowRect(dialog, &frame);
  SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + grow,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void setWindowTextWide(HWND window, const std::u16string& text) {
  if (wideSetters().setWindowText) wideSetters().setWindowText(window, asWide(text.c_str()));
  else SetWindowTextA(window, ansiForDialog(text).c_str());
}

void setDlgItemTextWide(HWND dialog, int itemId, const std::u16string& text) {
  if (wideSetters().setDlgItemText) wideSetters().setDlgItemText(dialog, itemId, asWide(text.c_str()));
  else SetDlgItemTextA(dialog, itemId, ansiForDialog(text).c_str());
}

void setProgressRange(HWND dialog, int low, int high) {
  if (dialog) SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

void setProgressPosition(HWND dialog, int position) {
  if (dialog) SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

int showWizardMessage(HWND owner, int textId, UINT type) {
  std::u16string caption = config::wizardCaption();
  std::u16string text = getConfigWString(textId);
  return MessageBoxW(owner, asWide(text.c_str()), asWide(caption.c_str()), type);
}
