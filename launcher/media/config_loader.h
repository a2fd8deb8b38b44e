// Loads the configuration record from the appended data into g_config, once, at start-up.
#pragma once
#include <cstdint>
#include <string>

// Reads the record; ends the process on a wrong magic or a short read. Entry 107 decides where
// errors go (1 and 5: message boxes, anything else: standard error); its value is returned.
int loadLauncherConfig();

// File position right after the last language group: where the included files begin.
int64_t configEndPosition();

// Language code of the user's default locale ("de_AT", "en", ...), empty when the table has none.
std::string userLocaleCode();
