// The runtime an installer carries as "jre.tar.gz": untarred, its pack200 archives unpacked, loaded.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// Untars and prepares the carried "jre.tar.gz" of the current directory into "jre" and loads it;
// returns only on success.
void prepareCarriedRuntime(HWND progressWindow);
// Loads the "jre" directory of the current directory (on a language restart, the one the first
// start unpacked), or any other runtime the search finds; returns only on success.
void loadCarriedRuntime();

// Writes the directories and regular files of a gzip-compressed tar archive below targetDir,
// moving the progress bar from 100 to 200 over totalSize uncompressed bytes. False when the
// archive is damaged or hostile; nothing of a refused entry is written.
bool untarGzArchive(const std::string& archivePath, const std::string& targetDir, HWND progressWindow,
                    uint64_t totalSize);

// Unpacks a runtime whose large archives were shipped pack200-compressed; does nothing once
// "lib\jsse.jar" exists or when "lib\rt.jar.pack" does not.
void prepareRuntime(const std::string& home);
// Unpacks "home\jarPath.pack" into "home\jarPath".
void unpackArchive(const std::string& home, const std::string& jarPath);
// Unpacks one ".pack" file beside itself with home's bin\unpack200.exe. A run that exits with
// a non-zero code leaves no output behind; the launch goes on either way.
void runUnpack200(const std::string& home, const std::string& packPath);
