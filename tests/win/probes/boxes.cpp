// Finds the visible dialog boxes (message boxes and the launcher's dialogs) of the Wine session,
// prints their caption and texts, and can press a button of the first one that matches:
//   boxes [--wait SECONDS] [--title TEXT] [--text PART] [--press BUTTON_ID] [--check-fit 1] [--rect ID]
// (--rect ID: a second line "rect=LEFT,TOP,RIGHT,BOTTOM", the control's place on the screen)
// (--check-fit: a static text whose wrapped text is taller than the control is followed by "(cut off)")
// (--text: the line must contain PART, which tells a message box from a dialog of the same caption)
// Output: one line per box, "caption|text of each visible child control, joined by |" (a progress
// bar shows as "progress=N|progress_range=LOW-HIGH"). Exit code 0 when
// a box matched (and the press was sent), 1 when none appeared within the wait.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Box {
  HWND window;
  std::string line;
};

std::string textOf(HWND window) {
  char text[4096] = "";
  // WM_GETTEXT reaches controls of other processes; GetWindowText would not.
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
  return text;
}

bool g_checkFit = false;

// Whether a static text's word-wrapped text needs more height than the control has, measured in
// the dialogs' font (8 point "MS Shell Dlg" at 96 DPI): the font handle of another process's
// control is of no use here.
bool textCut(HWND control, const std::string& text) {
  RECT client;
  GetClientRect(control, &client);
  RECT needed = {0, 0, client.right, 0};
  HDC dc = GetDC(nullptr);
  HFONT font = CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "MS Shell Dlg");
  HGDIOBJ previous = SelectObject(dc, font);
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
  SelectObject(dc, previous);
  DeleteObject(font);
  ReleaseDC(nullptr, dc);
  return needed.bottom > client.bottom;
}

BOOL CALLBACK addChildText(HWND child, LPARAM param) {
  auto* line = reinterpret_cast<std::string*>(param);
  char className[64] = "";
  GetClassNameA(child, className, sizeof className);
  if (std::strcmp(className, "msctls_progress32") == 0) {
    DWORD_PTR position = 0;
    SendMessageTimeoutA(child, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position);
    *line += "|progress=" + std::to_string(position);
    // Without a structure (which would not cross the process boundary) the answer is one limit.
    DWORD_PTR low = 0, high = 0;
    SendMessageTimeoutA(child, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, 2000, &low);
    SendMessageTimeoutA(child, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 2000, &high);
    *line += "|progress_range=" + std::to_string(low) + "-" + std::to_string(high);
    return TRUE;
  }
  std::string text = textOf(child);
  if (!text.empty() && IsWindowVisible(child)) *line += "|" + text;
  if (g_checkFit && !text.empty() && IsWindowVisible(child) && std::strcmp(className, "Static") == 0 && textCut(child, text)) {
    *line += "|(cut off)";
  }
  return TRUE;
}

BOOL CALLBACK collectBox(HWND window, LPARAM param) {
  auto* boxes = reinterpret_cast<std::vector<Box>*>(param);
  char className[64] = "";
  GetClassNameA(window, className, sizeof className);
  if (!IsWindowVisible(window)) return TRUE;
  if (std::strcmp(className, "#32770") != 0 && std::strcmp(className, "MyDialogClass") != 0) return TRUE;
  Box box{window, textOf(window)};
  EnumChildWindows(window, addChildText, reinterpret_cast<LPARAM>(&box.line));
  boxes->push_back(box);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  double waitSeconds = 0;
  const char* title = nullptr;
  const char* part = nullptr;
  int press = 0;
  int rectId = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--wait")) waitSeconds = std::atof(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--title")) title = argv[i + 1];
    else if (!std::strcmp(argv[i], "--text")) part = argv[i + 1];
    else if (!std::strcmp(argv[i], "--press")) press = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--check-fit")) g_checkFit = std::atoi(argv[i + 1]) != 0;
    else if (!std::strcmp(argv[i], "--rect")) rectId = std::atoi(argv[i + 1]);
  }
  DWORD deadline = GetTickCount() + static_cast<DWORD>(waitSeconds * 1000);
  for (;;) {
    std::vector<Box> boxes;
    EnumWindows(collectBox, reinterpret_cast<LPARAM>(&boxes));
    for (const Box& box : boxes) {
      if (title && box.line.compare(0, std::strlen(title) + 1, std::string(title) + "|") != 0 && box.line != title) {
        continue;
      }
      if (part && box.line.find(part) == std::string::npos) continue;
      std::printf("%s\n", box.line.c_str());
      RECT rect;
      if (rectId && GetWindowRect(GetDlgItem(box.window, rectId), &rect)) {
        std::printf("rect=%ld,%ld,%ld,%ld\n", rect.left, rect.top, rect.right, rect.bottom);
      }
      std::fflush(stdout);
      if (press) PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED), 0);
      return 0;
    }
    if (static_cast<LONG>(GetTickCount() - deadline) >= 0) return 1;
    Sleep(100);
  }
}
