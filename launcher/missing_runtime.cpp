#include "missing_runtime.h"

#include <cstdlib>

#include "install_markers.h"

void handleMissingRuntime(HWND) {
  setInstallMarkers(false, true, true);
  std::exit(1);
}
