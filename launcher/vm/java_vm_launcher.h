// Starts the Java program inside the launcher's process: the native library directory on PATH,
// the launch properties, the VM created through the bound JNI_CreateJavaVM, the launcher class's main.
#pragma once
#include <jni.h>

#include <string>
#include <string_view>
#include <vector>

// Puts the configured native library directory in front of PATH; of its directories only those
// inside the extraction folder join the launcher's DLL search.
void extendPathForNativeDlls();

// The elements of a path list that lie inside extractionDirectory (itself included), in order.
std::string dllSearchDirectories(std::string_view list, std::string_view extractionDirectory);

// Creates the VM and calls the Java launcher class's main; false when the VM could not be
// created or main ended with an exception.
bool launchJavaProgram(const std::vector<std::u16string>& args, bool destroyAfterMain);

// The system properties that tell the Java side about the launcher, in their fixed order.
std::vector<std::string> buildLaunchProperties();

// Builds the options and calls the bound JNI_CreateJavaVM; false without a call when none is bound.
bool createJavaVm(const std::vector<std::u16string>& args, const std::vector<std::string>& properties);

// Looks up the Java launcher class and calls its main with the launcher argument array.
// A missing class or method, or an argument array the VM cannot allocate, ends the process.
bool callLauncherMain(const std::vector<std::u16string>& args);

// Asks FirstRun.firstRun() when the first-run marker exists; false stops the start.
bool checkFirstRun();

// Appends the five leading launcher arguments: GUI flag, main class, error log path, output log
// path, flag.
void buildLauncherArguments(std::vector<std::u16string>& list);

// The Java launcher class for productKind (entry 2001), in the "/" form FindClass takes.
std::string javaLauncherClassName();

// The strings handed to main: the five leading arguments, the program path, the configured
// application arguments and the user's arguments ("-J" ones left out when they became VM options).
std::vector<std::u16string> launcherArgumentList(const std::vector<std::u16string>& args);
