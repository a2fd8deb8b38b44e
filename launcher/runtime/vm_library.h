// Finds or takes a Java runtime, loads its VM library into the process and binds JNI_CreateJavaVM.
#pragma once

// Searches (location null) or takes the runtime at location (a home directory, or a java.exe
// when locationIsJavaExecutable) and loads its VM library. With showErrors, a failure shows the
// configured message that fits the runtime's source; it never ends the process.
bool LoadDLL(bool showErrors, const char* location, bool locationIsJavaExecutable);
