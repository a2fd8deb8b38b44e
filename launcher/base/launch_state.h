// What one launch owns, made by the launcher's start and passed down the launch sequence: the
// folder the payload goes to, where the parts of the media file lie, and the runtime chosen.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

struct LaunchState {
  // The fresh folder the included files are extracted into ("<temp file>_dir"), by full path,
  // no trailing backslash; empty until it exists. On a language restart it is the first
  // start's, which is current then. Who removes it, and when, is the launcher end's business.
  std::string extractionFolder;
  // Positions in the media file: right after the configuration record, where the included files
  // begin; and right after the last extracted file, where the Java side's data begins (0 when
  // nothing was extracted).
  int64_t configEnd = 0;
  int64_t unextractedPosition = 0;
  // The runtime last tried: its home (the java executable's directory followed by ".."), and
  // the JNI_CreateJavaVM of its VM library once one is bound.
  std::string runtimeHome;
  FARPROC createJavaVm = nullptr;
};
