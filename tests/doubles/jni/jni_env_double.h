// A JNI environment for testing JNI libraries without a Java VM: a real JNINativeInterface_
// table whose string, exception and reference functions work, and whose other slots abort.
//
// Usage:
//   JniEnvDouble jni;
//   jstring name = jni.newString(u"Orvanta TL-700 port 1");
//   jstring port = Java_com_zeb_cif_service_PortNumber_getComPort(jni.env(), jni.anyClass(), name);
//   EXPECT_EQ(jni.utf16(port), u"COM3");
//   EXPECT_EQ(jni.pinnedCount(), 0u);     // every Get...Chars was released
//   EXPECT_FALSE(jni.exceptionPending());
//
// Strings and classes live as long as the double; references never need deleting. A native that
// releases characters it did not obtain, or calls a function the double does not provide, ends
// the process with a message naming the function (slot index as in the JNI function table).
// GetStringChars buffers are not zero-terminated (a VM does not promise it either); they are
// followed by '#'. One double serves one thread at a time.
//
// Out of memory, as a VM meets it: failNextCall("GetStringUTFChars") makes the next call of that
// function return null with an OutOfMemoryError pending. Calls a native makes while an exception
// is pending, other than those JNI allows then (exception queries, releases, deletes), are
// recorded in callsWithExceptionPending().
#pragma once
#include <jni.h>

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

class JniEnvDouble {
 public:
  JniEnvDouble();
  ~JniEnvDouble();
  JniEnvDouble(const JniEnvDouble&) = delete;
  JniEnvDouble& operator=(const JniEnvDouble&) = delete;

  // The environment to pass as the native's first argument.
  JNIEnv* env() { return &block_.env; }
  // A class or object to pass as the native's second argument (never dereferenced by natives).
  jclass anyClass() { return findClass("java/lang/Object"); }
  jclass findClass(const std::string& name);

  // Java strings made by the test.
  jstring newString(const std::u16string& chars);
  jstring newStringUtf8(const std::string& standardUtf8);  // ordinary UTF-8, converted to UTF-16

  // What a Java string made by the native (or the test) holds; a null reference reads as "".
  std::u16string utf16(jstring s) const;
  std::string utf8(jstring s) const;  // standard UTF-8 of the string's characters
  bool isString(jobject obj) const;   // a string this double made (e.g. the native's result)

  // Character buffers handed out by GetStringUTFChars / GetStringChars not yet released.
  std::size_t pinnedCount() const { return pinned_.size(); }
  // Calls per JNI function name, e.g. calls("NewStringUTF").
  std::size_t calls(const std::string& function) const;

  // The next call of this function fails as a VM out of memory fails it. Only the functions that
  // allocate can fail: GetStringUTFChars, GetStringChars, GetStringCritical, NewString and
  // NewStringUTF; any other name ends the process.
  void failNextCall(const std::string& function);
  // JNI functions the native called while an exception was pending, in order.
  const std::vector<std::string>& callsWithExceptionPending() const { return callsWithExceptionPending_; }

  // Java exceptions raised by the native through Throw/ThrowNew, or by the double itself.
  bool exceptionPending() const { return pendingException_ != nullptr; }
  std::string pendingExceptionClass() const;
  std::string pendingExceptionMessage() const;

  // Conversions between UTF-16 and the JVM's modified UTF-8 (U+0000 as C0 80, characters
  // beyond the BMP as two encoded surrogates), exposed for tests of the conversions themselves.
  static std::string toModifiedUtf8(const std::u16string& chars);
  static std::u16string fromModifiedUtf8(const char* bytes);

 private:
  struct Object;
  struct Pin {
    const Object* owner;
    bool utf;
  };

  Object* newObject(jclass cls);
  static JniEnvDouble& self(JNIEnv* env);
  Object* checkedObject(jobject ref, const char* function) const;
  void count(const char* function);
  // True when the function was armed to fail: the OutOfMemoryError is then pending.
  bool failsNow(const char* function);

  // Implementations of the table's working slots.
  static jint JNICALL GetVersion(JNIEnv* env);
  static jclass JNICALL FindClass(JNIEnv* env, const char* name);
  static jint JNICALL Throw(JNIEnv* env, jthrowable obj);
  static jint JNICALL ThrowNew(JNIEnv* env, jclass cls, const char* msg);
  static jthrowable JNICALL ExceptionOccurred(JNIEnv* env);
  static void JNICALL ExceptionDescribe(JNIEnv* env);
  static void JNICALL ExceptionClear(JNIEnv* env);
  static jboolean JNICALL ExceptionCheck(JNIEnv* env);
  static jobject JNICALL NewLocalRef(JNIEnv* env, jobject ref);
  static void JNICALL DeleteLocalRef(JNIEnv* env, jobject ref);
  static jobject JNICALL NewGlobalRef(JNIEnv* env, jobject ref);
  static void JNICALL DeleteGlobalRef(JNIEnv* env, jobject ref);
  static jint JNICALL EnsureLocalCapacity(JNIEnv* env, jint capacity);
  static jint JNICALL PushLocalFrame(JNIEnv* env, jint capacity);
  static jobject JNICALL PopLocalFrame(JNIEnv* env, jobject result);
  static jboolean JNICALL IsSameObject(JNIEnv* env, jobject a, jobject b);
  static jclass JNICALL GetObjectClass(JNIEnv* env, jobject obj);
  static jstring JNICALL NewString(JNIEnv* env, const jchar* chars, jsize len);
  static jsize JNICALL GetStringLength(JNIEnv* env, jstring str);
  static const jchar* JNICALL GetStringChars(JNIEnv* env, jstring str, jboolean* isCopy);
  static void JNICALL ReleaseStringChars(JNIEnv* env, jstring str, const jchar* chars);
  static jstring JNICALL NewStringUTF(JNIEnv* env, const char* utf);
  static jsize JNICALL GetStringUTFLength(JNIEnv* env, jstring str);
  static const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring str, jboolean* isCopy);
  static void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring str, const char* chars);
  static void JNICALL GetStringRegion(JNIEnv* env, jstring str, jsize start, jsize len, jchar* buf);
  static void JNICALL GetStringUTFRegion(JNIEnv* env, jstring str, jsize start, jsize len, char* buf);
  static const jchar* JNICALL GetStringCritical(JNIEnv* env, jstring str, jboolean* isCopy);
  static void JNICALL ReleaseStringCritical(JNIEnv* env, jstring str, const jchar* chars);

  // The JNIEnv handed to natives sits at the start of a block that leads back to its double.
  struct EnvBlock {
    JNIEnv env;
    JniEnvDouble* owner;
  };
  EnvBlock block_;
  JNINativeInterface_ table_;
  std::vector<std::unique_ptr<Object>> objects_;
  std::map<std::string, Object*> classes_;
  std::map<const void*, Pin> pinned_;
  std::map<std::string, std::size_t> calls_;
  Object* pendingException_ = nullptr;
  std::vector<std::string> armedFailures_;
  std::vector<std::string> callsWithExceptionPending_;
};
