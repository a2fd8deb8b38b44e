// The launcher's own end before the Java program runs: what it extracted goes with it. Once the
// Java program is about to be called, the extraction folder is the Java program's to remove.
#pragma once
#include <string>

// The thread that runs the launch sequence (and writes into the extraction folder).
void registerSequenceThread();
// The extraction folder exists: an end of the launcher from now on removes it.
void armExtractionRemoval(const std::string& folder);
// The Java program is about to be called: the folder is left to it. False when another thread is
// already ending the launcher; the caller then stops for good (stopForLauncherEnd)..
bool handExtractionToJavaProgram();
// Another thread is ending the launcher: what this one would write goes with the folder.
bool launcherEndingElsewhere();
// Stops the calling thread for good when another thread is ending the launcher; a sequence
// thread that stops here tells the ending thread that nothing writes into the folder any more.
void stopIfLauncherEnding();
[[noreturn]] void stopForLauncherEnd();
// After Cancel, a child's end is no result: the thread that waited for it stops here for good,
// while the thread that cancelled ends the process.
void stopIfCancelled();
// Claims the launcher's end for the calling thread before it ends what the sequence thread waits
// for (children, a download): the sequence thread then stops rather than report their failure or
// go on. Nothing once the folder is the Java program's or another thread ends the launcher.
void beginLauncherEnd();
// Called on every end of the launcher (exit handlers or not): unless the folder was handed to the
// Java program, stops the children and the sequence thread and removes the folder.
void removeExtractionBeforeExit();
// Removes folder with everything in it, retrying a while where files are still held (an ended
// child's handles close a moment after it has gone). True when the folder is gone.
bool removeFolderTree(const std::string& folder, unsigned long retryMillis);
