#include "jni_env_double.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

struct JniEnvDouble::Object {
  Object* cls = nullptr;       // null for class objects themselves
  std::string name;            // class name for classes
  bool isString = false;
  std::u16string chars;        // string contents
  std::string message;         // exception message
};

namespace {

constexpr std::size_t kSlots = sizeof(JNINativeInterface_) / sizeof(void*);

// One trap per slot, so the message can say which function the native wanted.
template <std::size_t N>
void JNICALL unimplementedSlot(JNIEnv*) {
  std::fprintf(stderr, "JniEnvDouble: the native called JNI function table slot %u, which the double does not provide\n",
               static_cast<unsigned>(N));
  std::fflush(stderr);
  std::abort();
}

template <std::size_t... N>
void fillWithTraps(void** slots, std::index_sequence<N...>) {
  ((slots[N] = reinterpret_cast<void*>(&unimplementedSlot<N>)), ...);
}

[[noreturn]] void misuse(const char* function, const char* what) {
  std::fprintf(stderr, "JniEnvDouble: %s: %s\n", function, what);
  std::fflush(stderr);
  std::abort();
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes UTF-8 (standard or modified); malformed bytes become U+FFFD, as in the JVM.
std::u16string decodeUtf8(const unsigned char* p, const unsigned char* end) {
  std::u16string out;
  while (p < end) {
    unsigned char b = *p;
    int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    if (extra < 0 || end - p <= extra) {
      out += u'\uFFFD';
      ++p;
      continue;
    }
    char32_t cp = extra == 0 ? b : b & (0x3F >> extra);
    bool ok = true;
    for (int i = 1; i <= extra; ++i) {
      if ((p[i] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (!ok) {
      out += u'\uFFFD';
      ++p;
      continue;
    }
    p += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

// What JNI allows a native to call while an exception is pending.
const char* const kCallableWithExceptionPending[] = {
    "ExceptionOccurred",     "ExceptionDescribe",     "ExceptionClear",    "ExceptionCheck",
    "ReleaseStringChars",    "ReleaseStringUTFChars", "ReleaseStringCritical", "DeleteLocalRef",
    "DeleteGlobalRef",       "PushLocalFrame",        "PopLocalFrame"};

const char* const kAllocatingFunctions[] = {"GetStringUTFChars", "GetStringChars", "GetStringCritical", "NewString",
                                            "NewStringUTF"};

}  // namespace

JniEnvDouble::JniEnvDouble() {
  static_assert(std::is_standard_layout<EnvBlock>::value, "a JNIEnv* must lead back to its block");
  std::memset(&table_, 0, sizeof table_);
  void** slots = reinterpret_cast<void**>(&table_);
  fillWithTraps(slots, std::make_index_sequence<kSlots>{});
  // The first four slots are reserved in every JNI version; a VM leaves them null.
  for (int i = 0; i < 4; ++i) slots[i] = nullptr;
  table_.GetVersion = &GetVersion;
  table_.FindClass = &FindClass;
  table_.Throw = &Throw;
  table_.ThrowNew = &ThrowNew;
  table_.ExceptionOccurred = &ExceptionOccurred;
  table_.ExceptionDescribe = &ExceptionDescribe;
  table_.ExceptionClear = &ExceptionClear;
  table_.ExceptionCheck = &ExceptionCheck;
  table_.NewLocalRef = &NewLocalRef;
  table_.DeleteLocalRef = &DeleteLocalRef;
  table_.NewGlobalRef = &NewGlobalRef;
  table_.DeleteGlobalRef = &DeleteGlobalRef;
  table_.EnsureLocalCapacity = &EnsureLocalCapacity;
  table_.PushLocalFrame = &PushLocalFrame;
  table_.PopLocalFrame = &PopLocalFrame;
  table_.IsSameObject = &IsSameObject;
  table_.GetObjectClass = &GetObjectClass;
  table_.NewString = &NewString;
  table_.GetStringLength = &GetStringLength;
  table_.GetStringChars = &GetStringChars;
  table_.ReleaseStringChars = &ReleaseStringChars;
  table_.NewStringUTF = &NewStringUTF;
  table_.GetStringUTFLength = &GetStringUTFLength;
  table_.GetStringUTFChars = &GetStringUTFChars;
  table_.ReleaseStringUTFChars = &ReleaseStringUTFChars;
  table_.GetStringRegion = &GetStringRegion;
  table_.GetStringUTFRegion = &GetStringUTFRegion;
  table_.GetStringCritical = &GetStringCritical;
  table_.ReleaseStringCritical = &ReleaseStringCritical;
  block_.env.functions = &table_;
  block_.owner = this;
}

JniEnvDouble::~JniEnvDouble() {
  for (auto& entry : pinned_) std::free(const_cast<void*>(entry.first));
}

JniEnvDouble& JniEnvDouble::self(JNIEnv* env) {
  if (env == nullptr) misuse("JNIEnv", "null environment");
  return *reinterpret_cast<EnvBlock*>(env)->owner;
}

JniEnvDouble::Object* JniEnvDouble::newObject(jclass cls) {
  objects_.push_back(std::make_unique<Object>());
  Object* obj = objects_.back().get();
  obj->cls = reinterpret_cast<Object*>(cls);
  return obj;
}

JniEnvDouble::Object* JniEnvDouble::checkedObject(jobject ref, const char* function) const {
  if (ref == nullptr) misuse(function, "null reference");
  for (const auto& obj : objects_) {
    if (reinterpret_cast<jobject>(obj.get()) == ref) return obj.get();
  }
  misuse(function, "reference the double never made");
}

jclass JniEnvDouble::findClass(const std::string& name) {
  auto it = classes_.find(name);
  if (it != classes_.end()) return reinterpret_cast<jclass>(it->second);
  Object* cls = newObject(nullptr);
  cls->name = name;
  classes_[name] = cls;
  return reinterpret_cast<jclass>(cls);
}

jstring JniEnvDouble::newString(const std::u16string& chars) {
  Object* str = newObject(findClass("java/lang/String"));
  str->isString = true;
  str->chars = chars;
  return reinterpret_cast<jstring>(str);
}

jstring JniEnvDouble::newStringUtf8(const std::string& standardUtf8) {
  auto p = reinterpret_cast<const unsigned char*>(standardUtf8.data());
  return newString(decodeUtf8(p, p + standardUtf8.size()));
}

std::u16string JniEnvDouble::utf16(jstring s) const {
  if (s == nullptr) return {};
  Object* obj = checkedObject(s, "utf16");
  if (!obj->isString) misuse("utf16", "not a string");
  return obj->chars;
}

std::string JniEnvDouble::utf8(jstring s) const {
  std::u16string chars = utf16(s);
  std::string out;
  for (std::size_t i = 0; i < chars.size(); ++i) {
    char32_t c = chars[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < chars.size() && chars[i + 1] >= 0xDC00 && chars[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (chars[++i] - 0xDC00);
    }
    appendUtf8(out, c);
  }
  return out;
}

bool JniEnvDouble::isString(jobject obj) const {
  for (const auto& o : objects_) {
    if (reinterpret_cast<jobject>(o.get()) == obj) return o->isString;
  }
  return false;
}

void JniEnvDouble::count(const char* function) {
  ++calls_[function];
  if (pendingException_ == nullptr) return;
  for (const char* allowed : kCallableWithExceptionPending) {
    if (std::strcmp(allowed, function) == 0) return;
  }
  callsWithExceptionPending_.push_back(function);
}

void JniEnvDouble::failNextCall(const std::string& function) {
  for (const char* allocating : kAllocatingFunctions) {
    if (function == allocating) {
      armedFailures_.push_back(function);
      return;
    }
  }
  misuse("failNextCall", (function + " does not allocate").c_str());
}

bool JniEnvDouble::failsNow(const char* function) {
  for (auto it = armedFailures_.begin(); it != armedFailures_.end(); ++it) {
    if (*it == function) {
      armedFailures_.erase(it);
      Object* error = newObject(findClass("java/lang/OutOfMemoryError"));
      error->message = std::string(function) + " failed: out of memory";
      pendingException_ = error;
      return true;
    }
  }
  return false;
}

std::size_t JniEnvDouble::calls(const std::string& function) const {
  auto it = calls_.find(function);
  return it == calls_.end() ? 0 : it->second;
}

std::string JniEnvDouble::pendingExceptionClass() const {
  return pendingException_ && pendingException_->cls ? pendingException_->cls->name : std::string();
}

std::string JniEnvDouble::pendingExceptionMessage() const {
  return pendingException_ ? pendingException_->message : std::string();
}

std::string JniEnvDouble::toModifiedUtf8(const std::u16string& chars) {
  std::string out;
  for (char16_t c : chars) {
    if (c == 0) out += "\xC0\x80";
    else appendUtf8(out, c);  // surrogates are encoded one by one, three bytes each
  }
  return out;
}

std::u16string JniEnvDouble::fromModifiedUtf8(const char* bytes) {
  auto p = reinterpret_cast<const unsigned char*>(bytes);
  return decodeUtf8(p, p + std::strlen(bytes));
}

jint JNICALL JniEnvDouble::GetVersion(JNIEnv* env) {
  self(env).count("GetVersion");
  return JNI_VERSION_1_8;
}

jclass JNICALL JniEnvDouble::FindClass(JNIEnv* env, const char* name) {
  JniEnvDouble& d = self(env);
  d.count("FindClass");
  if (name == nullptr) misuse("FindClass", "null name");
  return d.findClass(name);
}

jint JNICALL JniEnvDouble::Throw(JNIEnv* env, jthrowable obj) {
  JniEnvDouble& d = self(env);
  d.count("Throw");
  d.pendingException_ = d.checkedObject(obj, "Throw");
  return 0;
}

jint JNICALL JniEnvDouble::ThrowNew(JNIEnv* env, jclass cls, const char* msg) {
  JniEnvDouble& d = self(env);
  d.count("ThrowNew");
  d.checkedObject(cls, "ThrowNew");
  Object* exception = d.newObject(cls);
  exception->message = msg ? msg : "";
  d.pendingException_ = exception;
  return 0;
}

jthrowable JNICALL JniEnvDouble::ExceptionOccurred(JNIEnv* env) {
  JniEnvDouble& d = self(env);
  d.count("ExceptionOccurred");
  return reinterpret_cast<jthrowable>(d.pendingException_);
}

void JNICALL JniEnvDouble::ExceptionDescribe(JNIEnv* env) {
  JniEnvDouble& d = self(env);
  d.count("ExceptionDescribe");
  if (d.pendingException_) {
    std::fprintf(stderr, "Exception %s: %s\n", d.pendingExceptionClass().c_str(), d.pendingException_->message.c_str());
  }
}

void JNICALL JniEnvDouble::ExceptionClear(JNIEnv* env) {
  JniEnvDouble& d = self(env);
  d.count("ExceptionClear");
  d.pendingException_ = nullptr;
}

jboolean JNICALL JniEnvDouble::ExceptionCheck(JNIEnv* env) {
  JniEnvDouble& d = self(env);
  d.count("ExceptionCheck");
  return d.pendingException_ ? JNI_TRUE : JNI_FALSE;
}

jobject JNICALL JniEnvDouble::NewLocalRef(JNIEnv* env, jobject ref) {
  self(env).count("NewLocalRef");
  return ref;
}

void JNICALL JniEnvDouble::DeleteLocalRef(JNIEnv* env, jobject) { self(env).count("DeleteLocalRef"); }

jobject JNICALL JniEnvDouble::NewGlobalRef(JNIEnv* env, jobject ref) {
  self(env).count("NewGlobalRef");
  return ref;
}

void JNICALL JniEnvDouble::DeleteGlobalRef(JNIEnv* env, jobject) { self(env).count("DeleteGlobalRef"); }

jint JNICALL JniEnvDouble::EnsureLocalCapacity(JNIEnv* env, jint) {
  self(env).count("EnsureLocalCapacity");
  return 0;
}

jint JNICALL JniEnvDouble::PushLocalFrame(JNIEnv* env, jint) {
  self(env).count("PushLocalFrame");
  return 0;
}

jobject JNICALL JniEnvDouble::PopLocalFrame(JNIEnv* env, jobject result) {
  self(env).count("PopLocalFrame");
  return result;
}

jboolean JNICALL JniEnvDouble::IsSameObject(JNIEnv* env, jobject a, jobject b) {
  self(env).count("IsSameObject");
  return a == b ? JNI_TRUE : JNI_FALSE;
}

jclass JNICALL JniEnvDouble::GetObjectClass(JNIEnv* env, jobject obj) {
  JniEnvDouble& d = self(env);
  d.count("GetObjectClass");
  Object* o = d.checkedObject(obj, "GetObjectClass");
  return o->cls ? reinterpret_cast<jclass>(o->cls) : d.findClass("java/lang/Class");
}

jstring JNICALL JniEnvDouble::NewString(JNIEnv* env, const jchar* chars, jsize len) {
  JniEnvDouble& d = self(env);
  d.count("NewString");
  if (d.failsNow("NewString")) return nullptr;
  if (len < 0 || (chars == nullptr && len > 0)) misuse("NewString", "bad characters or length");
  return d.newString(std::u16string(reinterpret_cast<const char16_t*>(chars), static_cast<std::size_t>(len)));
}

jsize JNICALL JniEnvDouble::GetStringLength(JNIEnv* env, jstring str) {
  JniEnvDouble& d = self(env);
  d.count("GetStringLength");
  return static_cast<jsize>(d.utf16(reinterpret_cast<jstring>(d.checkedObject(str, "GetStringLength"))).size());
}

const jchar* JNICALL JniEnvDouble::GetStringChars(JNIEnv* env, jstring str, jboolean* isCopy) {
  JniEnvDouble& d = self(env);
  d.count("GetStringChars");
  Object* obj = d.checkedObject(str, "GetStringChars");
  if (d.failsNow("GetStringChars")) return nullptr;
  // A VM does not promise a terminating zero; this copy is followed by a visible '#' instead, so
  // a native that treats the characters as a C string reads garbage in its tests.
  std::size_t n = obj->chars.size();
  auto* copy = static_cast<jchar*>(std::malloc((n + 1) * sizeof(jchar)));
  if (copy == nullptr) misuse("GetStringChars", "out of memory");
  std::memcpy(copy, obj->chars.data(), n * sizeof(jchar));
  copy[n] = u'#';
  d.pinned_[copy] = Pin{obj, false};
  if (isCopy) *isCopy = JNI_TRUE;
  return copy;
}

void JNICALL JniEnvDouble::ReleaseStringChars(JNIEnv* env, jstring str, const jchar* chars) {
  JniEnvDouble& d = self(env);
  d.count("ReleaseStringChars");
  Object* obj = d.checkedObject(str, "ReleaseStringChars");
  auto it = d.pinned_.find(chars);
  if (it == d.pinned_.end() || it->second.utf || it->second.owner != obj) {
    misuse("ReleaseStringChars", "characters not obtained from GetStringChars of this string");
  }
  d.pinned_.erase(it);
  std::free(const_cast<jchar*>(chars));
}

jstring JNICALL JniEnvDouble::NewStringUTF(JNIEnv* env, const char* utf) {
  JniEnvDouble& d = self(env);
  d.count("NewStringUTF");
  if (d.failsNow("NewStringUTF")) return nullptr;
  if (utf == nullptr) return nullptr;
  return d.newString(fromModifiedUtf8(utf));
}

jsize JNICALL JniEnvDouble::GetStringUTFLength(JNIEnv* env, jstring str) {
  JniEnvDouble& d = self(env);
  d.count("GetStringUTFLength");
  return static_cast<jsize>(toModifiedUtf8(d.checkedObject(str, "GetStringUTFLength")->chars).size());
}

const char* JNICALL JniEnvDouble::GetStringUTFChars(JNIEnv* env, jstring str, jboolean* isCopy) {
  JniEnvDouble& d = self(env);
  d.count("GetStringUTFChars");
  Object* obj = d.checkedObject(str, "GetStringUTFChars");
  if (d.failsNow("GetStringUTFChars")) return nullptr;
  std::string utf = toModifiedUtf8(obj->chars);
  auto* copy = static_cast<char*>(std::malloc(utf.size() + 1));
  if (copy == nullptr) misuse("GetStringUTFChars", "out of memory");
  std::memcpy(copy, utf.c_str(), utf.size() + 1);
  d.pinned_[copy] = Pin{obj, true};
  if (isCopy) *isCopy = JNI_TRUE;
  return copy;
}

void JNICALL JniEnvDouble::ReleaseStringUTFChars(JNIEnv* env, jstring str, const char* chars) {
  JniEnvDouble& d = self(env);
  d.count("ReleaseStringUTFChars");
  Object* obj = d.checkedObject(str, "ReleaseStringUTFChars");
  auto it = d.pinned_.find(chars);
  if (it == d.pinned_.end() || !it->second.utf || it->second.owner != obj) {
    misuse("ReleaseStringUTFChars", "characters not obtained from GetStringUTFChars of this string");
  }
  d.pinned_.erase(it);
  std::free(const_cast<char*>(chars));
}

void JNICALL JniEnvDouble::GetStringRegion(JNIEnv* env, jstring str, jsize start, jsize len, jchar* buf) {
  JniEnvDouble& d = self(env);
  d.count("GetStringRegion");
  const std::u16string& chars = d.checkedObject(str, "GetStringRegion")->chars;
  if (start < 0 || len < 0 || static_cast<std::size_t>(start) + static_cast<std::size_t>(len) > chars.size()) {
    misuse("GetStringRegion", "region outside the string");
  }
  std::memcpy(buf, chars.data() + start, static_cast<std::size_t>(len) * sizeof(jchar));
}

void JNICALL JniEnvDouble::GetStringUTFRegion(JNIEnv* env, jstring str, jsize start, jsize len, char* buf) {
  JniEnvDouble& d = self(env);
  d.count("GetStringUTFRegion");
  const std::u16string& chars = d.checkedObject(str, "GetStringUTFRegion")->chars;
  if (start < 0 || len < 0 || static_cast<std::size_t>(start) + static_cast<std::size_t>(len) > chars.size()) {
    misuse("GetStringUTFRegion", "region outside the string");
  }
  std::string utf = toModifiedUtf8(chars.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(len)));
  std::memcpy(buf, utf.c_str(), utf.size() + 1);
}

const jchar* JNICALL JniEnvDouble::GetStringCritical(JNIEnv* env, jstring str, jboolean* isCopy) {
  JniEnvDouble& d = self(env);
  d.count("GetStringCritical");
  if (d.failsNow("GetStringCritical")) return nullptr;
  const jchar* chars = GetStringChars(env, str, isCopy);
  --d.calls_["GetStringChars"];
  return chars;
}

void JNICALL JniEnvDouble::ReleaseStringCritical(JNIEnv* env, jstring str, const jchar* chars) {
  JniEnvDouble& d = self(env);
  d.count("ReleaseStringCritical");
  ReleaseStringChars(env, str, chars);
  --d.calls_["ReleaseStringChars"];
}
