#include "missing_runtime.h"

#include "errors.h"
#include "install_markers.h"

void handleMissingRuntime(HWND) {
  setInstallMarkers(false, true, true);
  exitNormally(1);
}
