#include "dialogs.h"

#include <commctrl.h>

#include "config/launcher_config.h"
#include "res/resource_ids.h"
#include "win_text.h"

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
  std::u16string caption = getConfigWString(20013);
  std::u16string text = getConfigWString(textId);
  return MessageBoxW(owner, asWide(text.c_str()), asWide(caption.c_str()), type);
}
