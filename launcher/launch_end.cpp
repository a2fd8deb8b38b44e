#include "launch_end.h"

#include <windows.h>

#include <atomic>
#include <mutex>

#include "base/log.h"
#include "base/path_text.h"
#include "base/paths.h"
#include "process/child_processes.h"

namespace {

enum class FolderState { Launching, HandedOver, Ending };

// The folder's state and the thread that ends the launcher change together: a sequence thread
// that hands the folder over and a thread that ends the launcher must not both win.
std::mutex g_endMutex;
FolderState g_state = FolderState::Launching;
std::string g_folder;
DWORD g_endingThread = 0;
// The ending thread has begun removing the folder: an end reached again on its way is not redone.
bool g_removing = false;
// Set with g_state's Ending: the checks in the copy loops look at it without the lock.
std::atomic<bool> g_ending{false};

// Written once by the sequence thread before any other thread can end the launcher.
DWORD g_sequenceThread = 0;
// Signalled when the sequence thread has stopped for good at the launcher's end.
const HANDLE g_sequenceStopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);

// How long the ending thread waits for the sequence thread to reach a point where it stops: the
// longest step between two such points is the copy of one included file.
constexpr DWORD kSequenceStopWaitMs = 10000;
// How long files still held (by a child that was just ended) are waited for.
constexpr DWORD kRemovalRetryMs = 3000;

}  // namespace

bool launcherEndingElsewhere() {
  if (!g_ending.load()) return false;
  std::lock_guard<std::mutex> lock(g_endMutex);
  return g_state == FolderState::Ending && g_endingThread != GetCurrentThreadId();
}

namespace {

// Waits for the sequence thread to stop, answering the messages it sends to the progress dialog
// meanwhile (the ending thread may be that dialog's), or both would wait.
bool waitForSequenceStop(DWORD waitMs) { return waitAnsweringSentMessages(g_sequenceStopped, waitMs); }

bool folderExists(const std::string& folder) {
  DWORD attributes = GetFileAttributesA(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// One pass over the tree; what is still held stays for the next pass.
void deleteTreeOnce(const std::string& folder) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = folder + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesA(path.c_str(), data.dwFileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
      }
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A link to elsewhere is removed, never followed.
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) deleteTreeOnce(path);
        RemoveDirectoryA(path.c_str());
      } else {
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(search, &data));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}

// The current directory cannot be removed: the process leaves it for the folder's parent.
void leaveFolder(const std::string& folder) {
  std::string here = currentDirectory();
  if (here.empty()) return;
  if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, here.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                     static_cast<int>(folder.size())) != CSTR_EQUAL ||
      (here.size() > folder.size() && here[folder.size()] != '\\')) {
    return;
  }
  std::string parent = directoryPart(folder);
  if (!parent.empty()) SetCurrentDirectoryA(parent.c_str());
}

}  // namespace

void registerSequenceThread() { g_sequenceThread = GetCurrentThreadId(); }

void armExtractionRemoval(const std::string& folder) {
  {
    std::lock_guard<std::mutex> lock(g_endMutex);
    g_folder = folder;
  }
  stopIfLauncherEnding();
}

bool handExtractionToJavaProgram() {
  std::lock_guard<std::mutex> lock(g_endMutex);
  if (g_state == FolderState::Ending) return false;
  g_state = FolderState::HandedOver;
  return true;
}

void stopIfLauncherEnding() {
  if (launcherEndingElsewhere()) stopForLauncherEnd();
}

void stopIfCancelled() {
  if (childProcessesCancelled()) stopForLauncherEnd();
}

void stopForLauncherEnd() {
  if (GetCurrentThreadId() == g_sequenceThread) SetEvent(g_sequenceStopped);
  for (;;) Sleep(INFINITE);
}

void beginLauncherEnd() {
  std::lock_guard<std::mutex> lock(g_endMutex);
  if (g_state != FolderState::Launching) return;
  g_state = FolderState::Ending;
  g_endingThread = GetCurrentThreadId();
  g_ending = true;
}

void removeExtractionBeforeExit() {
  beginLauncherEnd();
  {
    std::lock_guard<std::mutex> lock(g_endMutex);
    if (g_state == FolderState::HandedOver) return;
    // Otherwise another thread is ending the launcher and removing the folder: this end must not
    // cut it short, and stops below.
    if (g_endingThread == GetCurrentThreadId()) {
      if (g_removing) return;
      g_removing = true;
    }
  }
  if (launcherEndingElsewhere()) stopForLauncherEnd();
  // Nothing the launcher started may go on writing into the folder.
  cancelChildProcesses();
  bool stopped = g_sequenceThread == 0 || g_sequenceThread == GetCurrentThreadId() ||
                 waitForSequenceStop(kSequenceStopWaitMs);
  std::string folder;
  {
    std::lock_guard<std::mutex> lock(g_endMutex);
    folder = g_folder;
  }
  if (folder.empty() || !folderExists(folder)) return;
  if (!stopped) {
    // Its relative paths would land elsewhere once the current directory moved.
    logError("The launch did not stop; %s stays", folder.c_str());
    return;
  }
  leaveFolder(folder);
  logInfo("removing %s", folder.c_str());
  if (!removeFolderTree(folder, kRemovalRetryMs)) logError("Could not remove %s", folder.c_str());
}

bool removeFolderTree(const std::string& folder, unsigned long retryMillis) {
  DWORD start = GetTickCount();
  for (;;) {
    deleteTreeOnce(folder);
    if (!folderExists(folder)) return true;
    if (GetTickCount() - start >= retryMillis) return false;
    Sleep(50);
  }
}
