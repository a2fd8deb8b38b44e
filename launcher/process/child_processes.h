// The child processes the launcher waits for (unpack200, the version probe): Cancel in the
// progress dialog ends them with the launcher, so none goes on writing after it has gone.
#pragma once
#include <windows.h>

// The launcher waits for this child until untrackChildProcess. A child tracked after Cancel is
// ended at once.
void trackChildProcess(HANDLE process);
// Call before closing the handle.
void untrackChildProcess(HANDLE process);

// Cancel: ends every tracked child (waiting briefly for each to go) and marks the launch as
// cancelled. Any thread may call it.
void cancelChildProcesses();
bool childProcessesCancelled();

// The longest wait for a child, limitMs, unless the tests shorten it through testVariable (read
// only when set; whole milliseconds above 0 and below limitMs, anything else is ignored).
DWORD childWaitLimitMs(const char* testVariable, DWORD limitMs);

// Waits up to waitMs for the object, answering the messages other threads send to this thread's
// windows meanwhile: the thread waited for may be sending to a dialog of this one, and then
// neither would go on. True when the object was signalled.
bool waitAnsweringSentMessages(HANDLE object, DWORD waitMs);
