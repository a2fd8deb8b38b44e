// A stand-in for rasapi32.dll (Wine only stubs these calls): RasGetEntryPropertiesW and
// RasSetEntryPropertiesW on a default phonebook kept in the file that PATHMERE_PHONEBOOK names.
//
// File format, UTF-8, one entry per line, tab-separated key=value fields, name first:
//   name=Orvanta Link<TAB>idle=600<TAB>redial=1<TAB>redialPause=30<TAB>options=16<TAB>phone=*99#
//   <TAB>deviceType=modem<TAB>deviceName=Orvanta TL-700 port 1
// Absent fields read as 0 or "". A missing file is an empty phonebook. Like the real service, a
// write creates an entry that does not exist yet, and calls for another phonebook file fail.
#include <windows.h>
#include <ras.h>
#include <raserror.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Entry {
  std::wstring name;
  DWORD idle = 0;
  DWORD redial = 0;
  DWORD redialPause = 0;
  DWORD options = 0;
  std::wstring phone;
  std::wstring deviceType;
  std::wstring deviceName;
};

std::wstring fromUtf8(const std::string& text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

std::string toUtf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

bool phonebookPath(std::wstring& path) {
  wchar_t buffer[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"PATHMERE_PHONEBOOK", buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  path.assign(buffer, n);
  return true;
}

bool load(std::vector<Entry>& entries) {
  std::wstring path;
  if (!phonebookPath(path)) return false;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(file);

  std::size_t lineStart = 0;
  while (lineStart < bytes.size()) {
    std::size_t lineEnd = bytes.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = bytes.size();
    std::string line = bytes.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    Entry entry;
    std::size_t fieldStart = 0;
    while (fieldStart <= line.size()) {
      std::size_t fieldEnd = line.find('\t', fieldStart);
      if (fieldEnd == std::string::npos) fieldEnd = line.size();
      std::string field = line.substr(fieldStart, fieldEnd - fieldStart);
      fieldStart = fieldEnd + 1;
      std::size_t eq = field.find('=');
      if (eq == std::string::npos) continue;
      std::string key = field.substr(0, eq);
      std::string value = field.substr(eq + 1);
      DWORD number = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 0));
      if (key == "name") entry.name = fromUtf8(value);
      else if (key == "idle") entry.idle = number;
      else if (key == "redial") entry.redial = number;
      else if (key == "redialPause") entry.redialPause = number;
      else if (key == "options") entry.options = number;
      else if (key == "phone") entry.phone = fromUtf8(value);
      else if (key == "deviceType") entry.deviceType = fromUtf8(value);
      else if (key == "deviceName") entry.deviceName = fromUtf8(value);
    }
    entries.push_back(entry);
  }
  return true;
}

bool save(const std::vector<Entry>& entries) {
  std::wstring path;
  if (!phonebookPath(path)) return false;
  std::string bytes;
  for (const Entry& e : entries) {
    bytes += "name=" + toUtf8(e.name) + "\tidle=" + std::to_string(e.idle) + "\tredial=" + std::to_string(e.redial) +
             "\tredialPause=" + std::to_string(e.redialPause) + "\toptions=" + std::to_string(e.options) +
             "\tphone=" + toUtf8(e.phone) + "\tdeviceType=" + toUtf8(e.deviceType) +
             "\tdeviceName=" + toUtf8(e.deviceName) + "\n";
  }
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

// Names compare exactly, code unit by code unit.
Entry* find(std::vector<Entry>& entries, const wchar_t* name) {
  for (Entry& e : entries) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

// Entry names the calls were given in this process, each followed by a line break.
std::wstring queriedNames;

void noteQuery(LPCWSTR entryName) {
  if (entryName != nullptr) queriedNames += entryName;
  queriedNames += L'\n';
}

template <std::size_t N>
void copyText(WCHAR (&target)[N], const std::wstring& text) {
  std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  std::memcpy(target, text.data(), n * sizeof(WCHAR));
  target[n] = L'\0';
}

}  // namespace

// Lets a test tell this double from Wine's built-in library, which Wine would load in its place
// (reporting this file's path) unless told otherwise.
extern "C" __declspec(dllexport) int pathmerePhonebookDouble() { return 1; }

// The entry names this process's calls were given, one per line, so that a test can tell that
// a library passed the name it was asked for and nothing else.
extern "C" __declspec(dllexport) const wchar_t* pathmerePhonebookQueries() { return queriedNames.c_str(); }

extern "C" __declspec(dllexport) DWORD WINAPI RasGetEntryPropertiesW(LPCWSTR phonebook, LPCWSTR entryName, LPRASENTRYW rasEntry,
                                               LPDWORD entrySize, LPBYTE deviceInfo, LPDWORD deviceInfoSize) {
  (void)deviceInfo;
  noteQuery(entryName);
  if (phonebook != nullptr) return ERROR_CANNOT_OPEN_PHONEBOOK;
  if (entrySize == nullptr) return ERROR_INVALID_PARAMETER;
  std::vector<Entry> entries;
  if (!load(entries)) return ERROR_CANNOT_OPEN_PHONEBOOK;
  Entry defaults;
  const Entry* entry = &defaults;  // an empty name asks for the default properties
  if (entryName != nullptr && entryName[0] != L'\0') {
    entry = find(entries, entryName);
    if (entry == nullptr) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  }
  if (deviceInfoSize != nullptr) *deviceInfoSize = 0;  // no device information since Windows 2000
  if (rasEntry == nullptr || *entrySize < sizeof(RASENTRYW)) {
    *entrySize = sizeof(RASENTRYW);
    return ERROR_BUFFER_TOO_SMALL;
  }
  if (rasEntry->dwSize != sizeof(RASENTRYW)) return ERROR_INVALID_SIZE;
  std::memset(rasEntry, 0, sizeof(RASENTRYW));
  rasEntry->dwSize = sizeof(RASENTRYW);
  rasEntry->dwIdleDisconnectSeconds = entry->idle;
  rasEntry->dwRedialCount = entry->redial;
  rasEntry->dwRedialPause = entry->redialPause;
  rasEntry->dwfOptions = entry->options;
  copyText(rasEntry->szLocalPhoneNumber, entry->phone);
  copyText(rasEntry->szDeviceType, entry->deviceType);
  copyText(rasEntry->szDeviceName, entry->deviceName);
  *entrySize = sizeof(RASENTRYW);
  return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) DWORD WINAPI RasSetEntryPropertiesW(LPCWSTR phonebook, LPCWSTR entryName, LPRASENTRYW rasEntry,
                                               DWORD entrySize, LPBYTE deviceInfo, DWORD deviceInfoSize) {
  (void)deviceInfo;
  (void)deviceInfoSize;
  noteQuery(entryName);
  if (phonebook != nullptr) return ERROR_CANNOT_OPEN_PHONEBOOK;
  if (entryName == nullptr || entryName[0] == L'\0') return ERROR_INVALID_NAME;
  if (rasEntry == nullptr) return ERROR_INVALID_PARAMETER;
  if (entrySize < sizeof(RASENTRYW) || rasEntry->dwSize != sizeof(RASENTRYW)) return ERROR_INVALID_SIZE;
  std::vector<Entry> entries;
  if (!load(entries)) return ERROR_CANNOT_OPEN_PHONEBOOK;
  Entry* entry = find(entries, entryName);
  if (entry == nullptr) {
    entries.emplace_back();
    entry = &entries.back();
    entry->name = entryName;
  }
  entry->idle = rasEntry->dwIdleDisconnectSeconds;
  entry->redial = rasEntry->dwRedialCount;
  entry->redialPause = rasEntry->dwRedialPause;
  entry->options = rasEntry->dwfOptions;
  entry->phone = rasEntry->szLocalPhoneNumber;
  entry->deviceType = rasEntry->szDeviceType;
  entry->deviceName = rasEntry->szDeviceName;
  return save(entries) ? ERROR_SUCCESS : ERROR_CANNOT_WRITE_PHONEBOOK;
}
