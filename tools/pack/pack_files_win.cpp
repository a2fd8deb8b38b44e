#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pack/pack_files.h"

namespace {

thread_local std::string lastError;

void noteError(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message;
  if (n > 0) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    message.resize(static_cast<std::size_t>(size));
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), message.data(), size, nullptr, nullptr);
  }
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) message.pop_back();
  lastError = message.empty() ? "error " + std::to_string(code) : message;
}

bool failed() {
  noteError(GetLastError());
  return false;
}

std::wstring wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), n);
  return text;
}

std::string utf8(const wchar_t* text, std::size_t length) {
  if (length == 0) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

uint64_t joined(DWORD high, DWORD low) { return (uint64_t(high) << 32) | low; }

// FILETIME counts 100 ns from 1601; the tool's times are whole seconds from 1970, rounded down
// as the POSIX st_mtime is.
int64_t unixSeconds(const FILETIME& time) {
  int64_t ticks = static_cast<int64_t>(joined(time.dwHighDateTime, time.dwLowDateTime)) - 116444736000000000LL;
  return ticks >= 0 ? ticks / 10000000 : -((-ticks + 9999999) / 10000000);
}

PathStatus statusFrom(DWORD attributes, const FILETIME& modified, uint64_t size) {
  PathStatus status;
  status.exists = true;
  status.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  status.directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status.regular = !status.directory && (attributes & FILE_ATTRIBUTE_DEVICE) == 0;
  status.size = status.regular ? size : 0;
  status.modified = unixSeconds(modified);
  return status;
}

HANDLE asHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
constexpr intptr_t kNoHandle = -1;

// ReadFile and WriteFile take at most a DWORD at once.
DWORD chunk(std::size_t n) { return static_cast<DWORD>(n < 0x40000000u ? n : 0x40000000u); }

OVERLAPPED overlappedAt(uint64_t pos) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(pos);
  where.OffsetHigh = static_cast<DWORD>(pos >> 32);
  return where;
}

}  // namespace

std::string systemErrorText() { return lastError; }

PathStatus pathStatus(const std::string& path) {
  HANDLE file = CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    noteError(GetLastError());
    return PathStatus();
  }
  BY_HANDLE_FILE_INFORMATION info;
  bool ok = GetFileInformationByHandle(file, &info);
  if (!ok) noteError(GetLastError());
  CloseHandle(file);
  if (!ok) return PathStatus();
  PathStatus status = statusFrom(info.dwFileAttributes & ~FILE_ATTRIBUTE_REPARSE_POINT, info.ftLastWriteTime,
                                 joined(info.nFileSizeHigh, info.nFileSizeLow));
  return status;
}

PathStatus linkStatus(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data)) {
    noteError(GetLastError());
    return PathStatus();
  }
  PathStatus status = statusFrom(data.dwFileAttributes, data.ftLastWriteTime, joined(data.nFileSizeHigh, data.nFileSizeLow));
  if (status.link) status.directory = status.regular = false;
  return status;
}

bool listDirectory(const std::string& path, std::vector<std::string>& names) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(wide(path + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return failed();
  do {
    std::string name = utf8(found.cFileName, wcslen(found.cFileName));
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  DWORD end = GetLastError();
  FindClose(search);
  if (end != ERROR_NO_MORE_FILES) {
    noteError(end);
    return false;
  }
  return true;
}

bool createDirectory(const std::string& path) {
  if (CreateDirectoryW(wide(path).c_str(), nullptr)) return true;
  DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS) return true;
  noteError(error);
  return false;
}

bool removeFile(const std::string& path) { return DeleteFileW(wide(path).c_str()) || failed(); }

bool replaceFile(const std::string& from, const std::string& to) {
  return MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) || failed();
}

bool toolFolder(std::string& folder) {
  std::wstring path(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (n == 0 || n >= path.size()) return failed();
  path.resize(n);
  std::size_t slash = path.find_last_of(L"\\/");
  folder = utf8(path.data(), slash == std::wstring::npos ? 0 : slash);
  return true;
}

std::vector<std::string> commandArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!words) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(utf8(words[i], wcslen(words[i])));
  LocalFree(words);
  return arguments;
}

void useBinaryStandardStreams() {
  std::fflush(stdout);
  std::fflush(stderr);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

gzFile openGzip(const std::string& path, const char* mode) {
  gzFile file = gzopen_w(wide(path).c_str(), mode);
  if (!file) lastError = std::strerror(errno);
  return file;
}

InputFile::~InputFile() {
  if (handle_ != kNoHandle) CloseHandle(asHandle(handle_));
}

bool InputFile::open(const std::string& path) {
  HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return failed();
  handle_ = reinterpret_cast<intptr_t>(file);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return failed();
  status_ = statusFrom(info.dwFileAttributes & ~FILE_ATTRIBUTE_REPARSE_POINT, info.ftLastWriteTime,
                       joined(info.nFileSizeHigh, info.nFileSizeLow));
  volume_ = info.dwVolumeSerialNumber;
  index_ = joined(info.nFileIndexHigh, info.nFileIndexLow);
  return true;
}

bool InputFile::readAt(uint64_t pos, void* dst, std::size_t n) {
  auto* out = static_cast<uint8_t*>(dst);
  while (n > 0) {
    OVERLAPPED where = overlappedAt(pos);
    DWORD got = 0;
    if (!ReadFile(asHandle(handle_), out, chunk(n), &got, &where)) return failed();
    if (got == 0) return false;
    out += got;
    pos += got;
    n -= got;
  }
  return true;
}

long long InputFile::read(void* dst, std::size_t n) {
  OVERLAPPED where = overlappedAt(position_);
  DWORD got = 0;
  if (!ReadFile(asHandle(handle_), dst, chunk(n), &got, &where)) {
    DWORD error = GetLastError();
    if (error == ERROR_HANDLE_EOF) return 0;
    noteError(error);
    return -1;
  }
  position_ += got;
  return got;
}

bool InputFile::sameFileAs(const std::string& path) const {
  HANDLE file = CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool same = GetFileInformationByHandle(file, &info) && info.dwVolumeSerialNumber == volume_ &&
              joined(info.nFileIndexHigh, info.nFileIndexLow) == index_;
  CloseHandle(file);
  return same;
}

OutputFile::~OutputFile() {
  if (handle_ != kNoHandle) CloseHandle(asHandle(handle_));
}

bool OutputFile::createUnique(const std::string& prefix, std::string& path) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  LARGE_INTEGER seed;
  QueryPerformanceCounter(&seed);
  uint64_t state = static_cast<uint64_t>(seed.QuadPart) ^ (uint64_t(GetCurrentProcessId()) << 32);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix;
    for (int i = 0; i < 6; ++i) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      name.push_back(kLetters[(state >> 33) % (sizeof kLetters - 1)]);
    }
    HANDLE file = CreateFileW(wide(name).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<intptr_t>(file);
      path = name;
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return failed();
  }
  return failed();
}

bool OutputFile::create(const std::string& path) {
  // A link in the file's place would send the bytes elsewhere.
  DWORD attributes = GetFileAttributesW(wide(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    noteError(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return failed();
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

bool OutputFile::write(const void* data, std::size_t n) {
  if (!writeAt(position_, data, n)) return false;
  position_ += n;
  return true;
}

bool OutputFile::writeAt(uint64_t pos, const void* data, std::size_t n) {
  const auto* in = static_cast<const uint8_t*>(data);
  while (n > 0) {
    OVERLAPPED where = overlappedAt(pos);
    DWORD put = 0;
    if (!WriteFile(asHandle(handle_), in, chunk(n), &put, &where)) return failed();
    if (put == 0) return false;
    in += put;
    pos += put;
    n -= put;
  }
  return true;
}

bool OutputFile::sync(uint32_t) { return FlushFileBuffers(asHandle(handle_)) || failed(); }

bool OutputFile::close() {
  HANDLE file = asHandle(handle_);
  handle_ = kNoHandle;
  return CloseHandle(file) || failed();
}
