#include "install_markers.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "base/handles.h"
#include "base/launch_flags.h"
#include "launch_end.h"

namespace {

constexpr char kMarkerKey[] = "SOFTWARE\\harwell\\nimbo\\";
constexpr char kPlainMarker[] = "InstallStarted";

// A thread that sets the markers and one that removes them for the launcher's end take turns,
// so that the end's removal is the last word.
std::mutex g_markerMutex;

std::string processMarkerName() {
  char name[64];
  std::snprintf(name, sizeof name, "%s_%lu", kPlainMarker, GetCurrentProcessId());
  return name;
}

void changeMarker(bool set, const std::string& name) {
  RegKey key;
  if (set) {
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kMarkerKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h, nullptr) !=
        ERROR_SUCCESS) {
      return;
    }
    DWORD one = 1;
    RegSetValueExA(key.h, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
  } else {
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kMarkerKey, 0, KEY_ALL_ACCESS, &key.h) != ERROR_SUCCESS) return;
    RegDeleteValueA(key.h, name.c_str());
  }
}

// Process markers of launchers that ended without removing theirs (the Java program ended the
// process before its window showed, or the process was killed) would pile up, one per start.
void removeStaleProcessMarkers() {
  RegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kMarkerKey, 0, KEY_ALL_ACCESS, &key.h) != ERROR_SUCCESS) return;
  const std::string prefix = std::string(kPlainMarker) + "_";
  std::vector<std::string> stale;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD length = sizeof name;
    if (RegEnumValueA(key.h, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    std::string value(name, length);
    if (value.compare(0, prefix.size(), prefix) != 0) continue;
    char* end = nullptr;
    unsigned long pid = std::strtoul(value.c_str() + prefix.size(), &end, 10);
    if (end == value.c_str() + prefix.size() || *end != '\0' || pid == GetCurrentProcessId()) continue;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    // Only a process id that names no process at all marks a dead launcher.
    if (process) {
      CloseHandle(process);
    } else if (GetLastError() == ERROR_INVALID_PARAMETER) {
      stale.push_back(value);
    }
  }
  for (const std::string& name : stale) RegDeleteValueA(key.h, name.c_str());
}

}  // namespace

void setInstallMarkers(bool set, bool processMarker, bool plainMarker) {
  if (g_flags.languageRestart) return;
  std::unique_lock<std::mutex> lock(g_markerMutex);
  if (set && launcherEndingElsewhere()) {
    lock.unlock();
    stopForLauncherEnd();
  }
  if (processMarker && set) removeStaleProcessMarkers();
  if (processMarker) changeMarker(set, processMarkerName());
  if (plainMarker) changeMarker(set, kPlainMarker);
}

unsigned long readInstallMarker(bool processMarker) {
  RegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kMarkerKey, 0, KEY_ALL_ACCESS, &key.h) != ERROR_SUCCESS) return 0;
  std::string name = processMarker ? processMarkerName() : kPlainMarker;
  DWORD value = 0, size = sizeof value;
  if (RegQueryValueExA(key.h, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
      ERROR_SUCCESS) {
    return 0;
  }
  return value;
}
