// Starts a program with environment variables set from the Windows side:
//   envrun NAME=VALUE... -- PROGRAM ARGS...
// Wine replaces TMP and TEMP of a program started from Linux with its registry values, so tests
// that need their own TMP start the program through this one. The rest of the command line after
// " -- " is passed on as written; standard handles are inherited; the exit code is the program's.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

int wmain() {
  std::wstring line = GetCommandLineW();
  std::size_t separator = line.find(L" -- ");
  if (separator == std::wstring::npos) {
    std::fwprintf(stderr, L"usage: envrun NAME=VALUE... -- PROGRAM ARGS...\n");
    return 125;
  }
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(line.substr(0, separator).c_str(), &argc);
  for (int i = 1; i < argc; ++i) {
    std::wstring assignment = argv[i];
    std::size_t eq = assignment.find(L'=');
    if (eq == std::wstring::npos || eq == 0) continue;
    std::wstring value = assignment.substr(eq + 1);
    SetEnvironmentVariableW(assignment.substr(0, eq).c_str(), value.empty() ? nullptr : value.c_str());
  }
  LocalFree(argv);
  std::wstring command = line.substr(separator + 4);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    std::fwprintf(stderr, L"envrun: cannot start %ls (error %lu)\n", command.c_str(), GetLastError());
    return 126;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}
