// The native method of com.zeb.cif.service.PortNumber (a static method on the Java side).
#pragma once
#include <jni.h>

extern "C" {
JNIEXPORT jstring JNICALL Java_com_zeb_cif_service_PortNumber_getComPort(JNIEnv* env, jclass cls, jstring modelName);
}
