// The native methods of com.zeb.nativeresource.win.PEPIOWrapper as Tarvik.dll exports them.
// Neither the environment nor the object is used: every argument and result is a plain number.
#pragma once
#include <jni.h>

extern "C" {
JNIEXPORT jint JNICALL Java_com_zeb_nativeresource_win_PEPIOWrapper_spoofingNI(JNIEnv*, jobject, jint);
JNIEXPORT jint JNICALL Java_com_zeb_nativeresource_win_PEPIOWrapper_configureMemoryNI(JNIEnv*, jobject, jint);
JNIEXPORT jint JNICALL Java_com_zeb_nativeresource_win_PEPIOWrapper_configureQoSNI(JNIEnv*, jobject, jint, jint,
                                                                                  jint, jint);
JNIEXPORT jint JNICALL Java_com_zeb_nativeresource_win_PEPIOWrapper_getActiveConnectionsNI(JNIEnv*, jobject);
JNIEXPORT jlong JNICALL Java_com_zeb_nativeresource_win_PEPIOWrapper_getTimeActiveNI(JNIEnv*, jobject);
JNIEXPORT jint JNICALL Java_com_zeb_nativeresource_win_PEPIOWrapper_getMinorVersionNI(JNIEnv*, jobject);
JNIEXPORT jint JNICALL Java_com_zeb_nativeresource_win_PEPIOWrapper_getMajorVersionNI(JNIEnv*, jobject);
JNIEXPORT jint JNICALL Java_com_zeb_nativeresource_win_PEPIOWrapper_getAlarmsNI(JNIEnv*, jobject);
}
