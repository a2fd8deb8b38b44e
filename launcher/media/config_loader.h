// Loads the configuration record from the appended data into g_config, once, at start-up.
#pragma once
#include <string>

#include "base/launch_state.h"

// Reads the record and sets the state's configEnd; ends the process on a wrong magic or a short
// read. Entry 107 decides where errors go (1 and 5: message boxes, anything else: standard
// error); its value is returned.
int loadLauncherConfig(LaunchState& state);

// Language code of the user's default locale ("de_AT", "en", ...), empty when the table has none.
std::string userLocaleCode();
