#include "runtime/runtime_stages.h"

#include <cstdlib>

#include "errors.h"
#include "install_markers.h"
#include "log.h"

bool LoadDLL(bool, const char*, bool) { return false; }

void handleMissingRuntime(HWND) {
  setInstallMarkers(false, true, true);
  std::exit(1);
}

void prepareCarriedRuntime(HWND) {
  logInfo("extracting JRE");
  logError("Could not untar JRE");
  fatalError("The bundled JRE is corrupted. If you downloaded the setup file please download it again.");
}

void loadCarriedRuntime() {
  logError("Could not load bundled JRE. Trying to find another JRE.");
  if (LoadDLL(false, nullptr, false)) return;
  logError("Could not find another JRE.");
  fatalError("Could not use bundled JRE. Please send this log file to your software vendor:");
}

void runUnpack200(const std::string&) {}

bool launchJavaProgram(const std::vector<std::u16string>&, bool) { return false; }
