#include "launcher_main.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
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
#include "launch_sequence.h"
#include "media/config_loader.h"
#include "process/single_instance.h"
#include "res/resource_ids.h"

namespace {

constexpr char kRebootMarker[] = "__tsr_reboot";
constexpr char kLanguageRestartMarker[] = "__tsr_lang_restart";

// Values that live only while launcherMain runs.
struct StartupState {
  bool consoleAttached = false;      // "-console" (or "-c") gave the process a console
  bool progressInQuietMode = false;  // "-splash": the progress dialog even in quiet mode
};

bool isCreateLogOption(const std::u16string& arg) {
  return arg == u"-create-tsr-log" || arg == u"-create-nbo-log" || arg == u"/create-tsr-log" ||
         arg == u"/create-nbo-log";
}

// Opens an Explorer window on the log file; failures are only logged.
void openExplorerOnLog(const std::string& logPath) {
  char windows[260] = "", shortLog[260] = "";
  GetWindowsDirectoryA(windows, sizeof windows);
  if (!GetShortPathNameA(logPath.c_str(), shortLog, sizeof shortLog) || shortLog[0] == '\0') {
    std::snprintf(shortLog, sizeof shortLog, "%s", logPath.c_str());
  }
  char command[260 * 2 + 32];
  std::snprintf(command, sizeof command, "%s\\explorer.exe /select,%s", windows, shortLog);
  logInfo("calling %s", command);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si, &pi)) {
    logInfo("could not open explorer window %lu", GetLastError());
    return;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

// The start-up step between splitting and the switch loop: configuration, caption, working
// directory and the create-log question.
void prepareLauncher(HINSTANCE instance, std::vector<std::u16string>& args, LaunchState& launch) {
  if (args.size() >= 2 && isCreateLogOption(args[1])) {
    args.erase(args.begin() + 1);
    g_flags.keepLogDefault = true;
  }
  loadLauncherConfig(launch);
  g_flags.instance = instance;
  char productKind[2];
  getConfigString(entry::kProductKind, productKind, sizeof productKind);
  g_flags.productCaption = productKind[0] == 'e' ? "nimbo" : "tessar";

  if (!g_flags.languageRestart) {
    std::string workingDirectory = config::workingDirectory();
    if (!workingDirectory.empty()) {
      std::string absolute = makeAbsolutePath(workingDirectory, true);
      SetCurrentDirectoryA(absolute.c_str());
      logInfo("change working directory to %s", absolute.c_str());
    } else {
      logInfo("working directory unchanged");
    }
  }

  if (g_flags.keepLogDefault) {
    std::string logPath = keepLog();
    std::string question =
        "The following log file will be created:\n\n" + logPath + "\n\nDo you want to open an Explorer window?";
    if (MessageBoxA(nullptr, question.c_str(), g_flags.productCaption.c_str(), MB_YESNO) == IDYES) {
      openExplorerOnLog(logPath);
    }
  }
}

void runSwitchLoop(const std::vector<std::u16string>& args, StartupState& state) {
  for (const std::u16string& arg : args) {
    if (arg == u"-q") {
      g_flags.quietMode = true;
      useConsoleErrors();
    } else if (arg == u"-console") {
      state.consoleAttached = attachConsole();
    } else if (arg == u"-splash") {
      state.progressInQuietMode = true;
    } else if (arg == u"-nocheck") {
      g_flags.verifyIntegrity = false;
    } else if (arg == u"-c") {
      g_flags.quietMode = true;
      useConsoleErrors();
      if (!state.consoleAttached) {
        state.consoleAttached = attachConsole();
        if (!state.consoleAttached) {
          MessageBoxA(nullptr, "Error: Could not allocate console.", "tessar", MB_OK);
          exitNormally(1);
        }
      }
    } else if (arg == u"-manual" || arg == u"/manual") {
      g_flags.manualRuntimeSelection = true;
    }
  }
}

// Asked when the last start set the plain marker and never cleared it.
void askRecoveryQuestion() {
  if (readInstallMarker(false) != 1 || g_flags.quietMode) return;
  if (showWizardMessage(nullptr, entry::kLastRunFailedText, MB_YESNO | MB_ICONEXCLAMATION) == IDYES) {
    g_flags.manualRuntimeSelection = true;
  }
}

}  // namespace

bool attachConsole() {
  using AttachConsoleFn = BOOL(WINAPI*)(DWORD);
  auto attach = reinterpret_cast<AttachConsoleFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "AttachConsole")));
  bool attached = false;
  if (attach) {
    // Access denied means the process already has a console.
    attached = attach(ATTACH_PARENT_PROCESS) || GetLastError() == ERROR_ACCESS_DENIED;
  }
  if (!attached) attached = AllocConsole() != 0;
  if (attached) {
    // Standard streams that had no handle before now write to the console.
    if (_fileno(stdout) < 0 || GetStdHandle(STD_OUTPUT_HANDLE) == nullptr) std::freopen("CONOUT$", "w", stdout);
    if (_fileno(stderr) < 0 || GetStdHandle(STD_ERROR_HANDLE) == nullptr) std::freopen("CONOUT$", "w", stderr);
  }
  return attached;
}

void registerDialogClass() {
  // The progress bar's class: only runs with a dialog load the common controls.
  using InitCommonControlsFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  auto initCommonControls = systemFunction<InitCommonControlsFunction>("comctl32.dll", "InitCommonControlsEx");
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  if (!initCommonControls || !initCommonControls(&controls)) logError("Could not register the progress bar's class");
  WNDCLASSA windowClass{};
  windowClass.style = CS_DBLCLKS | CS_SAVEBITS | CS_BYTEALIGNWINDOW;
  windowClass.lpfnWndProc = DefDlgProcA;
  windowClass.cbWndExtra = DLGWINDOWEXTRA;
  windowClass.hInstance = static_cast<HINSTANCE>(g_flags.instance);
  windowClass.hIcon = LoadIconA(static_cast<HINSTANCE>(g_flags.instance), MAKEINTRESOURCEA(IDI_LAUNCHER));
  windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = "MyDialogClass";
  RegisterClassA(&windowClass);
}

void rebootSystem() {
  Sleep(5000);
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    DWORD error = GetLastError();
    CloseHandle(token);
    if (error != ERROR_SUCCESS) return;
  }
  ExitWindowsEx(EWX_REBOOT, 0);
}

int launcherMain(HINSTANCE instance, const char* commandTail) {
  restrictDllSearch();
  const char* tail = commandTail ? commandTail : "";
  if (tail[0] != '\0' && std::strcmp(tail, kRebootMarker) == 0) {
    rebootSystem();
    return 0;
  }
  g_flags.quietMode = false;
  if (std::strncmp(tail, kLanguageRestartMarker, std::strlen(kLanguageRestartMarker)) == 0) {
    g_flags.languageRestart = true;
    g_flags.quietMode = true;
  }
  std::vector<std::u16string> args;
  bool complete = splitCommandLine(asUtf16(GetCommandLineW()), args);
  // Owned here for the life of the process: the work thread and the dialogs use it until the end.
  static LaunchState launch;
  prepareLauncher(instance, args, launch);
  // The message for a broken command line is configured, so it can only be shown once the
  // configuration is loaded.
  if (!complete) fatalConfigError(entry::kWrongParameterText);

  g_flags.verifyIntegrity = true;
  StartupState state;
  runSwitchLoop(args, state);
  if (!g_flags.languageRestart) ensureSingleInstance();
  g_flags.instance = instance;
  logInfo("Init done");
  askRecoveryQuestion();

  if (g_flags.quietMode && !state.progressInQuietMode) {
    logInfo("Quiet installer.");
    runLaunchSequence(nullptr, launch);
  } else if (config::noProgressDialog() != 0) {
    registerDialogClass();
    runLaunchSequence(nullptr, launch);
  } else {
    registerDialogClass();
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, progressDialogProc,
                    reinterpret_cast<LPARAM>(&launch));
  }
  return 0;
}

// The C runtime's start-up hands over the command line without the program name. Returning
// would run the C runtime's exit under the work thread, which may still be running.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
  setErrorHooks({stopIfLauncherEnding, removeExtractionBeforeExit, configuredErrorCaption, configuredWizardCaption});
  exitNormally(static_cast<unsigned>(launcherMain(instance, commandTail)));
}
