// Process-wide launcher flags and values, written on the main thread during start-up (and by
// the launch sequence before the threads that read them start), read everywhere else. Every
// process-wide record of the launch is declared here and defined in launch_flags.cpp.
#pragma once
#include <atomic>
#include <string>

struct LaunchFlags {
  bool quietMode = false;               // "-q", "-c", language restart: no windows of our own
  bool manualRuntimeSelection = false;  // "-manual", "/manual", Yes to the recovery question
  bool verifyIntegrity = true;          // cleared by "-nocheck"
  bool languageRestart = false;         // the Java installer restarted us: no extraction, no markers
  bool guiErrors = true;                // errors in message boxes (true) or on standard error
  bool keepLogDefault = false;          // create-log option: keep the log at exit
  void* instance = nullptr;             // module handle for dialogs, icons and the window class
  std::string productCaption;           // "nimbo" or "tessar", caption of launcher-level boxes
  bool jreIncluded = false;             // work thread: a carried "jre.tar.gz" (or "jre") is used
  bool downloadAvailable = false;       // work thread: a download address is configured
  int progressBase = 100;               // work thread, before the window watch starts
  int untarMillis = 0;                  // work thread, before the pack-progress thread starts
  std::atomic<bool> packDone{false};    // set by the work thread, polled by the pack-progress thread
};

extern LaunchFlags g_flags;

// Main thread, ensureSingleInstance: the single-instance semaphore's name (empty until then,
// and on a language restart).
extern std::string g_singleInstanceName;
