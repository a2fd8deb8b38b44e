#include "process/single_instance.h"

#include "base/errors.h"
#include "base/handles.h"
#include "base/launch_flags.h"
#include "base/log.h"
#include "base/paths.h"
#include "config/launcher_config.h"
#include "process/instance_name.h"
#include "process/process_windows.h"

namespace {
constexpr char kPidsKey[] = "SOFTWARE\\harwell\\nimbo\\pids\\";
// Kept open until the process ends: its existence tells later starts that we run.
HANDLE g_instanceSemaphore = nullptr;
}  // namespace

void recordInstancePid(const std::string& exeKey) {
  RegKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kPidsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h, nullptr) !=
      ERROR_SUCCESS) {
    return;
  }
  DWORD pid = GetCurrentProcessId();
  RegSetValueExA(key.h, exeKey.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&pid), sizeof pid);
}

DWORD readInstancePid(const std::string& exeKey) {
  RegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kPidsKey, 0, KEY_READ, &key.h) != ERROR_SUCCESS) return 0;
  DWORD pid = 0, type = 0, size = sizeof pid;
  if (RegQueryValueExA(key.h, exeKey.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&pid), &size) != ERROR_SUCCESS ||
      size != sizeof pid) {
    return 0;
  }
  return pid;
}

void ensureSingleInstance() {
  std::string exeKey = makeAbsolutePath(executablePath(), false);
  g_singleInstanceName = singleInstanceNameFor(exeKey, config::globalSemaphore() != 0);
  logInfo("single instance mode");
  HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, g_singleInstanceName.c_str());
  DWORD error = GetLastError();
  logInfo("semaphore name %s, code %lu, value %p", g_singleInstanceName.c_str(), error, semaphore);
  if (error == ERROR_ALREADY_EXISTS) {
    if (semaphore) CloseHandle(semaphore);
    DWORD other = readInstancePid(exeKey);
    logInfo("other pid %lu", other);
    activateProcessWindows(other, true);
    logInfo("exiting");
    exitWithCode(0);
  }
  g_instanceSemaphore = semaphore;
  recordInstancePid(exeKey);
}
