// A VM library that imports a library of its runtime's bin directory, as a Java 7 or 8 VM imports
// msvcr100.dll: which copy the loader resolves shows whose folders the import search reads.
#define _JNI_IMPLEMENTATION_
#include <jni.h>

extern "C" __declspec(dllimport) int vmDependencyMark();

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM**, void**, void*) {
  return vmDependencyMark() == 1 ? JNI_ERR : JNI_EVERSION;
}
