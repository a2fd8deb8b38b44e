// The JNI double behaves like a VM's string functions, so natives tested with it meet the
// same contract as in the Java application.
#include "jni_env_double.h"

#include <gtest/gtest.h>

namespace {

TEST(JniEnvDouble, StringsRoundTripThroughTheTable) {
  JniEnvDouble jni;
  JNIEnv* env = jni.env();
  jstring made = env->NewStringUTF("COM3");
  EXPECT_TRUE(jni.isString(made));
  EXPECT_EQ(jni.utf16(made), u"COM3");
  EXPECT_EQ(env->GetStringLength(made), 4);
  EXPECT_EQ(env->GetStringUTFLength(made), 4);

  const char16_t wide[] = u"Z\u00fcrich \u65e5";
  jstring w = env->NewString(reinterpret_cast<const jchar*>(wide), 8);
  EXPECT_EQ(jni.utf8(w), "Z\xc3\xbcrich \xe6\x97\xa5");
  EXPECT_EQ(jni.calls("NewStringUTF"), 1u);
  EXPECT_EQ(jni.calls("NewString"), 1u);

  jstring empty = env->NewStringUTF("");
  EXPECT_EQ(jni.utf16(empty), u"");
  EXPECT_EQ(env->NewStringUTF(nullptr), nullptr);
  EXPECT_EQ(jni.utf16(nullptr), u"");
}

TEST(JniEnvDouble, PinsCharactersUntilReleased) {
  JniEnvDouble jni;
  JNIEnv* env = jni.env();
  jstring s = jni.newString(u"a\u00e9\U0001F600");
  jboolean isCopy = JNI_FALSE;
  const char* utf = env->GetStringUTFChars(s, &isCopy);
  EXPECT_EQ(isCopy, JNI_TRUE);
  // Modified UTF-8: a supplementary character is two encoded surrogates of three bytes each.
  EXPECT_STREQ(utf, "a\xc3\xa9\xed\xa0\xbd\xed\xb8\x80");
  EXPECT_EQ(env->GetStringUTFLength(s), 9);
  const jchar* chars = env->GetStringChars(s, nullptr);
  EXPECT_EQ(env->GetStringLength(s), 4);
  EXPECT_EQ(chars[1], 0xE9);
  EXPECT_EQ(chars[4], u'#');  // not terminated, as a VM does not promise it
  EXPECT_EQ(jni.pinnedCount(), 2u);
  env->ReleaseStringUTFChars(s, utf);
  env->ReleaseStringChars(s, chars);
  EXPECT_EQ(jni.pinnedCount(), 0u);
}

TEST(JniEnvDouble, ModifiedUtf8Conversions) {
  EXPECT_EQ(JniEnvDouble::toModifiedUtf8(std::u16string(u"a\0b", 3)), std::string("a\xc0\x80" "b"));
  EXPECT_EQ(JniEnvDouble::fromModifiedUtf8("a\xc0\x80" "b"), std::u16string(u"a\0b", 3));
  EXPECT_EQ(JniEnvDouble::fromModifiedUtf8("\xed\xa0\xbd\xed\xb8\x80"), u"\U0001F600");
  EXPECT_EQ(JniEnvDouble::fromModifiedUtf8("\xff" "x"), u"\uFFFDx");
  JniEnvDouble jni;
  EXPECT_EQ(jni.utf8(jni.newStringUtf8("\xf0\x9f\x98\x80")), "\xf0\x9f\x98\x80");
}

TEST(JniEnvDouble, RegionsAndExceptions) {
  JniEnvDouble jni;
  JNIEnv* env = jni.env();
  jstring s = jni.newString(u"PORT\u00e9");
  jchar region[2] = {};
  env->GetStringRegion(s, 3, 2, region);
  EXPECT_EQ(region[0], u'T');
  EXPECT_EQ(region[1], 0xE9);
  char utf[8] = {};
  env->GetStringUTFRegion(s, 3, 2, utf);
  EXPECT_STREQ(utf, "T\xc3\xa9");

  EXPECT_FALSE(env->ExceptionCheck());
  jclass cls = env->FindClass("java/io/IOException");
  EXPECT_EQ(cls, env->FindClass("java/io/IOException"));
  env->ThrowNew(cls, "device gone");
  EXPECT_TRUE(jni.exceptionPending());
  EXPECT_TRUE(env->ExceptionCheck());
  EXPECT_EQ(jni.pendingExceptionClass(), "java/io/IOException");
  EXPECT_EQ(jni.pendingExceptionMessage(), "device gone");
  EXPECT_EQ(env->GetObjectClass(env->ExceptionOccurred()), cls);
  env->ExceptionClear();
  EXPECT_FALSE(jni.exceptionPending());
  EXPECT_GE(env->GetVersion(), JNI_VERSION_1_6);
}

TEST(JniEnvDouble, AnArmedAllocationFailsOnceWithOutOfMemoryError) {
  JniEnvDouble jni;
  JNIEnv* env = jni.env();
  jstring s = jni.newString(u"COM3");
  jni.failNextCall("GetStringUTFChars");
  EXPECT_EQ(env->GetStringChars(s, nullptr) != nullptr, true);  // only the armed function fails
  EXPECT_FALSE(jni.exceptionPending());
  EXPECT_EQ(env->GetStringUTFChars(s, nullptr), nullptr);
  EXPECT_TRUE(jni.exceptionPending());
  EXPECT_EQ(jni.pendingExceptionClass(), "java/lang/OutOfMemoryError");
  EXPECT_EQ(jni.pinnedCount(), 1u);
  env->ExceptionClear();
  const char* utf = env->GetStringUTFChars(s, nullptr);
  ASSERT_NE(utf, nullptr);
  env->ReleaseStringUTFChars(s, utf);

  for (const char* function : {"GetStringChars", "GetStringCritical", "NewString", "NewStringUTF"}) {
    jni.failNextCall(function);
  }
  EXPECT_EQ(env->GetStringCritical(s, nullptr), nullptr);
  env->ExceptionClear();
  EXPECT_EQ(env->NewStringUTF("x"), nullptr);
  env->ExceptionClear();
  const jchar one = u'x';
  EXPECT_EQ(env->NewString(&one, 1), nullptr);
  env->ExceptionClear();
  EXPECT_EQ(jni.callsWithExceptionPending(), std::vector<std::string>{});
}

TEST(JniEnvDouble, RecordsCallsMadeWhileAnExceptionIsPending) {
  JniEnvDouble jni;
  JNIEnv* env = jni.env();
  jstring s = jni.newString(u"COM3");
  jni.failNextCall("GetStringUTFChars");
  EXPECT_EQ(env->GetStringUTFChars(s, nullptr), nullptr);
  // Allowed while the exception is pending: queries and releases.
  EXPECT_TRUE(env->ExceptionCheck());
  env->DeleteLocalRef(s);
  EXPECT_EQ(jni.callsWithExceptionPending(), std::vector<std::string>{});
  // Not allowed: anything else.
  env->GetStringLength(s);
  env->NewStringUTF("");
  EXPECT_EQ(jni.callsWithExceptionPending(), (std::vector<std::string>{"GetStringLength", "NewStringUTF"}));
}

TEST(JniEnvDoubleDeathTest, AbortsOnMisuse) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        JniEnvDouble jni;
        jni.env()->GetArrayLength(nullptr);
      },
      "slot 171");
  EXPECT_DEATH(
      {
        JniEnvDouble jni;
        jstring s = jni.newString(u"x");
        jni.env()->ReleaseStringUTFChars(s, "x");
      },
      "not obtained from GetStringUTFChars");
  EXPECT_DEATH(
      {
        JniEnvDouble jni;
        jstring s = jni.newString(u"x");
        jni.env()->ReleaseStringChars(s, jni.env()->GetStringChars(jni.newString(u"y"), nullptr));
      },
      "not obtained from GetStringChars of this string");
  EXPECT_DEATH(
      {
        JniEnvDouble jni;
        jni.failNextCall("GetStringLength");
      },
      "GetStringLength does not allocate");
}

}  // namespace
