// The runtime an installer carries as "jre.tar.gz": untarred, its pack200 archives unpacked, loaded.
#pragma once
#include <windows.h>

#include <string>

// Untars and prepares the carried "jre.tar.gz" into "jre" and loads it.
void prepareCarriedRuntime(HWND progressWindow);
// On a language restart: loads the "jre" directory unpacked by the first start.
void loadCarriedRuntime();

// Unpacks a runtime whose large archives were shipped pack200-compressed; idempotent.
void prepareRuntime(const std::string& home);

// Unpacks one pack200 archive with the loaded runtime's unpack200.exe.
void runUnpack200(const std::string& packPath);
