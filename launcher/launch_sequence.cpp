#include "launch_sequence.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/dll_search.h"
#include "base/errors.h"
#include "base/launch_flags.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/win_text.h"
#include "command_line.h"
#include "config/configured_messages.h"
#include "config/launcher_config.h"
#include "dialogs.h"
#include "install_markers.h"
#include "launch_end.h"
#include "media/extraction.h"
#include "media/integrity.h"
#include "media/media_format.h"
#include "process/child_processes.h"
#include "process/process_windows.h"
#include "res/resource_ids.h"
#include "runtime/carried_runtime.h"
#include "runtime/missing_runtime.h"
#include "runtime/runtime_choice.h"
#include "runtime/runtime_download.h"
#include "vm/java_vm_launcher.h"
#include "vm/variable_expansion.h"
#include "vm/vm_platform_win.h"

decltype(&CreateThread) g_createThread = CreateThread;
int g_watchTimeoutPass = 2400;

namespace {

// Sent by the work thread when the Java program's main returned without ending the process:
// the (hidden) progress dialog ends, and with it the launcher, with exit code 0.
constexpr UINT kLaunchDoneMessage = WM_APP + 1;
// Sent by the work thread of entry 155 when the missing runtime is dealt with (wParam 1: an
// archive was downloaded). The dialog ends with IDC_DOWNLOAD or IDC_LOCATE, which tells the
// waiting launch sequence apart from a Cancel.
constexpr UINT kRuntimeReadyMessage = WM_APP + 2;
// How long a cancelled download may take to close and delete its file before the launcher ends.
constexpr DWORD kCancelWaitMillis = 10000;

// The Java program's current directory, and where it loads the native libraries it carries by
// name from. Unlike the launcher's own folder this one is fresh and ours, so it stays in the DLL
// search. The launcher itself names every file there by full path.
void changeToTempDir(const std::string& folder) {
  if (!SetCurrentDirectoryA(folder.c_str())) logError("Could not change working dir to %s", folder.c_str());
  addExtractionDirectoryToDllSearch(folder);
}

// Verifies the payload and extracts it into a fresh temporary directory, which becomes current.
void preparePayload(HWND progressWindow, LaunchState& state) {
  verifyMediaIntegrity(progressWindow);
  state.extractionFolder = createTempDirectory();
  extendPathForNativeDlls();
  changeToTempDir(state.extractionFolder);
  int result = extractIncludedFiles(state);
  if (result == kExtractOk) return;
  if (!g_flags.quietMode) {
    entry::Id message = result == kExtractWriteFailed ? entry::kDiskFullText : entry::kCorruptedFileText;
    showWizardMessage(progressWindow, message, MB_ICONERROR | MB_OK);
  }
  exitNormally(1);
}

bool startThread(LPTHREAD_START_ROUTINE routine, HWND window, int priority) {
  HANDLE thread = g_createThread(nullptr, 0, routine, window, CREATE_SUSPENDED, nullptr);
  if (!thread) return false;
  SetThreadPriority(thread, priority);
  ResumeThread(thread);
  CloseHandle(thread);
  return true;
}

// No usable runtime was found, or the user asked to choose one.
void runtimeMissing(HWND progressWindow, LaunchState& state) {
  if (g_flags.quietMode) {
    if (config::downloadJreWithoutAsking() != 0) {
      std::fputs("No JRE found. Trying to download.\n", stdout);
      std::fflush(stdout);
      if (handleMissingRuntime(progressWindow, state)) g_flags.jreIncluded = true;
      return;
    }
    logError("No JRE found");
    std::fputs("No JRE found. Aborting.\n", stdout);
    std::fflush(stdout);
    setInstallMarkers(false, true, true);
    exitNormally(83);
  }
  if (progressWindow) {
    if (handleMissingRuntime(progressWindow, state)) g_flags.jreIncluded = true;
    // A cancelled download: the dialog's thread is ending the launcher.
    if (downloadCancelled()) stopForLauncherEnd();
    return;
  }
  // Entry 155: the dialog exists only for the runtime, and the work thread it starts deals with
  // it while this thread waits. Only this thread writes the flags the sequence goes on with.
  INT_PTR ended = DialogBoxParamA(static_cast<HINSTANCE>(g_flags.instance), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr,
                                  progressDialogProc, reinterpret_cast<LPARAM>(&state));
  if (ended == IDC_DOWNLOAD) {
    g_flags.jreIncluded = true;
  } else if (ended != IDC_LOCATE) {
    // Cancel: a download still running on the work thread must not outlive the dialog with a
    // half-written archive.
    if (!cancelDownload(kCancelWaitMillis)) logError("The download did not stop after the cancel");
    exitNormally(1);
  }
}

// The included pack200 archives, extracted into the temporary directory.
std::vector<IncludedPack> includedPackArchives(const std::string& folder) {
  std::vector<IncludedPack> packs;
  std::string names = config::includedFileNames();
  for (const std::string& name : includedFileList(names, config::includedFileCount())) {
    if (name.size() < 5 || name.compare(name.size() - 5, 5, ".pack") != 0) continue;
    packs.push_back({name, folder + "\\" + name});
  }
  return packs;
}

// The dialog keeps the launch state it was started with.
LaunchState& dialogLaunchState(HWND dialog) {
  return *reinterpret_cast<LaunchState*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

DWORD WINAPI workThread(LPVOID dialog) {
  HWND window = static_cast<HWND>(dialog);
  LaunchState& state = dialogLaunchState(window);
  if (config::noProgressDialog() != 0) {
    bool downloaded = handleMissingRuntime(window, state);
    if (!downloadCancelled()) PostMessageA(window, kRuntimeReadyMessage, downloaded ? 1 : 0, 0);
  } else {
    runLaunchSequence(window, state);
  }
  return 0;
}

}  // namespace

int runLaunchSequence(HWND progressWindow, LaunchState& state) {
  registerSequenceThread();
  bindLaunchState(state);
  logInfo("Starting work");
  setProgressPosition(progressWindow, 1);
  setProgressRange(progressWindow, 0, 400);
  if (!g_flags.languageRestart) {
    preparePayload(progressWindow, state);
  } else {
    state.extractionFolder = currentDirectory();
  }
  logInfo("Current working dir: %s", currentDirectory().c_str());

  // The carried runtime was extracted into the temporary directory, not beside the executable.
  std::string archive = state.extractionFolder + "\\jre.tar.gz";
  logInfo("Full JRE path: %s", archive.c_str());
  g_flags.jreIncluded = pathExists(archive.c_str());
  if (!g_flags.jreIncluded && g_flags.languageRestart) {
    std::string unpacked = state.extractionFolder + "\\jre";
    logInfo("Checking extracted JRE: %s", unpacked.c_str());
    g_flags.jreIncluded = pathExists(unpacked.c_str());
  }
  logInfo(g_flags.jreIncluded ? "JRE included" : "No JRE included");
  if (g_flags.manualRuntimeSelection && g_flags.jreIncluded) {
    logInfo("Included JRE not used because of manual switch");
    g_flags.jreIncluded = false;
  }
  bool preferInstalled = config::preferInstalledJre() != 0;
  bool withWindow = progressWindow != nullptr;

  if (!g_flags.jreIncluded) {
    setInstallMarkers(true, withWindow, true);
    if (g_flags.manualRuntimeSelection || !LoadDLL(false, nullptr, false, state)) runtimeMissing(progressWindow, state);
  } else if (preferInstalled) {
    setInstallMarkers(true, withWindow, true);
    if (LoadDLL(false, nullptr, false, state)) {
      g_flags.jreIncluded = false;
    } else {
      setInstallMarkers(false, true, true);
    }
  }
  changeToTempDir(state.extractionFolder);

  if (!g_flags.languageRestart) {
    g_flags.progressBase = g_flags.jreIncluded ? (config::jrePacked() != 0 ? 300 : 200) : 100;
    // Those the carried runtime's preparation did not unpack are unpacked with the chosen runtime.
    std::vector<IncludedPack> packs = includedPackArchives(state.extractionFolder);
    if (g_flags.jreIncluded) {
      prepareCarriedRuntime(progressWindow, state.extractionFolder, packs);
      loadCarriedRuntime(state);
    }
    if (!packs.empty()) unpackIncludedFiles(state.runtimeHome, packs);
  } else if (g_flags.jreIncluded) {
    loadCarriedRuntime(state);
  }

  if (progressWindow) startThread(watchJavaWindow, progressWindow, THREAD_PRIORITY_ABOVE_NORMAL);
  setInstallMarkers(true, withWindow, true);

  std::vector<std::u16string> args;
  splitCommandLine(asUtf16(GetCommandLineW()), args);
  // From here the extraction folder is the Java program's; a Cancel that came first ends the
  // launcher, which removes it.
  if (!handExtractionToJavaProgram()) stopForLauncherEnd();
  if (!launchJavaProgram(args, true)) {
    logError("Could not start JVM");
    fatalConfigError(entry::kVmStartFailedText);
  }
  if (progressWindow) PostMessageA(progressWindow, kLaunchDoneMessage, 0, 0);
  return 0;
}

INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      setErrorOwner(dialog);
      setProgressRange(dialog, 0, 100);
      setDlgItemTextWide(dialog, IDC_MESSAGE, config::preparingText());
      fitTextHeight(dialog, IDC_MESSAGE);
      centerWindow(dialog);
      setWindowTextWide(dialog, config::wizardCaption());
      setDlgItemTextWide(dialog, IDCANCEL, config::cancelButton());
      if (!startThread(workThread, dialog, THREAD_PRIORITY_NORMAL)) {
        logError("Could not start the work thread (%lu)", GetLastError());
        fatalInternalError(InternalError::WorkThreadNotStarted);
      }
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        logInfo("Canceled installer");
        bool downloadOnly = config::noProgressDialog() != 0;
        // The sequence thread must learn of the end before the children it waits for are ended or
        // its download stops: otherwise it takes their end for a failure to report, or goes on
        // past a cancelled download, sets the markers again and hands the folder on.
        if (!downloadOnly) beginLauncherEnd();
        setInstallMarkers(false, true, true);
        // Opened for the download only: the sequence goes on without a runtime.
        if (downloadOnly) {
          EndDialog(dialog, LOWORD(wParam));
          return TRUE;
        }
        // A scripted install must tell a cancel from a success, and no unpack200 or version
        // probe may go on writing once the launcher has gone, nor a download leave its
        // half-written archive.
        cancelChildProcesses();
        if (!cancelDownload(kCancelWaitMillis)) logError("The download did not stop after the cancel");
        exitNormally(1);
      }
      return FALSE;
    case WM_DESTROY:
      forgetErrorOwner(dialog);
      return FALSE;
    case kLaunchDoneMessage:
      EndDialog(dialog, 0);
      return TRUE;
    case kRuntimeReadyMessage:
      EndDialog(dialog, wParam ? IDC_DOWNLOAD : IDC_LOCATE);
      return TRUE;
    default:
      return FALSE;
  }
}

DWORD WINAPI watchJavaWindow(LPVOID window) {
  HWND dialog = static_cast<HWND>(window);
  int base = g_flags.progressBase;
  int position = base;
  int pass = 0;
  DWORD self = GetCurrentProcessId();
  while (countVisibleProcessWindows(self) <= 1 && readInstallMarker(true) != 2) {
    ++pass;
    if (pass % 5 == 0) {
      position += (400 - base) / 4;
      if (position > 390) position = 390;
      setProgressPosition(dialog, position);
    }
    if (pass == g_watchTimeoutPass && readInstallMarker(true) == 1 && config::noWindowTimeout() == 0) {
      logInfo("timeout");
      fatalMessage(entry::kVmNotStartedText);
    }
    Sleep(100);
  }
  setInstallMarkers(false, true, false);
  logInfo("Java window visible");
  ShowWindow(dialog, SW_HIDE);
  return 0;
}

