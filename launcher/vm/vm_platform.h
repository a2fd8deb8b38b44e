// What the VM launch needs from the rest of the launcher and from the system: paths, the
// environment, the temporary directory, code-page conversions and the fatal exit. Implemented
// over Win32 in vm_platform_win.cpp; the host tests supply their own, so that the option
// building and the JNI calls run on Linux against a real VM.
#pragma once
#include <jni.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Separators of the platform the VM runs on: ";" and "\" on Windows, ":" and "/" on the host.
#ifdef _WIN32
constexpr char kPathListSeparator = ';';
constexpr char kDirectorySeparator = '\\';
#else
constexpr char kPathListSeparator = ':';
constexpr char kDirectorySeparator = '/';
#endif

// The executable's path and the path rules of the launcher (relative names against its directory).
std::string vmExecutablePath();
std::string vmLongPathName(const std::string& path);
std::string vmResolveAgainstExeDir(std::string_view path, const char* baseFile);
std::string vmMakeAbsolutePath(std::string_view path);  // letter case kept
std::string vmResolvePathList(std::string_view list);
bool vmPathExists(const std::string& path);
// Names (not paths) of the files in directory matching *.extension, in enumeration order.
std::vector<std::string> vmListDirectory(const std::string& directory, const char* extension);

// The launcher's own state that the launch hands to the Java side.
std::string vmTempDir();
// The runtime chosen (or last tried): its home, and its VM library's JNI_CreateJavaVM (null until
// one is bound).
std::string vmRuntimeHome();
using CreateJavaVmFunction = jint(JNICALL*)(JavaVM**, void**, void*);
CreateJavaVmFunction vmCreateJavaVmFunction();
std::string vmSystemTempPath();
int64_t vmUnextractedPosition();
bool vmLanguageRestart();
bool vmManualRuntimeSelection();
// Empty when the single-instance check did not run.
std::string vmSingleInstanceName();
std::string vmProcessCommFileName();
unsigned vmConsoleOutputCodePage();

// The environment: one variable, the whole block in its order ("NAME=VALUE" entries), and PATH
// set in both the system's and the C runtime's copy (false with the system error code).
bool vmGetEnvironment(const char* name, std::string& value);
std::vector<std::string> vmEnvironmentBlock();
bool vmSetPath(const std::string& value, unsigned long& error);
// The directories of a list that the launcher puts on PATH for libraries, made searchable for
// libraries also where the system's DLL search no longer reads PATH.
void vmAddDllSearchDirectories(const std::string& list);

// Code pages: configured and option texts are ANSI; the Java side gets UTF-16; log lines and
// the redirection paths use the file-system code page ("?" for characters it lacks).
std::u16string vmAnsiToUtf16(std::string_view text);
std::string vmUtf16ToAnsi(std::u16string_view text);
std::string vmUtf16ToFileSystem(std::u16string_view text);
std::u16string vmFileSystemToUtf16(std::string_view text);

// Shows configured message entryId ("{0}" replaced by argument) and ends the process (code 1).
[[noreturn]] void vmFatalConfigError(int32_t entryId, const char* argument);
