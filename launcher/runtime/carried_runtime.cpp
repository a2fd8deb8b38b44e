#include "runtime/carried_runtime.h"

#include "errors.h"
#include "log.h"
#include "runtime/vm_library.h"

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

void prepareRuntime(const std::string&) {}

void runUnpack200(const std::string&) {}
