// Starts the Java program inside the launcher's process: the native library directory on PATH,
// the launch properties, the VM created through the bound JNI_CreateJavaVM, the launcher class's main.
#pragma once
#include <jni.h>

#include <string>
#include <vector>

// JNI_CreateJavaVM of the loaded VM library; null until LoadDLL bound one.
using CreateJavaVmFunction = jint(JNICALL*)(JavaVM**, void**, void*);
extern CreateJavaVmFunction g_createJavaVm;

// Puts the configured native library directory in front of PATH.
void extendPathForNativeDlls();

// Creates the VM and calls the Java launcher class's main; false when the VM could not be
// created or main ended with an exception.
bool launchJavaProgram(const std::vector<std::u16string>& args, bool destroyAfterMain);
