#include "base/paths.h"

#include <shlobj.h>

#include <atomic>
#include <cwctype>

#include "base/dll_search.h"
#include "base/handles.h"
#include "base/win_text.h"

namespace {

bool endsWithExe(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return tail == ".exe";
}

// Calls a Win32 "fill this buffer" function until its answer fits.
template <typename Char, typename Fill>
std::basic_string<Char> growUntilFits(Fill fill) {
  std::basic_string<Char> buffer(MAX_PATH, Char(0));
  for (;;) {
    DWORD n = fill(&buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::basic_string<Char>();
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.resize(n > buffer.size() ? n + 1 : buffer.size() * 2);
  }
}

std::wstring moduleFileNameW() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::wstring();
    if (n < buffer.size()) return buffer.substr(0, n);  // equal means truncated
    buffer.resize(buffer.size() * 2);
  }
}

std::string moduleFileNameA() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) return buffer.substr(0, n);
    buffer.resize(buffer.size() * 2);
  }
}

bool isNtFamily() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

std::string computeExecutablePath() {
  std::string result;
  using LongPathW = DWORD(WINAPI*)(LPCWSTR, LPWSTR, DWORD);
  auto longPathW = reinterpret_cast<LongPathW>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("KERNEL32"), "GetLongPathNameW")));
  if (isNtFamily() && longPathW) {
    UINT codePage = fileApiCodePage();
    std::wstring modulePath = moduleFileNameW();
    std::wstring longPath = growUntilFits<wchar_t>(
        [&](wchar_t* buf, DWORD size) { return longPathW(modulePath.c_str(), buf, size); });
    if (longPath.empty()) longPath = modulePath;
    std::string candidate;
    if (wideToAnsi(longPath, candidate, codePage) && endsWithExe(candidate)) {
      result = candidate;
    } else {
      std::wstring shortPath = growUntilFits<wchar_t>(
          [&](wchar_t* buf, DWORD size) { return GetShortPathNameW(longPath.c_str(), buf, size); });
      if (wideToAnsi(shortPath, candidate, codePage) && endsWithExe(candidate)) {
        result = candidate;
      } else {
        std::string narrow = moduleFileNameA();
        result = growUntilFits<char>(
            [&](char* buf, DWORD size) { return GetShortPathNameA(narrow.c_str(), buf, size); });
        if (result.empty()) result = narrow;
      }
    }
  } else {
    result = moduleFileNameA();
  }
  collapseBackslashes(result);
  return result;
}

}  // namespace

std::string currentDirectory() {
  return growUntilFits<char>([](char* buf, DWORD size) { return GetCurrentDirectoryA(size, buf); });
}

std::string fullPathName(const std::string& path) {
  std::string full = growUntilFits<char>(
      [&](char* buf, DWORD size) { return GetFullPathNameA(path.c_str(), size, buf, nullptr); });
  return full.empty() ? path : full;
}

const std::string& executablePath() {
  static const std::string path = computeExecutablePath();
  return path;
}

void collapseBackslashes(std::string& path) {
  UINT codePage = fileApiCodePage();
  std::wstring wide = ansiToWide(path, codePage);
  std::u16string collapsed = collapseBackslashes(asUtf16(wide));
  std::string back;
  if (wideToAnsi(asWide(collapsed), back, codePage)) path = back;
}

void lowercasePath(std::string& path) {
  UINT codePage = fileApiCodePage();
  std::wstring wide = ansiToWide(path, codePage);
  for (wchar_t& c : wide) c = static_cast<wchar_t>(std::towlower(c));
  std::string back;
  if (wideToAnsi(wide, back, codePage)) path = back;
}

std::string resolveAgainstExeDir(std::string_view path, const char* baseFile) {
  std::string result;
  if (isRelativePath(path)) {
    result = directoryPart(fullPathName(baseFile ? std::string(baseFile) : executablePath()));
  }
  result.append(path);
  collapseBackslashes(result);
  return result;
}

std::string makeAbsolutePath(std::string_view path, bool keepCase) {
  std::string full = fullPathName(resolveAgainstExeDir(path));
  if (!keepCase) lowercasePath(full);
  collapseBackslashes(full);
  return full;
}

std::string resolvePathList(std::string_view list) {
  std::vector<std::string> elements = splitPathList(list);
  for (std::string& element : elements) element = resolveAgainstExeDir(element);
  return joinPathList(elements);
}

bool pathExists(const char* path) {
  if (isDriveRootSpec(path)) return true;
  return fileLastWriteTime(path);
}

bool fileLastWriteTime(const char* path, FILETIME* lastWrite) {
  WIN32_FIND_DATAA data;
  SearchHandle search(FindFirstFileA(path, &data));
  if (!search.valid()) return false;
  if (lastWrite) *lastWrite = data.ftLastWriteTime;
  return true;
}

int listDirectory(const char* directory, const char* extension, std::vector<std::string>& names) {
  names.clear();
  std::string pattern = directorySearchPattern(directory, extension);
  WIN32_FIND_DATAA data;
  SearchHandle search(FindFirstFileA(pattern.c_str(), &data));
  if (!search.valid()) return 0;
  do {
    names.emplace_back(data.cFileName);
  } while (FindNextFileA(search.h, &data));
  return static_cast<int>(names.size());
}

DWORD shellLongPathName(const char* shortPath, char* dest, DWORD size) {
  if (GetFileAttributesA(shortPath) == INVALID_FILE_ATTRIBUTES) return 0;
  char full[MAX_PATH];
  DWORD n = GetFullPathNameA(shortPath, MAX_PATH, full, nullptr);
  if (n == 0) return 0;
  if (n >= MAX_PATH) {
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return 0;
  }
  // The fallback of systems without GetLongPathNameA: shell32 is looked up, not imported.
  auto getDesktopFolder = systemFunction<HRESULT(WINAPI*)(IShellFolder**)>("shell32.dll", "SHGetDesktopFolder");
  auto getPathFromIdList = systemFunction<BOOL(WINAPI*)(LPCITEMIDLIST, LPSTR)>("shell32.dll", "SHGetPathFromIDListA");
  auto getMalloc = systemFunction<HRESULT(WINAPI*)(IMalloc**)>("shell32.dll", "SHGetMalloc");
  IShellFolder* desktop = nullptr;
  if (!getDesktopFolder || !getPathFromIdList || !getMalloc || FAILED(getDesktopFolder(&desktop))) {
    SetLastError(ERROR_INVALID_DATA);
    return 0;
  }
  std::wstring wide = ansiToWide(full, fileApiCodePage());
  LPITEMIDLIST items = nullptr;
  HRESULT hr = desktop->ParseDisplayName(nullptr, nullptr, &wide[0], nullptr, &items, nullptr);
  desktop->Release();
  if (FAILED(hr) || !items) {
    SetLastError(ERROR_INVALID_DATA);
    return 0;
  }
  char path[MAX_PATH];
  BOOL ok = getPathFromIdList(items, path);
  IMalloc* shellMalloc = nullptr;
  if (SUCCEEDED(getMalloc(&shellMalloc))) {
    shellMalloc->Free(items);
    shellMalloc->Release();
  }
  if (!ok) {
    SetLastError(ERROR_INVALID_DATA);
    return 0;
  }
  DWORD length = static_cast<DWORD>(strlen(path));
  if (length >= size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(dest, path, length + 1);
  return length;
}

DWORD getLongPathName(const char* shortPath, char* dest, DWORD size) {
  using LongPathA = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);
  // Decided once: the kernel's call where it exists and is implemented, else the shell.
  static LongPathA kernelCall = reinterpret_cast<LongPathA>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("KERNEL32"), "GetLongPathNameA")));
  static std::atomic<bool> useShell{kernelCall == nullptr};
  if (!useShell) {
    DWORD n = kernelCall(shortPath, dest, size);
    if (n != 0 || GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return n;
    useShell = true;
  }
  return shellLongPathName(shortPath, dest, size);
}

std::string longPathOrSame(const std::string& path) {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    DWORD n = getLongPathName(path.c_str(), &buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0) return path;
    if (n < buffer.size()) return buffer.substr(0, n);
    buffer.resize(n + 1);
  }
}
