#include "runtime/carried_runtime.h"

#include <zlib.h>

#include <cstdio>
#include <vector>

#include "dialogs.h"
#include "errors.h"
#include "handles.h"
#include "launch_flags.h"
#include "launch_sequence.h"
#include "log.h"
#include "media/launcher_config.h"
#include "media/paths.h"
#include "runtime/pack200_archives.h"
#include "runtime/tar_archive.h"
#include "runtime/vm_library.h"

namespace {

constexpr DWORD kProgressIntervalMs = 200;
// zlib's default 8 KiB input buffer costs a read call per few KiB of a runtime-sized archive.
constexpr unsigned kGzipBufferSize = 256 * 1024;

class GzipInput : public TarInput {
 public:
  explicit GzipInput(gzFile file) : file_(file) {}
  int read(void* dst, unsigned n) override {
    int got = gzread(file_, dst, n);
    if (got > 0) return got;
    // A stream cut short reads as a plain end; only the error state tells them apart.
    int error = Z_OK;
    gzerror(file_, &error);
    return got < 0 || error != Z_OK ? -1 : 0;
  }

 private:
  gzFile file_;
};

// Writes entries relative to the current directory, which untarGzArchive has made the target.
class DirectoryOutput : public TarOutput {
 public:
  DirectoryOutput(HWND window, uint64_t total) : window_(window), total_(total) {}
  void info(const std::string& line) override { logInfo("%s", line.c_str()); }
  void error(const std::string& line) override { logError("%s", line.c_str()); }
  void createDirectory(const std::string& path) override { CreateDirectoryA(path.c_str(), nullptr); }
  bool openFile(const std::string& path) override {
    file_.h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!file_.valid()) {
      std::string message = "Could not open file " + path + "\n";
      logError("%s", message.c_str());
      fatalError(message.c_str());
    }
    path_ = path;
    return true;
  }
  bool writeFile(const void* data, std::size_t n) override {
    DWORD written = 0;
    return WriteFile(file_.h, data, static_cast<DWORD>(n), &written, nullptr) && written == n;
  }
  bool closeFile(bool keep) override {
    bool closed = CloseHandle(file_.h) != 0;
    file_.h = INVALID_HANDLE_VALUE;
    if (!keep) DeleteFileA(path_.c_str());
    return closed;
  }
  void progress(uint64_t bytesRead, bool entryStart) override {
    if (!window_) return;
    DWORD now = GetTickCount();
    if (!entryStart && now - lastShown_ < kProgressIntervalMs) return;
    lastShown_ = now;
    setProgressPosition(window_, untarProgressPosition(bytesRead, total_));
  }

 private:
  HWND window_;
  uint64_t total_;
  DWORD lastShown_ = GetTickCount();
  FileHandle file_;
  std::string path_;
};

std::string currentDirectory() {
  char buffer[8192] = "";
  DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

void startPackProgress(HWND window) {
  HANDLE thread = CreateThread(nullptr, 0, advancePackProgress, window, CREATE_SUSPENDED, nullptr);
  if (!thread) return;
  SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
  ResumeThread(thread);
  CloseHandle(thread);
}

}  // namespace

bool untarGzArchive(const std::string& archivePath, const std::string& targetDir, HWND progressWindow,
                    uint64_t totalSize) {
  std::string previous = currentDirectory();
  gzFile file = gzopen(archivePath.c_str(), "rb");
  if (!file) {
    logError("Could not open gz-file");
    return false;
  }
  gzbuffer(file, kGzipBufferSize);
  bool result = false;
  // Entry paths are relative: with the target current, a refused change must not leave them
  // to land in whatever directory happens to be current.
  if (previous.empty() || !SetCurrentDirectoryA(targetDir.c_str())) {
    logError("Could not change working dir to %s", targetDir.c_str());
  } else {
    GzipInput input(file);
    DirectoryOutput output(progressWindow, totalSize);
    result = untarStream(input, output);
    SetCurrentDirectoryA(previous.c_str());
  }
  gzclose(file);
  if (result) {
    // The bar shows the start of each file; the end of the last one is the end of the range.
    setProgressPosition(progressWindow, 200);
    logInfo("untaring JRE was successful");
  } else {
    logError("untaring JRE was unsuccessful");
  }
  return result;
}

void prepareCarriedRuntime(HWND progressWindow) {
  DWORD start = GetTickCount();
  logInfo("extracting JRE");
  if (!CreateDirectoryA("jre", nullptr)) logError("Could not create JRE dir");
  int totalSize = getConfigInt(151);
  if (!untarGzArchive("jre.tar.gz", "jre", progressWindow, totalSize > 0 ? uint64_t(totalSize) : 0)) {
    logError("Could not untar JRE");
    fatalError("The bundled JRE is corrupted. If you downloaded the setup file please download it again.");
  }
  if (!DeleteFileA("jre.tar.gz")) logError("Could not delete jre.tar.gz");
  g_flags.untarMillis = static_cast<int>(GetTickCount() - start);
  if (getConfigInt(153) != 0) {
    logInfo("JRE is packed");
    if (progressWindow) startPackProgress(progressWindow);
    std::string home = fullPathName("jre");
    prepareRuntime(home);
    prepareRuntime(home + "\\jre");
    g_flags.packDone = true;
  }
  loadCarriedRuntime();
}

void loadCarriedRuntime() {
  std::string home = fullPathName("jre");
  logInfo("JRE dir: %s", home.c_str());
  if (LoadDLL(false, home.c_str(), false)) return;
  logError("Could not load bundled JRE. Trying to find another JRE.");
  if (LoadDLL(false, nullptr, false)) return;
  logError("Could not find another JRE.");
  fatalError("Could not use bundled JRE. Please send this log file to your software vendor:");
}

void prepareRuntime(const std::string& home) {
  if (!pathExists((home + "\\lib\\rt.jar.pack").c_str()) || pathExists((home + "\\lib\\jsse.jar").c_str())) return;
  logInfo("Unpacking JRE");
  std::fputs("Preparing JRE ...\n", stdout);
  std::fflush(stdout);
  for (const char* archive : kPackedArchives) unpackArchive(home, archive);
  logInfo("Unpacking JRE done");
}

void unpackArchive(const std::string& home, const std::string& jarPath) {
  runUnpack200(home, home + "\\" + jarPath + ".pack");
}

void runUnpack200(const std::string& home, const std::string& packPath) {
  std::string target = unpackTargetPath(packPath);
  if (target.empty() || !pathExists(packPath.c_str())) {
    logInfo("pack path doesn't exists");
    return;
  }
  // No runtime was loaded (the download was cancelled): the launch fails later, with its own message.
  if (home.empty()) {
    logError("No JRE to unpack %s with", packPath.c_str());
    return;
  }
  std::string program = home + "\\bin\\unpack200.exe";
  std::string commandLine = unpack200CommandLine(program, packPath, target);
  logInfo("%s", program.c_str());
  logInfo("%s", commandLine.c_str());
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info = {};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                      &startup, &info)) {
    logInfo("could not create unpack process");
    fatalConfigError(1009, "20");
  }
  KernelHandle process(info.hProcess);
  KernelHandle thread(info.hThread);
  logInfo("waiting for unpack200 to finish");
  WaitForSingleObject(process.h, INFINITE);
  logInfo("unpack done");
  DWORD exitCode = 0;
  if (GetExitCodeProcess(process.h, &exitCode) && exitCode != 0) {
    // unpack200 leaves a partial archive behind when it fails; "lib\jsse.jar" would then mark
    // a broken runtime as prepared.
    logError("unpack200 exited with code %lu; removing %s", static_cast<unsigned long>(exitCode), target.c_str());
    DeleteFileA(target.c_str());
  }
}
