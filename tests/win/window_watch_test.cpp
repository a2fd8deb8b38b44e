// The window watch and the start markers against Wine's window manager and registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "base/launch_flags.h"
#include "child_process.h"
#include "install_markers.h"
#include "launch_sequence.h"
#include "process/process_windows.h"
#include "res/resource_ids.h"
#include "runtime/carried_runtime.h"
#include "temp_dir.h"

namespace {

constexpr char kMarkerKey[] = "SOFTWARE\\harwell\\nimbo\\";

// A visible top-level window standing in for the progress dialog, with its progress bar.
struct FakeDialog {
  HWND window = nullptr;
  HWND bar = nullptr;
  FakeDialog() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    window = CreateWindowExA(0, "STATIC", "progress", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 100, nullptr,
                             nullptr, nullptr, nullptr);
    bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 5, 5, 200, 10, window,
                          reinterpret_cast<HMENU>(IDC_PROGRESS_BAR), nullptr, nullptr);
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 400));
  }
  ~FakeDialog() { DestroyWindow(window); }
  int position() const { return static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0)); }
};

// Runs the message loop of this thread (the watch sends its progress here) until the thread
// ends or the time is up; true when it ended.
bool pumpUntilDone(HANDLE thread, DWORD millis) {
  DWORD end = GetTickCount() + millis;
  for (;;) {
    DWORD left = static_cast<LONG>(end - GetTickCount()) > 0 ? end - GetTickCount() : 0;
    DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) return true;
    if (r == WAIT_TIMEOUT) return false;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
}

void setProcessMarker(DWORD value) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kMarkerKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  char name[64];
  std::snprintf(name, sizeof name, "InstallStarted_%lu", GetCurrentProcessId());
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

// Runs the watch in a log_probe process with a pass limit of ten (one second) and removes the
// process marker that a timed-out watch leaves behind.
ChildResult runWatchProbe(const TempDir& tmp, const std::string& entry159) {
  ChildResult result = runChild(testBinDir() + "log_probe.exe",
                                {"--narrow", "159=" + entry159, "--wide", "20014=Please restart with /manual",
                                 "console", "watch", "10"},
                                {{"TMP", tmp.path()}, {"NIMBO_LOG", "yes"}}, 30000);
  unsigned long pid = 0;
  if (std::sscanf(result.out.c_str(), "pid %lu", &pid) == 1) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kMarkerKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, ("InstallStarted_" + std::to_string(pid)).c_str());
      RegCloseKey(key);
    }
  }
  return result;
}

std::string logOf(const TempDir& tmp) {
  std::vector<std::string> logs = tmp.namesStartingWith("tsr_nlog_");
  std::string text = logs.empty() ? std::string() : readWholeFile(tmp.file(logs[0]));
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());  // written in text mode
  return text;
}

}  // namespace

TEST(WindowWatch, GivesUpWithMessage20014InThePassOfTheLimit) {
  TempDir tmp;
  ChildResult result = runWatchProbe(tmp, "0");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 1u);
  EXPECT_EQ(result.err.rfind("Please restart with /manual", 0), 0u) << result.err;
  EXPECT_NE(logOf(tmp).find("\ntimeout\n"), std::string::npos) << logOf(tmp);
}

TEST(WindowWatch, Entry159SwitchesTheTimeoutOff) {
  TempDir tmp;
  ChildResult result = runWatchProbe(tmp, "1");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 0u) << result.err;
  std::string log = logOf(tmp);
  EXPECT_EQ(log.find("timeout"), std::string::npos) << log;
  EXPECT_NE(log.find("Java window visible"), std::string::npos) << log;
}

TEST(WindowWatch, MovesTheBarUntilASecondWindowShowsThenHidesTheDialog) {
  FakeDialog dialog;
  g_flags.progressBase = 100;
  EXPECT_EQ(countVisibleProcessWindows(GetCurrentProcessId()), 1);
  HANDLE watch = CreateThread(nullptr, 0, watchJavaWindow, dialog.window, 0, nullptr);
  ASSERT_FALSE(pumpUntilDone(watch, 1300));
  // Every fifth 100 ms pass adds a quarter of the way to 400: 175, 250, ...
  EXPECT_GE(dialog.position(), 175);
  EXPECT_LE(dialog.position(), 390);

  HWND java = CreateWindowExA(0, "STATIC", "java", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 200, 100, nullptr,
                              nullptr, nullptr, nullptr);
  EXPECT_TRUE(pumpUntilDone(watch, 3000));
  EXPECT_FALSE(IsWindowVisible(dialog.window));
  EXPECT_EQ(readInstallMarker(true), 0u) << "the watch removes the process marker";
  CloseHandle(watch);
  DestroyWindow(java);
}

TEST(WindowWatch, BarStopsAt390) {
  FakeDialog dialog;
  g_flags.progressBase = 300;
  HANDLE watch = CreateThread(nullptr, 0, watchJavaWindow, dialog.window, 0, nullptr);
  pumpUntilDone(watch, 4500);  // twenty passes reach the cap
  EXPECT_EQ(dialog.position(), 390);
  setProcessMarker(2);
  EXPECT_TRUE(pumpUntilDone(watch, 3000));
  CloseHandle(watch);
}

TEST(WindowWatch, ProcessMarkerTwoEndsTheWatchAtOnce) {
  FakeDialog dialog;
  g_flags.progressBase = 100;
  setProcessMarker(2);
  HANDLE watch = CreateThread(nullptr, 0, watchJavaWindow, dialog.window, 0, nullptr);
  EXPECT_TRUE(pumpUntilDone(watch, 1000));
  EXPECT_FALSE(IsWindowVisible(dialog.window));
  EXPECT_EQ(readInstallMarker(true), 0u);
  CloseHandle(watch);
}

TEST(InstallMarkers, SetReadAndRemoveBothMarkers) {
  setInstallMarkers(true, true, false);
  EXPECT_EQ(readInstallMarker(true), 1u);
  setInstallMarkers(false, true, true);
  EXPECT_EQ(readInstallMarker(true), 0u);
  EXPECT_EQ(readInstallMarker(false), 0u);
  g_flags.languageRestart = true;
  setInstallMarkers(true, true, false);
  EXPECT_EQ(readInstallMarker(true), 0u) << "a language restart writes no marker";
  g_flags.languageRestart = false;
}

TEST(ProcessWindows, HiddenWindowsDoNotCountAndActivatingNothingIsHarmless) {
  EXPECT_EQ(countVisibleProcessWindows(GetCurrentProcessId()), 0);
  HWND hidden = CreateWindowExA(0, "STATIC", "hidden", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(countVisibleProcessWindows(GetCurrentProcessId()), 0);
  activateProcessWindows(GetCurrentProcessId(), true);
  HWND shown = CreateWindowExA(0, "STATIC", "shown", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr,
                               nullptr, nullptr);
  ShowWindow(shown, SW_MINIMIZE);
  activateProcessWindows(GetCurrentProcessId(), true);
  EXPECT_FALSE(IsIconic(shown)) << "minimised windows are restored when asked";
  DestroyWindow(hidden);
  DestroyWindow(shown);
}

TEST(PackProgress, MovesFrom200To300InTenStepsOrStopsWhenPackingIsDone) {
  FakeDialog dialog;
  g_flags.untarMillis = 200;  // a step every 20 ms
  g_flags.packDone = false;
  HANDLE progress = CreateThread(nullptr, 0, advancePackProgress, dialog.window, 0, nullptr);
  EXPECT_TRUE(pumpUntilDone(progress, 3000));
  EXPECT_EQ(dialog.position(), 300);
  CloseHandle(progress);

  SendMessageA(dialog.bar, PBM_SETPOS, 0, 0);
  g_flags.untarMillis = 10000;  // a step every second: packing ends first
  progress = CreateThread(nullptr, 0, advancePackProgress, dialog.window, 0, nullptr);
  pumpUntilDone(progress, 1500);
  g_flags.packDone = true;
  EXPECT_TRUE(pumpUntilDone(progress, 3000)) << "the step after packing ends is the last";
  EXPECT_GT(dialog.position(), 200);
  EXPECT_LT(dialog.position(), 300);
  CloseHandle(progress);

  SendMessageA(dialog.bar, PBM_SETPOS, 0, 0);
  progress = CreateThread(nullptr, 0, advancePackProgress, dialog.window, 0, nullptr);
  EXPECT_TRUE(pumpUntilDone(progress, 500));
  EXPECT_EQ(dialog.position(), 0) << "nothing to show when packing was already done";
  CloseHandle(progress);
}
