#include "media/extraction.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "base/errors.h"
#include "base/handles.h"
#include "base/log.h"
#include "base/paths.h"
#include "config/configured_messages.h"
#include "config/launcher_config.h"
#include "launch_end.h"
#include "media/config_loader.h"
#include "media/media_file.h"

namespace {

constexpr DWORD kCopyBlockSize = 1 << 20;

std::string windowsDirectory() {
  char dir[MAX_PATH] = "";
  UINT n = GetWindowsDirectoryA(dir, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(dir, n) : std::string("c:\\windows");
}

std::string environment(const char* name) {
  char value[8192];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// Removes the mask in place, eight bytes at a time.
void unmaskBytes(unsigned char* bytes, DWORD size) {
  constexpr uint64_t mask8 = 0x0101010101010101ull * kIncludedFileMask;
  DWORD i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    word ^= mask8;
    std::memcpy(bytes + i, &word, 8);
  }
  for (; i < size; ++i) bytes[i] ^= kIncludedFileMask;
}

// A DACL that lets only the launcher's user in, inherited by everything created below: the
// folder may lie in a shared fallback location (%windir%\temp, c:\temp), and it is in the DLL
// search and unpack200.exe runs from it.
class OwnerOnlySecurity {
 public:
  OwnerOnlySecurity() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user_.resize(size);
    bool gotUser = size > 0 && GetTokenInformation(token, TokenUser, user_.data(), size, &size);
    CloseHandle(token);
    if (!gotUser) return;
    PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    ready_ = InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
             AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, GENERIC_ALL, sid) &&
             InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
             SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
             SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
  }
  OwnerOnlySecurity(const OwnerOnlySecurity&) = delete;
  OwnerOnlySecurity& operator=(const OwnerOnlySecurity&) = delete;
  // Null when the user's identity could not be read: the folder then gets the default DACL.
  SECURITY_ATTRIBUTES* attributes() { return ready_ ? &attributes_ : nullptr; }

 private:
  std::vector<unsigned char> user_;
  std::vector<unsigned char> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ready_ = false;
};

// The unique temporary file's name; `created` tells whether the system made the file.
std::string makeTempFileName(bool& created) {
  std::string path = chooseTempPath();
  logInfo("tempPath is %s", path.c_str());
  char name[MAX_PATH + 16] = "";
  std::string result;
  created = GetTempFileNameA(path.c_str(), "nbo", 0, name) != 0;
  if (created) {
    result = name;
  } else {
    logInfo("GetTempFileName failed (last error %lu)", GetLastError());
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    result = joinPath(path, "nbo" + std::to_string(std::rand()));
  }
  logInfo("tempFile is %s", result.c_str());
  return result;
}

}  // namespace

bool probeWritableDirectory(const std::string& directory) {
  std::string probe = directory + "\\nbo_w_testdir";
  RemoveDirectoryA(probe.c_str());
  if (!CreateDirectoryA(probe.c_str(), nullptr)) return false;
  bool exists = pathExists(probe.c_str());
  RemoveDirectoryA(probe.c_str());
  return exists;
}

std::string chooseTempPath() {
  char buffer[8192] = "";
  DWORD n = GetTempPathA(sizeof buffer, buffer);
  logInfo("GetTempPath returned %lu (last error %lu)", n, GetLastError());
  std::string path = n < sizeof buffer ? std::string(buffer, n) : std::string();
  if (path.empty()) {
    path = environment("HOMEDRIVE") + environment("HOMEPATH");
    logInfo("No temp dir defined. Using home %s", path.c_str());
  } else {
    BOOL made = CreateDirectoryA(path.c_str(), nullptr);
    logInfo("make dir returned %d", made);
  }
  // A path the ANSI code page cannot spell cannot be handed to the file functions.
  if (longPathOrSame(path).find('?') == std::string::npos) return path;

  std::string windows = windowsDirectory();
  for (const std::string& candidate : {windows + "\\temp", std::string("c:\\temp"), std::string("c:\\tmp"), windows}) {
    if (probeWritableDirectory(candidate)) return candidate;
  }
  if (probeWritableDirectory("c:\\")) {
    std::string tmp = "c:\\tmp";
    CreateDirectoryA(tmp.c_str(), nullptr);
    if (probeWritableDirectory(tmp)) return tmp;
  }
  fatalConfigError(entry::kPowerUserText);
}

std::string makeTempFileName() {
  bool created = false;
  return makeTempFileName(created);
}

std::string createTempDirectory() {
  OwnerOnlySecurity security;
  for (int attempt = 0; attempt < 5; ++attempt) {
    bool created = false;
    std::string file = makeTempFileName(created);
    std::string folder = file + "_dir";
    logInfo("Temp dir: %s", folder.c_str());
    // Only a folder made here is used: one that exists already (another user's, in a shared
    // location) fails and the next name is tried.
    if (CreateDirectoryA(folder.c_str(), security.attributes())) {
      // The folder keeps the name taken; the empty file would stay behind for good, one per
      // start, until the system's 65,536 names ran out.
      if (created) DeleteFileA(file.c_str());
      armExtractionRemoval(folder);
      return folder;
    }
    // The file of a name whose folder belongs to someone else stays, so that no later start
    // is handed the name again.
    logInfo("Could not create dir (%lu)", GetLastError());
  }
  fatalInternalError(InternalError::TempDirNotCreated);
}

std::string makeProcessCommFileName(DWORD processId) {
  // The temp path ends in a backslash only when the system supplied it, not for the home
  // directory or the fallback candidates.
  return joinPath(chooseTempPath(), "nbo_p" + std::to_string(processId) + ".tmp");
}

int copyMaskedData(HANDLE media, HANDLE output, int64_t count, bool unmask) {
  // On the heap: large blocks keep the number of system calls (each a round trip through Wine)
  // low. One buffer per call, so that no static destructor can free it under a running copy.
  std::vector<unsigned char> buffer(kCopyBlockSize);
  unsigned char* block = buffer.data();
  int64_t copied = 0;
  while (copied < count) {
    DWORD want = static_cast<DWORD>(count - copied < kCopyBlockSize ? count - copied : kCopyBlockSize);
    DWORD got = 0;
    if (!ReadFile(media, block, want, &got, nullptr) || got == 0) {
      logInfo("ReadFile failed %lu %lu %lld", GetLastError(), got, static_cast<long long>(copied));
      return kExtractReadFailed;
    }
    if (unmask) unmaskBytes(block, got);
    DWORD written = 0;
    while (written < got) {
      DWORD now = 0;
      if (!WriteFile(output, block + written, got - written, &now, nullptr) || now == 0) {
        logInfo("WriteFile failed %lu %lu", got - written, GetLastError());
        return kExtractWriteFailed;
      }
      written += now;
    }
    copied += got;
  }
  return kExtractOk;
}

void emptyDirectory(const std::string& directory) {
  if (directory.empty() || directory[0] == '.') return;
  logInfo("emptying %s", directory.c_str());
  std::string base = directory.back() == '\\' ? directory : directory + "\\";
  WIN32_FIND_DATAA data;
  SearchHandle search(FindFirstFileA((base + "*.*").c_str(), &data));
  if (!search.valid()) return;
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    std::string path = base + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // What the extraction created below; a link to elsewhere is removed, never followed.
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) emptyDirectory(path);
      logInfo("attempting to remove %s", path.c_str());
      RemoveDirectoryA(path.c_str());
    } else {
      logInfo("attempting to delete %s", path.c_str());
      DeleteFileA(path.c_str());
    }
  } while (FindNextFileA(search.h, &data));
}

namespace {
int failExtraction(const std::string& folder, const std::string& path, int result) {
  logInfo("Failed to extract %s", path.c_str());
  emptyDirectory(folder);
  // The launch sequence made the directory current, and the current directory cannot be removed.
  std::string parent = directoryPart(folder);
  if (!parent.empty()) SetCurrentDirectoryA(parent.c_str());
  RemoveDirectoryA(folder.c_str());
  return result;
}
}  // namespace

int extractIncludedFiles(LaunchState& state) {
  logInfo("extracting files");
  int count = config::includedFileCount();
  logInfo("Included files: %d", count);
  if (count == 0) return kExtractOk;
  const std::string& folder = state.extractionFolder;

  FileHandle media = openMediaFile();
  MediaFileSource source(media.h);
  uint64_t at = static_cast<uint64_t>(state.configEnd);
  for (const std::string& name : includedFileList(config::includedFileNames(), count)) {
    std::string path = folder + "\\" + name;
    // A name that would leave the temporary directory is treated as damaged data.
    if (!isContainedFileName(name)) return failExtraction(folder, path, kExtractReadFailed);
    std::size_t slash = name.find('\\');
    if (slash != std::string::npos) {
      std::string subdirectory = folder + "\\" + name.substr(0, slash);
      logInfo("creating directory %s", subdirectory.c_str());
      if (!CreateDirectoryA(subdirectory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        logInfo("failed to create directory %s", subdirectory.c_str());
      }
    }
    // Between files, with none of the folder's held open: a Cancel removes the folder.
    stopIfLauncherEnding();
    FileTableEntry file = readOrEnd([&] { return readFileTableEntry(source, at); });
    logInfo("extracting %s (size: %lld)", path.c_str(), static_cast<long long>(file.size));
    at = file.end;
    if (file.size <= 0) continue;
    FileHandle output(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output.valid()) fatalInternalError(InternalError::ExtractedFileNotCreated);
    // A size running past the end of the file is found by the copy, which stops at the end.
    seekMediaFile(media.h, static_cast<int64_t>(file.dataOffset));
    int result = copyMaskedData(media.h, output.h, file.size, true);
    output.close();
    if (result != kExtractOk) return failExtraction(folder, path, result);
  }
  state.unextractedPosition = static_cast<int64_t>(at);
  media.close();
  logInfo("extracting files done");
  return kExtractOk;
}
