#include "child_process.h"

#include "temp_dir.h"

namespace {

// Quotes an argument the way CommandLineToArgvW reads it back.
std::string quoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') quoted.append(backslashes * 2 + 1, '\\');
    else quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

std::string environmentBlock(const std::map<std::string, std::string>& overrides) {
  std::map<std::string, std::string> vars;
  char* block = GetEnvironmentStringsA();
  for (const char* p = block; *p; p += strlen(p) + 1) {
    std::string entry = p;
    std::size_t eq = entry.find('=', 1);
    if (eq == std::string::npos) continue;
    vars[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  FreeEnvironmentStringsA(block);
  for (const auto& [name, value] : overrides) {
    for (auto it = vars.begin(); it != vars.end();) {
      it = _stricmp(it->first.c_str(), name.c_str()) == 0 ? vars.erase(it) : std::next(it);
    }
    if (!value.empty()) vars[name] = value;
  }
  std::string result;
  for (const auto& [name, value] : vars) result += name + "=" + value + '\0';
  result += '\0';
  return result;
}

HANDLE inheritableFile(const std::string& path) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ChildResult runChild(const std::string& program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env, DWORD timeoutMs) {
  ChildResult result;
  TempDir outputs;
  std::string outPath = outputs.file("out.txt"), errPath = outputs.file("err.txt");
  HANDLE out = inheritableFile(outPath), err = inheritableFile(errPath);
  std::string commandLine = quoteArgument(program);
  for (const std::string& arg : args) commandLine += " " + quoteArgument(arg);
  std::string envBlock = environmentBlock(env);

  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  BOOL started = CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, &envBlock[0],
                                nullptr, &si, &pi);
  CloseHandle(out);
  CloseHandle(err);
  if (!started) {
    result.exitCode = 0xFFFFFFFF;
    result.err = "CreateProcess failed " + std::to_string(GetLastError());
    return result;
  }
  if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_TIMEOUT) {
    result.timedOut = true;
    TerminateProcess(pi.hProcess, 0xDEAD);
    WaitForSingleObject(pi.hProcess, 5000);
  }
  GetExitCodeProcess(pi.hProcess, &result.exitCode);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  result.out = readWholeFile(outPath);
  result.err = readWholeFile(errPath);
  return result;
}

std::string testBinDir() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, n);
  return dir.substr(0, dir.rfind('\\') + 1);
}
