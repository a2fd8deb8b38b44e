// No usable runtime: the runtime-missing dialog, a java.exe located by hand, or the download.
#pragma once
#include <windows.h>

#include "base/launch_state.h"

// Asks the user to locate or download a runtime (entry 157: downloads without asking). Returns
// false with a located runtime loaded (or after the download was cancelled), true with the
// downloaded archive (in the state's extraction folder) to unpack; the launch sequence's own
// thread then sets jreIncluded.
bool handleMissingRuntime(HWND progressWindow, LaunchState& state);
