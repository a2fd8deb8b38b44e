#include "process/child_processes.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

// Ending a child and closing its handle must not cross: the lock keeps a handle from being
// ended after its owner has closed it (and the value reused).
std::mutex g_childMutex;
std::vector<HANDLE> g_children;
std::atomic<bool> g_cancelled{false};

constexpr DWORD kEndWaitMs = 2000;

}  // namespace

void trackChildProcess(HANDLE process) {
  std::lock_guard<std::mutex> lock(g_childMutex);
  if (g_cancelled.load()) {
    TerminateProcess(process, 1);
    return;
  }
  g_children.push_back(process);
}

void untrackChildProcess(HANDLE process) {
  std::lock_guard<std::mutex> lock(g_childMutex);
  g_children.erase(std::remove(g_children.begin(), g_children.end(), process), g_children.end());
}

void cancelChildProcesses() {
  std::lock_guard<std::mutex> lock(g_childMutex);
  g_cancelled = true;
  for (HANDLE child : g_children) TerminateProcess(child, 1);
  for (HANDLE child : g_children) WaitForSingleObject(child, kEndWaitMs);
}

bool childProcessesCancelled() { return g_cancelled.load(); }

DWORD childWaitLimitMs(const char* testVariable, DWORD limitMs) {
  char value[32];
  DWORD n = GetEnvironmentVariableA(testVariable, value, sizeof value);
  if (n == 0 || n >= sizeof value) return limitMs;
  char* end = nullptr;
  unsigned long limit = std::strtoul(value, &end, 10);
  return *end == '\0' && limit > 0 && limit < limitMs ? static_cast<DWORD>(limit) : limitMs;
}

bool waitAnsweringSentMessages(HANDLE object, DWORD waitMs) {
  DWORD start = GetTickCount();
  for (;;) {
    DWORD waited = GetTickCount() - start;
    DWORD left = waited < waitMs ? waitMs - waited : 0;
    DWORD result = MsgWaitForMultipleObjects(1, &object, FALSE, left, QS_SENDMESSAGE);
    if (result == WAIT_OBJECT_0) return true;
    if (result != WAIT_OBJECT_0 + 1) return false;
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}
