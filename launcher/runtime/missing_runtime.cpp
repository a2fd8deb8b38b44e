#include "runtime/missing_runtime.h"

#include <commctrl.h>
#include <commdlg.h>

#include <string>

#include "base/dll_search.h"
#include "base/errors.h"
#include "base/launch_flags.h"
#include "base/log.h"
#include "base/text_limits.h"
#include "base/win_text.h"
#include "config/configured_messages.h"
#include "config/launcher_config.h"
#include "dialogs.h"
#include "install_markers.h"
#include "media/extraction.h"
#include "res/resource_ids.h"
#include "runtime/download_transfer.h"
#include "runtime/missing_runtime_text.h"
#include "runtime/runtime_choice.h"
#include "runtime/runtime_download.h"
#include "runtime/runtime_search.h"
#include "runtime/vm_library.h"

namespace {

// The bitness the dialog names: the build's own.
constexpr const char16_t* kBits = PATHMERE_BITS == 64 ? u"64" : u"32";

std::u16string versionText(int32_t entryId) {
  std::wstring wide = ansiToWide(getConfigString(entryId));
  return std::u16string(asUtf16(wide));
}

// The open-file dialog for a java.exe; a picked runtime is loaded and remembered.
bool locateJavaExecutable(HWND owner, LaunchState& state) {
  char file[kTextBufferSize] = "";
  std::string title = wideToAnsi(asWide(config::chooseJavaExeText()));
  fitTextBuffer(title);
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = "Java EXE\0java.exe\0";
  dialog.lpstrFile = file;
  dialog.nMaxFile = sizeof file;
  dialog.lpstrTitle = title.c_str();
  // The launch sequence goes on in the current directory: browsing must not move it.
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR;
  // Only this dialog needs comdlg32: looked up, not imported.
  auto openFileName = systemFunction<BOOL(WINAPI*)(OPENFILENAMEA*)>("comdlg32.dll", "GetOpenFileNameA");
  auto extendedError = systemFunction<DWORD(WINAPI*)()>("comdlg32.dll", "CommDlgExtendedError");
  if (!openFileName || !extendedError) {
    logError("Could not load comdlg32.dll for the file dialog");
    return false;
  }
  if (!openFileName(&dialog)) {
    DWORD error = extendedError();
    if (error != 0) logError("GetOpenFileName failed with error code %lu", static_cast<unsigned long>(error));
    return false;
  }
  // The load's message belongs over this dialog: owned by the (disabled) progress dialog, it
  // would enable and raise that one over this dialog when it closes.
  HWND previousOwner = replaceErrorOwner(owner);
  bool loaded = LoadDLL(true, file, true, state);
  replaceErrorOwner(previousOwner);
  if (!loaded) return false;
  rememberLocatedRuntime(file);
  return true;
}

// Started with the launch state as its parameter.
INT_PTR CALLBACK runtimeMissingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      setWindowTextWide(dialog, config::wizardCaption());
      setDlgItemTextWide(dialog, IDCANCEL, config::cancelButton());
      setDlgItemTextWide(dialog, IDC_LOCATE, config::locateButton());
      setDlgItemTextWide(dialog, IDC_DOWNLOAD, config::downloadButton());
      bool locateOnly = !g_flags.downloadAvailable;
      if (locateOnly) {
        // Enter and the focus go to the one way on: the hidden Download button would swallow both.
        ShowWindow(GetDlgItem(dialog, IDC_DOWNLOAD), SW_HIDE);
        SendMessageA(dialog, DM_SETDEFID, IDC_LOCATE, 0);
        SendDlgItemMessageA(dialog, IDC_DOWNLOAD, BM_SETSTYLE, BS_PUSHBUTTON, FALSE);
        SendDlgItemMessageA(dialog, IDC_LOCATE, BM_SETSTYLE, BS_DEFPUSHBUTTON, FALSE);
      }
      entry::Id message = g_flags.downloadAvailable ? entry::kNoJreDownloadText : entry::kNoJreLocateText;
      std::u16string text = composeRuntimeMissingText(
          getConfigWString(message), kBits, config::minVersionLabel(), versionText(entry::kMinJavaVersion),
          config::maxVersionLabel(), versionText(entry::kMaxJavaVersion));
      // The shipped 32-bit installer cannot use the only runtimes that Java 24 and later, and
      // some vendors, offer: say which installer can.
      if (otherProcessorRuntime()) text += u"\nA 64-bit Java runtime is installed: it needs the x64 installer.";
      fitTextBuffer(text);
      setDlgItemTextWide(dialog, IDC_MESSAGE, text);
      fitTextHeight(dialog, IDC_MESSAGE);
      centerWindow(dialog);
      if (!locateOnly) return TRUE;
      SetFocus(GetDlgItem(dialog, IDC_LOCATE));
      return FALSE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_LOCATE:
          if (locateJavaExecutable(dialog, *reinterpret_cast<LaunchState*>(GetWindowLongPtrA(dialog, DWLP_USER)))) {
            EndDialog(dialog, IDC_LOCATE);
          }
          return TRUE;
        case IDCANCEL:
          setInstallMarkers(false, true, true);
          exitNormally(1);
        case IDC_DOWNLOAD:
          // The hidden default button still answers the Enter key: without an address there
          // is nothing to download.
          if (g_flags.downloadAvailable) EndDialog(dialog, IDC_DOWNLOAD);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

// Downloads the runtime archive into the temporary directory. Returns true on success and false
// when the download was cancelled; any other failure ends the launcher.
bool downloadRuntime(HWND progressWindow, const std::string& url, const std::string& folder) {
  PBRANGE range{0, 400};
  int position = 0;
  if (progressWindow) {
    setDlgItemTextWide(progressWindow, IDC_MESSAGE, config::downloadingText());
    fitTextHeight(progressWindow, IDC_MESSAGE);
    setDlgItemTextWide(progressWindow, IDCANCEL, config::cancelButton());
    ShowWindow(GetDlgItem(progressWindow, IDC_DOWNLOAD_STATUS), SW_SHOW);
    // While the download runs the bar shows the status line's percentage, from nothing on; the
    // preparation's own scale comes back afterwards.
    SendDlgItemMessageA(progressWindow, IDC_PROGRESS_BAR, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    position = static_cast<int>(SendDlgItemMessageA(progressWindow, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0));
    setProgressRange(progressWindow, 0, 100);
    setProgressPosition(progressWindow, 0);
  }
  if (!bindWinInet()) fatalMessage(entry::kWininetMissingText);
  // Where the launch sequence looks for the archive, whatever directory is current now.
  std::string archive = folder.empty() ? std::string("jre.tar.gz") : folder + "\\jre.tar.gz";
  if (!downloadFile(progressWindow, url.c_str(), archive.c_str(), config::jreDownloadSha256())) {
    // The progress dialog is gone after a cancel, and the user asked for no message.
    if (downloadCancelled()) return false;
    fatalMessage(entry::kDownloadFailedText);
  }
  if (progressWindow) {
    ShowWindow(GetDlgItem(progressWindow, IDC_DOWNLOAD_STATUS), SW_HIDE);
    setProgressRange(progressWindow, range.iLow, range.iHigh);
    setProgressPosition(progressWindow, position);
  }
  return true;
}

}  // namespace

bool handleMissingRuntime(HWND progressWindow, LaunchState& state) {
  std::string url = config::jreDownloadUrl();
  g_flags.downloadAvailable = !url.empty();
  logInfo("Download location: %s", url.c_str());
  INT_PTR choice = IDC_DOWNLOAD;
  if (config::downloadJreWithoutAsking() == 0) {
    choice = DialogBoxParamA(static_cast<HINSTANCE>(g_flags.instance), MAKEINTRESOURCEA(IDD_RUNTIME_MISSING),
                             progressWindow, runtimeMissingDialogProc, reinterpret_cast<LPARAM>(&state));
  }
  if (choice != IDC_DOWNLOAD) return false;
  logInfo("Downloading JRE");
  if (!downloadRuntime(progressWindow, url, state.extractionFolder)) return false;
  logInfo("Done");
  return true;
}
