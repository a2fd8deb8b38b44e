// The runtime search's record of runtimes the user picked by hand.
#pragma once

// Remembers javaExe under "SOFTWARE\harwell\nimbo\locatedjvms\" (HKEY_LOCAL_MACHINE, else
// HKEY_CURRENT_USER), where later searches find it.
void rememberLocatedRuntime(const char* javaExe);
