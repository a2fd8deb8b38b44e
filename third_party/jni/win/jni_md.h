/*
 * Machine-dependent JNI types for Windows builds made with mingw-w64.
 * The JDK's jni.h includes this file; the host JDK ships only its Linux variant.
 * Windows is LLP64: long stays 32 bits on both x86 and x64, which is what jint must be.
 */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
