// Start markers in the registry: they let the next start notice that this one never reached
// the Java program.
#pragma once

// Sets (value 1) or removes the process marker "InstallStarted_<pid>" and the plain marker
// "InstallStarted" under HKCU\SOFTWARE\harwell\nimbo\. Does nothing on a language restart;
// registry errors are ignored.
void setInstallMarkers(bool set, bool processMarker, bool plainMarker);

// The DWORD of the process marker (true) or the plain marker (false); 0 when missing.
// The Java program sets the process marker to 2 once it has started.
unsigned long readInstallMarker(bool processMarker);
