#include "launch_sequence.h"

#include <commctrl.h>

#include <cstdlib>

#include "errors.h"
#include "launch_flags.h"
#include "log.h"
#include "media/extraction.h"
#include "media/integrity.h"
#include "media/launcher_config.h"
#include "res/resource_ids.h"
#include "win_text.h"

namespace {

void setProgressRange(HWND window, int low, int high) {
  if (window) SendDlgItemMessageA(window, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

void setProgressPosition(HWND window, int position) {
  if (window) SendDlgItemMessageA(window, IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void changeToTempDir() {
  if (!SetCurrentDirectoryA(g_tempDir.c_str())) logError("Could not change working dir to %s", g_tempDir.c_str());
}

// Verifies the payload and extracts it into a fresh temporary directory, which becomes current.
void preparePayload(HWND progressWindow) {
  verifyMediaIntegrity(progressWindow);
  createTempDirectory();
  changeToTempDir();
  int result = extractIncludedFiles(false);
  if (result == kExtractOk) return;
  if (!g_flags.quietMode) {
    std::u16string caption = getConfigWString(20013);
    std::u16string text = getConfigWString(result == kExtractWriteFailed ? 20018 : 20016);
    MessageBoxW(progressWindow, asWide(text.c_str()), asWide(caption.c_str()), MB_ICONERROR | MB_OK);
  }
  std::exit(1);
}

std::string currentDirectory() {
  char buffer[8192] = "";
  DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  return n < sizeof buffer ? std::string(buffer, n) : std::string();
}

}  // namespace

int runLaunchSequence(HWND progressWindow) {
  logInfo("Starting work");
  setProgressPosition(progressWindow, 1);
  setProgressRange(progressWindow, 0, 400);
  if (!g_flags.languageRestart) {
    preparePayload(progressWindow);
  } else {
    g_tempDir = currentDirectory();
  }
  logInfo("Current working dir: %s", currentDirectory().c_str());
  return 0;
}
