#include "install_markers.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "handles.h"
#include "launch_flags.h"

namespace {

constexpr char kMarkerKey[] = "SOFTWARE\\harwell\\nimbo\\";
constexpr char kPlainMarker[] = "InstallStarted";

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

}  // namespace

void setInstallMarkers(bool set, bool processMarker, bool plainMarker) {
  if (g_flags.languageRestart) return;
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
