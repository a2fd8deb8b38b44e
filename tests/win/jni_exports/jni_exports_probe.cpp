// Loads the three JNI libraries of one build as a Java VM would (Nelvar.dll, Pemtrel.dll with the
// phonebook double, and both Tarvik.dll builds, by full path) and calls every JNI export once,
// through the name a VM looks up first: the __stdcall-decorated "_Name@bytes" on i686, the plain
// name on x86_64. One process for all of them, since the 32-bit build runs through qemu, where
// every process start costs about a minute.
//
//   jni_exports_probe BINDIR PHONEBOOK_ENTRY
//
// BINDIR is the build's bin folder; the phonebook file (PATHMERE_PHONEBOOK) must hold the entry,
// and WINEDLLOVERRIDES=rasapi32=n must be set. Prints one "=> name result" line per call (each on
// a line of its own: the libraries' own prints may end without a line break), then
// "=> jni-clean yes" when no call left characters pinned, an exception pending, or called JNI
// with an exception pending. Exits 0 unless a library or an export is missing.
#include <windows.h>

#include <jni.h>

#include <cstdio>
#include <string>

#include "jni_env_double.h"

namespace {

std::string binDir;
bool jniClean = true;

[[noreturn]] void fail(const std::string& what) {
  std::printf("\n=> probe error: %s\n", what.c_str());
  std::fflush(stdout);
  ExitProcess(3);
}

HMODULE load(const std::string& relative) {
  std::string path = binDir + "\\" + relative;
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) fail("LoadLibrary failed for " + path + " (error " + std::to_string(GetLastError()) + ")");
  return module;
}

// The entry point a VM binds: on i686 the decorated __stdcall name, which also proves the
// argument bytes the DLL's function pops.
template <typename Function>
Function bind(HMODULE module, const std::string& name, int argumentBytes) {
#ifdef _WIN64
  (void)argumentBytes;
  std::string exported = name;
#else
  std::string exported = "_" + name + "@" + std::to_string(argumentBytes);
#endif
  FARPROC proc = GetProcAddress(module, exported.c_str());
  if (!proc) fail("missing export " + exported);
  return reinterpret_cast<Function>(reinterpret_cast<void*>(proc));
}

void checkClean(JniEnvDouble& jni, const char* call) {
  if (jni.pinnedCount() != 0 || jni.exceptionPending() || !jni.callsWithExceptionPending().empty()) {
    std::printf("\n=> jni-fault %s\n", call);
    jniClean = false;
  }
}

// A modem device class of its own under the class key, removed again afterwards.
struct ModemKey {
  std::string classPath;
  ModemKey(const std::string& model, const std::string& port) {
    classPath = "SYSTEM\\CurrentControlSet\\Control\\Class\\{pathmere-jni-exports-" +
                std::to_string(GetCurrentProcessId()) + "}";
    std::string instance = classPath + "\\0000";
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, classPath.c_str(), "Class", REG_SZ, "Modem", 6);
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, instance.c_str(), "Model", REG_SZ, model.c_str(),
                    static_cast<DWORD>(model.size() + 1));
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, instance.c_str(), "AttachedTo", REG_SZ, port.c_str(),
                    static_cast<DWORD>(port.size() + 1));
  }
  ~ModemKey() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, classPath.c_str()); }
};

void callNelvar() {
  HMODULE nelvar = load("Nelvar.dll");
  using GetComPort = jstring(JNICALL*)(JNIEnv*, jclass, jstring);
  auto getComPort = bind<GetComPort>(nelvar, "Java_com_zeb_cif_service_PortNumber_getComPort", 12);
  std::string model = "Pathmere export probe modem " + std::to_string(GetCurrentProcessId());
  ModemKey modem(model, "COM7");
  JniEnvDouble jni;
  jstring port = getComPort(jni.env(), jni.anyClass(), jni.newStringUtf8(model));
  std::printf("\n=> getComPort %s\n", jni.utf8(port).c_str());
  checkClean(jni, "getComPort");
}

void callPemtrel(const std::string& entry) {
  // The double first, so that Pemtrel's import of rasapi32.dll binds to it.
  load("phonebook\\rasapi32.dll");
  HMODULE pemtrel = load("Pemtrel.dll");
  using NameNative = jboolean(JNICALL*)(JNIEnv*, jobject, jstring);
  using IdleNative = jint(JNICALL*)(JNIEnv*, jobject, jstring);
  using UpdateNative = jboolean(JNICALL*)(JNIEnv*, jobject, jstring, jlong, jint);
  auto present = bind<NameNative>(pemtrel, "Java_plov_UpdateDialUPSettings_isDUNpresent", 12);
  auto idle = bind<IdleNative>(pemtrel, "Java_plov_UpdateDialUPSettings_getIdleTime", 12);
  auto update = bind<UpdateNative>(pemtrel, "Java_plov_UpdateDialUPSettings_updateDUN", 24);
  JniEnvDouble jni;
  jstring name = jni.newStringUtf8(entry);
  std::printf("\n=> isDUNpresent %d\n", present(jni.env(), jni.anyClass(), name));
  checkClean(jni, "isDUNpresent");
  std::printf("\n=> getIdleTime %ld\n", static_cast<long>(idle(jni.env(), jni.anyClass(), name)));
  checkClean(jni, "getIdleTime");
  // The unused 64-bit argument sits between the name and the seconds: a caller and callee that
  // disagree on the argument layout would write something other than 900.
  std::printf("\n=> updateDUN %d\n", update(jni.env(), jni.anyClass(), name, 0x1122334455667788LL, 900));
  checkClean(jni, "updateDUN");
}

void callTarvik(int variant) {
  HMODULE tarvik = load("tarvik" + std::to_string(variant) + "\\Tarvik.dll");
  const std::string prefix = "Java_com_zeb_nativeresource_win_PEPIOWrapper_";
  using IntNative = jint(JNICALL*)(JNIEnv*, jobject);
  using IntNative1 = jint(JNICALL*)(JNIEnv*, jobject, jint);
  using IntNative4 = jint(JNICALL*)(JNIEnv*, jobject, jint, jint, jint, jint);
  using LongNative = jlong(JNICALL*)(JNIEnv*, jobject);
  JniEnvDouble jni;
  JNIEnv* env = jni.env();
  jobject self = jni.anyClass();
  std::string tag = "tarvik" + std::to_string(variant) + ".";
  auto print = [&](const char* name, long long value) {
    std::fflush(stdout);
    std::printf("\n=> %s%s %lld\n", tag.c_str(), name, value);
    checkClean(jni, name);
  };
  print("spoofingNI", bind<IntNative1>(tarvik, prefix + "spoofingNI", 12)(env, self, 1));
  print("configureMemoryNI", bind<IntNative1>(tarvik, prefix + "configureMemoryNI", 12)(env, self, 64));
  print("configureQoSNI", bind<IntNative4>(tarvik, prefix + "configureQoSNI", 24)(env, self, 0x1FF, 2, 0x12345, 7));
  print("getActiveConnectionsNI", bind<IntNative>(tarvik, prefix + "getActiveConnectionsNI", 8)(env, self));
  print("getTimeActiveNI", bind<LongNative>(tarvik, prefix + "getTimeActiveNI", 8)(env, self));
  print("getMinorVersionNI", bind<IntNative>(tarvik, prefix + "getMinorVersionNI", 8)(env, self));
  print("getMajorVersionNI", bind<IntNative>(tarvik, prefix + "getMajorVersionNI", 8)(env, self));
  print("getAlarmsNI", bind<IntNative>(tarvik, prefix + "getAlarmsNI", 8)(env, self));
}

bool deviceOpens() {
  HANDLE h = CreateFileA("\\\\.\\Tarvik", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: jni_exports_probe BINDIR PHONEBOOK_ENTRY\n", stderr);
    return 2;
  }
  binDir = argv[1];
  std::printf("\n=> bits %d\n", static_cast<int>(sizeof(void*) * 8));
  // Without the PEP driver every Tarvik call takes its documented failure path.
  std::printf("\n=> device %s\n", deviceOpens() ? "yes" : "no");
  callNelvar();
  callPemtrel(argv[2]);
  callTarvik(1);
  callTarvik(2);
  std::printf("\n=> jni-clean %s\n", jniClean ? "yes" : "no");
  std::fflush(stdout);
  return 0;
}
