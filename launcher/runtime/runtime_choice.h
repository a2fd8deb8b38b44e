// Which Java runtime the launch uses: a given one or the first the search accepts (the search
// prepares packed candidates), then its VM library loaded. The only caller of the search and of
// the library loading.
#pragma once
#include <string>


// Searches (location null) or takes the runtime at location (a home directory, or a java.exe
// when locationIsJavaExecutable) and loads its VM library. With showErrors, a failure shows the
// configured message that fits the runtime's source; it never ends the process.
bool LoadDLL(bool showErrors, const char* location, bool locationIsJavaExecutable);

// Loads the "jre" directory of the extraction folder (prepared by prepareCarriedRuntime, or on a
// language restart by the first start), or any other runtime the search finds; returns only on
// success.
void loadCarriedRuntime(const std::string& folder);
