// Reads and sets the idle disconnect time of an entry of the default dial-up phonebook.
// The printed lines are what the Java application's support logs have always shown.
#include "dial_up_settings.h"

#include <windows.h>
#include <ras.h>
#include <raserror.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

// The Windows 7 form of the entry; Remote Access refuses any dwSize it does not know.
static_assert(sizeof(RASENTRYW) == 5616, "RASENTRYW must have its 5616-byte form");
static_assert(sizeof(jchar) == sizeof(wchar_t), "Java characters are UTF-16 code units as on Windows");

namespace {

constexpr DWORD kRasEntrySize = sizeof(RASENTRYW);

// The entry name in both forms a call needs: modified UTF-8 for the printed lines, held until
// released, and a zero-terminated UTF-16 copy with the Java string's characters unchanged for
// Remote Access. A null Java string names no entry; neither does one the VM could not hand
// over (it is out of memory and has an exception pending, so no further JNI call may be made).
struct EntryName {
  EntryName(JNIEnv* env, jstring name) : env(env), name(name) {
    if (name == nullptr) return;
    utf = env->GetStringUTFChars(name, nullptr);
    if (utf == nullptr) return;
    try {
      wide.resize(static_cast<std::size_t>(env->GetStringLength(name)));
      if (!wide.empty()) {
        env->GetStringRegion(name, 0, static_cast<jsize>(wide.size()), reinterpret_cast<jchar*>(&wide[0]));
      }
      copied = !env->ExceptionCheck();
    } catch (const std::bad_alloc&) {
      copied = false;
    }
  }
  ~EntryName() {
    releaseJavaString();
    freeCopy();
  }
  EntryName(const EntryName&) = delete;
  EntryName& operator=(const EntryName&) = delete;

  bool usable() const { return copied; }
  const wchar_t* remoteAccessName() const { return wide.c_str(); }
  const char* printable() const { return utf ? utf : "(null)"; }
  void releaseJavaString() {
    if (utf != nullptr) env->ReleaseStringUTFChars(name, utf);
    utf = nullptr;
  }
  void freeCopy() { std::wstring().swap(wide); }

  JNIEnv* env;
  jstring name;
  const char* utf = nullptr;
  std::wstring wide;
  bool copied = false;
};

// Reads the entry's properties; a name that could not be taken from Java is treated as an
// entry that does not exist.
DWORD readEntry(const EntryName& name, RASENTRYW& entry) {
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = kRasEntrySize;
  if (!name.usable()) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  DWORD size = kRasEntrySize;
  return RasGetEntryPropertiesW(nullptr, name.remoteAccessName(), &entry, &size, nullptr, nullptr);
}

}  // namespace

jboolean JNICALL Java_plov_UpdateDialUPSettings_isDUNpresent(JNIEnv* env, jobject, jstring connName) {
  EntryName name(env, connName);
  std::printf("Entering Java_plov_UpdateDialUPSettings_isDUNpresent\n");
  std::printf("Conn Name = %s\n", name.printable());
  std::printf("inside isDUNpresent: Conn Name = %s\n", name.printable());
  // Sizes only: an existing entry answers "buffer too small", a missing one "not found".
  DWORD entrySize = 0;
  DWORD deviceSize = 0;
  DWORD result = name.usable() ? RasGetEntryPropertiesW(nullptr, name.remoteAccessName(), nullptr, &entrySize,
                                                        nullptr, &deviceSize)
                               : ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  std::printf("inside isDUNpresent: retVal = %d", static_cast<int>(result));
  std::printf("ERROR_CANNOT_FIND_PHONEBOOK_ENTRY = %d", ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
  if (result == ERROR_CANNOT_FIND_PHONEBOOK_ENTRY) return JNI_FALSE;
  std::printf("inside isDUNpresent: present");
  return JNI_TRUE;
}

jint JNICALL Java_plov_UpdateDialUPSettings_getIdleTime(JNIEnv* env, jobject, jstring connName) {
  EntryName name(env, connName);
  std::printf("Entering Java_UpdateDialUPSettings_getIdleTime\n");
  std::printf("Conn Name = %s\n", name.printable());
  RASENTRYW entry;
  DWORD result = readEntry(name, entry);
  int idleTime = 0;
  if (result == ERROR_SUCCESS) {
    std::printf("retVal = %d\n", static_cast<int>(result));
    idleTime = static_cast<int>(entry.dwIdleDisconnectSeconds);
  } else {
    std::printf("Error: retVal = %d\n", static_cast<int>(result));
  }
  std::printf("getIdleTime : retIdleTime = %d ", idleTime);
  std::printf("JNI:Idle time = %d\n", idleTime);
  return idleTime;
}

jboolean JNICALL Java_plov_UpdateDialUPSettings_updateDUN(JNIEnv* env, jobject, jstring connName, jlong,
                                                          jint idleSeconds) {
  EntryName name(env, connName);
  std::printf("Conn Name = %s\n", name.printable());
  std::printf("B4 updatedun\n");
  std::printf("inside updateDUN: Conn Name = %s\n", name.printable());
  // Start from the entry's own properties so that only the idle time and the redial count
  // change; writing a zeroed entry would wipe its number, device and options. Remote Access
  // would create a missing entry on write, so a missing one is left alone.
  RASENTRYW entry;
  if (readEntry(name, entry) == ERROR_SUCCESS) {
    entry.dwIdleDisconnectSeconds = static_cast<DWORD>(idleSeconds);
    entry.dwRedialCount = 3;
    RasSetEntryPropertiesW(nullptr, name.remoteAccessName(), &entry, kRasEntrySize, nullptr, 0);
  }
  std::printf("after updatedun\n");
  name.releaseJavaString();
  std::printf("sfter release\n");
  std::printf("B4 free\n");
  name.freeCopy();
  std::printf("after free \n");
  std::printf("after NULL\n");
  std::printf("B4 return\n");
  return JNI_TRUE;
}
