// The native methods of plov.UpdateDialUPSettings (instance methods on the Java side).
#pragma once
#include <jni.h>

extern "C" {
JNIEXPORT jboolean JNICALL Java_plov_UpdateDialUPSettings_isDUNpresent(JNIEnv* env, jobject self, jstring connName);
JNIEXPORT jint JNICALL Java_plov_UpdateDialUPSettings_getIdleTime(JNIEnv* env, jobject self, jstring connName);
// The jlong is not used; the Java side declares it, and on i686 it makes the 24 argument bytes.
JNIEXPORT jboolean JNICALL Java_plov_UpdateDialUPSettings_updateDUN(JNIEnv* env, jobject self, jstring connName,
                                                                    jlong reserved, jint idleSeconds);
}
