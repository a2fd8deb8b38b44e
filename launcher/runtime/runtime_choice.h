// Which Java runtime the launch uses: a given one or the first the search accepts (the search
// prepares packed candidates), then its VM library loaded. The only caller of the search and of
// the library loading.
#pragma once
#include <string>

#include "base/launch_state.h"


// Searches (location null) or takes the runtime at location (a home directory, or a java.exe
// when locationIsJavaExecutable) and loads its VM library into the state. With showErrors, a
// failure shows the configured message that fits the runtime's source; it never ends the process.
bool LoadDLL(bool showErrors, const char* location, bool locationIsJavaExecutable, LaunchState& state);

// Loads the "jre" directory of the state's extraction folder (prepared by prepareCarriedRuntime, or on a
// language restart by the first start), or any other runtime the search finds; returns only on
// success.
void loadCarriedRuntime(LaunchState& state);
