#include "runtime/carried_runtime.h"

#include <fcntl.h>
#include <io.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/errors.h"
#include "base/handles.h"
#include "base/launch_flags.h"
#include "base/log.h"
#include "base/paths.h"
#include "config/configured_messages.h"
#include "config/launcher_config.h"
#include "dialogs.h"
#include "launch_end.h"
#include "process/child_processes.h"
#include "runtime/pack200_archives.h"
#include "runtime/tar_archive.h"

namespace {

constexpr DWORD kProgressIntervalMs = 200;
constexpr DWORD kUnpackTimeLimitMs = 10 * 60 * 1000;
constexpr unsigned kMaxUnpackProcesses = 4;
// While the untar goes on it asks after its unpack200 processes at most this often: each look
// is a call into the system, and the untar asks for every block it writes.
constexpr DWORD kLookIntervalMs = 10;
constexpr const char* kCorrupted =
    "The bundled JRE is corrupted. If you downloaded the setup file please download it again.";
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

// Writes entries below the target directory, by full path.
// With unpacking, each file written is reported to it, so that its archives start while the
// untar goes on.
class DirectoryOutput : public TarOutput {
 public:
  DirectoryOutput(HWND window, uint64_t total, const std::string& root, Unpack200Processes* unpacking)
      : window_(window), total_(total), root_(root), unpacking_(unpacking) {}
  void info(const std::string& line) override { logInfo("%s", line.c_str()); }
  void error(const std::string& line) override { logError("%s", line.c_str()); }
  void createDirectory(const std::string& path) override {
    std::string full = root_ + "\\" + path;
    if (CreateDirectoryA(full.c_str(), nullptr) && unpacking_) unpacking_->written(full);
  }
  bool openFile(const std::string& path) override {
    // The launcher is ending and removes the folder: the untar ends here, with nothing held open.
    if (launcherEndingElsewhere()) return false;
    std::string full = root_ + "\\" + path;
    if (unpacking_ && !unpacking_->mayWrite(full)) {
      logError("refusing entry %s: its archive is being unpacked", path.c_str());
      return false;
    }
    file_.h = CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!file_.valid()) {
      std::string message = "Could not open file " + path + "\n";
      logError("%s", message.c_str());
      if (unpacking_) unpacking_->endAll();
      fatalError(message.c_str());
    }
    path_ = full;
    return true;
  }
  bool writeFile(const void* data, std::size_t n) override {
    if (launcherEndingElsewhere()) return false;
    DWORD written = 0;
    return WriteFile(file_.h, data, static_cast<DWORD>(n), &written, nullptr) && written == n;
  }
  bool closeFile(bool keep) override {
    bool closed = CloseHandle(file_.h) != 0;
    file_.h = INVALID_HANDLE_VALUE;
    if (!keep) DeleteFileA(path_.c_str());
    if (keep && closed && unpacking_) {
      unpacking_->written(path_);
      unpacking_->advance(0);
    }
    return closed;
  }
  void progress(uint64_t bytesRead, bool entryStart) override {
    if (unpacking_) unpacking_->advance(0);
    if (!window_) return;
    DWORD now = GetTickCount();
    if (!entryStart && now - lastShown_ < kProgressIntervalMs) return;
    lastShown_ = now;
    setProgressPosition(window_, untarProgressPosition(bytesRead, total_));
  }

 private:
  HWND window_;
  uint64_t total_;
  std::string root_;
  Unpack200Processes* unpacking_;
  DWORD lastShown_ = GetTickCount();
  FileHandle file_;
  std::string path_;
};

// zlib opens through the C runtime, whose handles children inherit: an unpack200 started during
// the untar would keep the archive open, and it could not be deleted afterwards.
gzFile openGzipUninherited(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
  if (descriptor == -1) {
    CloseHandle(file);
    return nullptr;
  }
  gzFile gz = gzdopen(descriptor, "rb");
  if (!gz) _close(descriptor);
  return gz;
}

// Once every archive of a runtime is in place (its marker last), the ".pack" files of its list
// go, the sign that it is packed ("lib\rt.jar.pack") last.
void removeRuntimePacks(const std::string& home) {
  for (std::size_t i = kPackedArchives.size(); i-- > 0;) {
    DeleteFileA((home + "\\" + kPackedArchives[i] + ".pack").c_str());
  }
}

// The log lines of a preparation, as the one-after-another order wrote them.
class LoggedPlanOutput : public UnpackPlanOutput {
 public:
  void homeStarted(const std::string&) override {
    logInfo("Unpacking JRE");
    std::fputs("Preparing JRE ...\n", stdout);
    std::fflush(stdout);
  }
  void homeDone(const std::string& home) override {
    removeRuntimePacks(home);
    logInfo("Unpacking JRE done");
  }
  void packMissing(const std::string&) override { logInfo("pack path doesn't exists"); }
};

// A ".pack" file that is there to unpack.
bool packFileThere(const std::string& path) { return !unpackTargetPath(path).empty() && pathExists(path.c_str()); }

void logUnpacking(const IncludedPack& pack) {
  if (pack.name != pack.path) logInfo("unpacking %s", pack.name.c_str());
}

void startPackProgress(HWND window) {
  HANDLE thread = CreateThread(nullptr, 0, advancePackProgress, window, CREATE_SUSPENDED, nullptr);
  if (!thread) return;
  SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
  ResumeThread(thread);
  CloseHandle(thread);
}

}  // namespace

DWORD WINAPI advancePackProgress(LPVOID window) {
  HWND dialog = static_cast<HWND>(window);
  int position = 200;
  while (!g_flags.packDone.load()) {
    Sleep(static_cast<DWORD>(g_flags.untarMillis / 10));
    position += 10;
    setProgressPosition(dialog, position);
    if (position > 299 || g_flags.packDone.load()) break;
  }
  return 0;
}

bool untarGzArchive(const std::string& archivePath, const std::string& targetDir, HWND progressWindow,
                    uint64_t totalSize, Unpack200Processes* unpacking) {
  // Entries are written below the target by full path: without it they would have nowhere to go.
  DWORD attributes = GetFileAttributesA(targetDir.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    logError("No directory %s to untar into", targetDir.c_str());
    return false;
  }
  gzFile file = openGzipUninherited(archivePath);
  if (!file) {
    logError("Could not open gz-file");
    return false;
  }
  gzbuffer(file, kGzipBufferSize);
  GzipInput input(file);
  DirectoryOutput output(progressWindow, totalSize, makeAbsolutePath(targetDir, true), unpacking);
  bool result = untarStream(input, output);
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

void prepareCarriedRuntime(HWND progressWindow, const std::string& folder, std::vector<IncludedPack>& included) {
  DWORD start = GetTickCount();
  logInfo("extracting JRE");
  std::string home = folder + "\\jre";
  std::string archive = folder + "\\jre.tar.gz";
  if (!CreateDirectoryA(home.c_str(), nullptr)) logError("Could not create JRE dir");
  int totalSize = config::jreDownloadSize();
  bool packed = config::jrePacked() != 0;
  if (packed) logInfo("JRE is packed");
  // The runtime and then its embedded runtime; each archive unpacks as soon as the untar has
  // written it and its unpack200.exe.
  LoggedPlanOutput planOutput;
  UnpackPlan plan(unpackProcessLimit(), planOutput);
  std::vector<std::size_t> planned(included.size(), SIZE_MAX);
  if (packed) {
    plan.addRuntimeHome(home);
    plan.addRuntimeHome(home + "\\jre");
    for (std::size_t i = 0; i < included.size(); ++i) {
      if (!packFileThere(included[i].path)) continue;
      logUnpacking(included[i]);
      planned[i] = plan.jobCount();
      plan.addIncluded(0, included[i].path);
      plan.written(included[i].path);
    }
  }
  Unpack200Processes unpacking(plan);
  if (!untarGzArchive(archive, home, progressWindow, totalSize > 0 ? uint64_t(totalSize) : 0,
                      packed ? &unpacking : nullptr)) {
    unpacking.endAll();
    logError("Could not untar JRE");
    fatalError(kCorrupted);
  }
  if (!DeleteFileA(archive.c_str())) logError("Could not delete jre.tar.gz");
  g_flags.untarMillis = static_cast<int>(GetTickCount() - start);
  if (packed) {
    if (progressWindow) startPackProgress(progressWindow);
    if (!unpacking.runToEnd()) {
      logError("Could not unpack JRE");
      fatalError(kCorrupted);
    }
    g_flags.packDone = true;
  }
  std::vector<IncludedPack> rest;
  bool unpacked = false;
  for (std::size_t i = 0; i < included.size(); ++i) {
    if (planned[i] == SIZE_MAX || plan.job(planned[i]).state == UnpackJobState::Dropped) {
      rest.push_back(included[i]);
    } else {
      unpacked = true;
    }
  }
  if (unpacked) logInfo("Unpacking included files done");
  included = std::move(rest);
}

DWORD unpackTimeLimitMs() { return childWaitLimitMs("PATHMERE_UNPACK_LIMIT_MS", kUnpackTimeLimitMs); }

unsigned unpackProcessLimit() {
  SYSTEM_INFO info = {};
  GetSystemInfo(&info);
  return std::clamp<unsigned>(static_cast<unsigned>(info.dwNumberOfProcessors), 1, kMaxUnpackProcesses);
}

Unpack200Processes::~Unpack200Processes() { endAll(); }

void Unpack200Processes::written(const std::string& path) { plan_.written(path); }

bool Unpack200Processes::mayWrite(const std::string& path) const { return plan_.mayWrite(path); }

void Unpack200Processes::startReady() {
  while (std::optional<std::size_t> index = plan_.next()) start(*index);
}

void Unpack200Processes::start(std::size_t index) {
  const UnpackJob& job = plan_.job(index);
  std::string part = unpackPartPath(job.target);
  // A part left by a run that was ended would otherwise be written over only partly.
  DeleteFileA(part.c_str());
  std::string commandLine = unpack200CommandLine(job.program, job.packPath, part);
  logInfo("%s", job.program.c_str());
  logInfo("%s", commandLine.c_str());
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info = {};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  // unpack200 is a console program: without DETACHED_PROCESS each run gets a console of its own,
  // hidden, but a console host process all the same, started and torn down ten times in a
  // preparation. It prints only when it fails, and its exit code tells that.
  // Suspended until tracked: a Cancel in between would otherwise leave it running, writing and
  // deleting after the launcher has gone.
  if (!CreateProcessA(job.program.c_str(), line.data(), nullptr, nullptr, TRUE,
                      NORMAL_PRIORITY_CLASS | DETACHED_PROCESS | CREATE_SUSPENDED, nullptr, nullptr, &startup,
                      &info)) {
    logInfo("could not create unpack process");
    endAll();
    // The usual cause is a runtime shipped without its unpack200: a bare error code would not
    // tell the vendor what to add.
    if (!pathExists(job.program.c_str())) {
      logError("%s is missing", job.program.c_str());
      std::string text = "The Java runtime has no unpack200.exe, which is needed to unpack " + job.packPath +
                         ".\nMissing: " + job.program;
      fatalError(text.c_str());
    }
    fatalInternalError(InternalError::Unpack200NotStarted);
  }
  trackChildProcess(info.hProcess);
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  children_.push_back({index, info.hProcess, GetTickCount()});
  logInfo("waiting for unpack200 to finish");
}

void Unpack200Processes::collect(std::size_t slot, bool overdue) {
  Child child = children_[slot];
  children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(slot));
  const UnpackJob& job = plan_.job(child.job);
  DWORD exitCode = 0;
  if (overdue) {
    logError("unpack200 did not finish within %lu ms; ending it and removing %s",
             static_cast<unsigned long>(unpackTimeLimitMs()), unpackPartPath(job.target).c_str());
    TerminateProcess(child.process, 1);
    // Until it has gone it holds its output open.
    WaitForSingleObject(child.process, 5000);
  } else {
    logInfo("unpack done");
    GetExitCodeProcess(child.process, &exitCode);
  }
  untrackChildProcess(child.process);
  CloseHandle(child.process);
  if (childProcessesCancelled()) {
    // Ended by the launcher's end, not failed. The thread goes on to where it stops, which may
    // be inside the untar with its files open: it must not stop here.
    plan_.ended(child.job, false);
    return;
  }
  bool succeeded = !overdue && exitCode == 0;
  std::string part = unpackPartPath(job.target);
  if (!overdue && exitCode != 0) {
    // unpack200 leaves a partial archive behind when it fails.
    logError("unpack200 exited with code %lu; removing %s", static_cast<unsigned long>(exitCode), part.c_str());
  }
  if (succeeded && !MoveFileExA(part.c_str(), job.target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    logError("Could not rename %s to %s (error %lu)", part.c_str(), job.target.c_str(), GetLastError());
    succeeded = false;
  }
  if (!succeeded) {
    DeleteFileA(part.c_str());
  } else if (job.included) {
    DeleteFileA(job.packPath.c_str());
  }
  // A runtime's ".pack" files stay until all its archives are in place: "lib\rt.jar.pack" is
  // what tells a preparation that did not finish, and it is redone from there.
  plan_.ended(child.job, succeeded);
}

void Unpack200Processes::advance(DWORD waitMs) {
  startReady();
  if (waitMs == 0 && !children_.empty()) {
    DWORD now = GetTickCount();
    if (now - lastLook_ < kLookIntervalMs) return;
    lastLook_ = now;
  }
  while (!children_.empty()) {
    DWORD now = GetTickCount();
    DWORD limit = unpackTimeLimitMs();
    DWORD wait = waitMs;
    std::optional<std::size_t> overdue;
    std::vector<HANDLE> handles;
    for (std::size_t i = 0; i < children_.size() && !overdue; ++i) {
      DWORD elapsed = now - children_[i].started;
      // Looked at late, a child may have ended in time: only one still running is overdue.
      if (elapsed >= limit && WaitForSingleObject(children_[i].process, 0) == WAIT_TIMEOUT) overdue = i;
      wait = std::min(wait, limit - std::min(elapsed, limit));
      handles.push_back(children_[i].process);
    }
    std::optional<std::size_t> ended = overdue;
    if (!overdue) {
      DWORD result = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, wait);
      if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + handles.size()) {
        ended = result - WAIT_OBJECT_0;
      } else if (result != WAIT_TIMEOUT || wait >= waitMs) {
        // Nothing ended within the caller's wait (or the wait failed): come back later.
        return;
      }
    }
    if (!ended) continue;
    collect(*ended, overdue.has_value());
    if (plan_.failed()) endAll();
    startReady();
  }
}

bool Unpack200Processes::runToEnd() {
  plan_.writingEnded();
  while (!plan_.finished()) advance(INFINITE);
  return !plan_.failed();
}

void Unpack200Processes::endAll() {
  for (const Child& child : children_) TerminateProcess(child.process, 1);
  for (const Child& child : children_) {
    WaitForSingleObject(child.process, 5000);
    untrackChildProcess(child.process);
    CloseHandle(child.process);
    const UnpackJob& job = plan_.job(child.job);
    std::string part = unpackPartPath(job.target);
    logError("ended unpack200 of %s; removing %s", job.packPath.c_str(), part.c_str());
    DeleteFileA(part.c_str());
    plan_.ended(child.job, false);
  }
  children_.clear();
}

bool prepareRuntime(const std::string& home) {
  if (!pathExists((home + "\\lib\\rt.jar.pack").c_str()) || pathExists((home + "\\lib\\jsse.jar").c_str())) return true;
  LoggedPlanOutput output;
  UnpackPlan plan(unpackProcessLimit(), output);
  plan.addRuntimeHome(home);
  for (const std::string& path : plan.watchedPaths()) {
    if (pathExists(path.c_str())) plan.written(path);
  }
  Unpack200Processes unpacking(plan);
  if (unpacking.runToEnd()) return true;
  logError("Could not unpack the JRE in %s", home.c_str());
  return false;
}

bool unpackArchive(const std::string& home, const std::string& jarPath) {
  return runUnpack200(home, home + "\\" + jarPath + ".pack");
}

bool runUnpack200(const std::string& home, const std::string& packPath) {
  return unpackIncludedFiles(home, {{packPath, packPath}}).front();
}

std::vector<bool> unpackIncludedFiles(const std::string& home, const std::vector<IncludedPack>& packs) {
  LoggedPlanOutput output;
  UnpackPlan plan(unpackProcessLimit(), output);
  std::vector<bool> results(packs.size(), true);
  std::vector<std::size_t> planned(packs.size(), SIZE_MAX);
  for (std::size_t i = 0; i < packs.size(); ++i) {
    const std::string& packPath = packs[i].path;
    logUnpacking(packs[i]);
    if (!packFileThere(packPath)) {
      logInfo("pack path doesn't exists");
      continue;
    }
    // No runtime was loaded (the download was cancelled): the launch fails later, with its own message.
    if (home.empty()) {
      logError("No JRE to unpack %s with", packPath.c_str());
      results[i] = false;
      continue;
    }
    planned[i] = plan.jobCount();
    plan.addIncluded(home + "\\bin\\unpack200.exe", packPath);
    plan.written(packPath);
  }
  Unpack200Processes unpacking(plan);
  unpacking.runToEnd();
  if (plan.jobCount() > 0) logInfo("Unpacking included files done");
  for (std::size_t i = 0; i < packs.size(); ++i) {
    if (planned[i] != SIZE_MAX) results[i] = plan.job(planned[i]).state == UnpackJobState::Succeeded;
  }
  return results;
}
