// java.exe / javaw.exe of the runtime double: answers "-version" the way the launcher's probe
// reads it (first line on standard error), exits with a scripted code or hangs, and counts runs.
// Copied as unpack200.exe it also writes an empty archive to its output (unless its exit code is
// not 0), once the file named by "hold_while" (if any) is gone: a test decides when an unpacking ends.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

#include "double_script.h"

int wmain() {
  DoubleScript script = loadDoubleScript(reinterpret_cast<const void*>(&wmain));
  wchar_t self[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  const wchar_t* name = wcsrchr(self, L'\\');
  std::string line = utf8Of(name ? name + 1 : self) + "|" + utf8Of(GetCommandLineW()) + "\r\n";
  appendToFile(script.fileFor("runs", L"java_runs.txt"), line);

  std::string first = script.get("version_line", "java version \"1.6.0_21\"");
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err != nullptr && err != INVALID_HANDLE_VALUE) {
    // What a runtime writes before its version line when an options variable is set.
    std::string notice = script.get("notice_line", "");
    std::string text = (notice.empty() ? "" : notice + "\r\n") + first + "\r\nJava(TM) SE Runtime Environment (double)\r\n";
    DWORD written = 0;
    WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
  if (script.getInt("hang", 0) != 0) Sleep(INFINITE);
  if (name && _wcsicmp(name + 1, L"unpack200.exe") == 0) {
    std::wstring hold = widen(script.get("hold_while", ""));
    // At most about two minutes, so that a test that fails to let go leaves no process behind.
    for (int i = 0; i < 1200 && !hold.empty() && GetFileAttributesW(hold.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) {
      Sleep(100);
    }
    int code = script.getInt("version_exit_code", 0);
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || count < 3) return 2;
    if (code == 0) writeWholeFile(args[count - 1], std::string("PK\x05\x06") + std::string(18, '\0'));
    LocalFree(args);
    return code;
  }
  // Its own key: a real runtime answers "-version" with 0 whatever its programs later return.
  return script.getInt("version_exit_code", 0);
}
