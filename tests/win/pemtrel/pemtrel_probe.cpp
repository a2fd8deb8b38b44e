// Calls one Pemtrel native in a process of its own, so a test can see what it prints and start
// it with the phonebook double. Usage:
//   pemtrel_probe [--fail JNIFUNCTION] isDUNpresent|getIdleTime|updateDUN|rasSet NAME [SECONDS]
// NAME may spell characters as \uXXXX; "-null" passes a null Java string. --fail makes the JNI
// double fail that function's next call as a VM out of memory does. After the native's own
// output the probe prints "@result=", "@pinned=" (unreleased Java characters), "@double=" (1
// when the loaded Remote Access library is the phonebook double), "@exception=" (the class of
// the pending Java exception, if any), "@misused=" (JNI functions called with an exception
// pending, comma-separated) and "@queried=" (the entry names Remote Access was given, as UTF-8,
// separated by "|"), each on a line of its own.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <ras.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "dial_up_settings.h"
#include "jni_env_double.h"

namespace {

std::u16string unescape(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 5 < text.size() && text[i + 1] == 'u') {
      out += static_cast<char16_t>(std::strtoul(text.substr(i + 2, 4).c_str(), nullptr, 16));
      i += 5;
    } else {
      out += static_cast<char16_t>(static_cast<unsigned char>(text[i]));
    }
  }
  return out;
}

std::string queriedNames() {
  using Queries = const wchar_t* (*)();
  auto queries = reinterpret_cast<Queries>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("rasapi32.dll"), "pathmerePhonebookQueries")));
  if (!queries) return "<not the phonebook double>";
  std::wstring names = queries();
  std::string out;
  for (std::size_t start = 0; start < names.size();) {
    std::size_t end = names.find(L'\n', start);
    std::wstring name = names.substr(start, end - start);
    int n = WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), &utf8[0], n, nullptr, nullptr);
    out += (out.empty() ? "" : "|") + utf8;
    start = end + 1;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const char* failing = nullptr;
  if (argc > 2 && std::string(argv[1]) == "--fail") {
    failing = argv[2];
    argc -= 2;
    argv += 2;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: pemtrel_probe [--fail JNIFUNCTION] NATIVE NAME [SECONDS]\n");
    return 2;
  }
  // Pemtrel prints through the same C runtime: binary mode shows its line ends as written.
  _setmode(_fileno(stdout), _O_BINARY);
  std::string native = argv[1];
  std::string nameArg = argv[2];
  jint seconds = argc > 3 ? std::atoi(argv[3]) : 0;
  JniEnvDouble jni;
  jstring name = nameArg == "-null" ? nullptr : jni.newString(unescape(nameArg));
  jobject self = jni.anyClass();
  if (failing) jni.failNextCall(failing);
  long long result = 0;
  if (native == "isDUNpresent") {
    result = Java_plov_UpdateDialUPSettings_isDUNpresent(jni.env(), self, name);
  } else if (native == "getIdleTime") {
    result = Java_plov_UpdateDialUPSettings_getIdleTime(jni.env(), self, name);
  } else if (native == "updateDUN") {
    result = Java_plov_UpdateDialUPSettings_updateDUN(jni.env(), self, name, 0x1122334455667788LL, seconds);
  } else if (native == "rasSet") {
    // Writes a fresh entry straight through the loaded Remote Access library.
    std::u16string wide = unescape(nameArg);
    RASENTRYW entry = {};
    entry.dwSize = sizeof entry;
    entry.dwIdleDisconnectSeconds = static_cast<DWORD>(seconds);
    result = RasSetEntryPropertiesW(nullptr, reinterpret_cast<const wchar_t*>(wide.c_str()), &entry, sizeof entry,
                                    nullptr, 0);
  } else {
    std::fprintf(stderr, "unknown native %s\n", native.c_str());
    return 2;
  }
  bool isDouble = GetProcAddress(GetModuleHandleA("rasapi32.dll"), "pathmerePhonebookDouble") != nullptr;
  std::string misused;
  for (const std::string& function : jni.callsWithExceptionPending()) misused += (misused.empty() ? "" : ",") + function;
  std::printf("\n@result=%lld\n@pinned=%u\n@double=%d\n@exception=%s\n@misused=%s\n@queried=%s\n", result,
              static_cast<unsigned>(jni.pinnedCount()), isDouble ? 1 : 0, jni.pendingExceptionClass().c_str(),
              misused.c_str(), queriedNames().c_str());
  std::fflush(stdout);
  // An exception the test did not provoke is a fault of the native.
  return jni.exceptionPending() && !failing ? 3 : 0;
}
