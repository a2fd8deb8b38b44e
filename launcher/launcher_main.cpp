#include "launcher_main.h"

#include <string>
#include <vector>

#include "command_line.h"
#include "errors.h"
#include "launch_flags.h"
#include "launch_sequence.h"
#include "log.h"
#include "media/config_loader.h"
#include "win_text.h"

int launcherMain(HINSTANCE instance, const char* /*commandTail*/) {
  g_flags.instance = instance;
  std::vector<std::u16string> args;
  bool complete = splitCommandLine(asUtf16(GetCommandLineW()), args);
  loadLauncherConfig();
  // The message for a broken command line is configured, so it can only be shown now.
  if (!complete) fatalConfigError(1007);
  for (const std::u16string& arg : args) {
    if (arg == u"-q") {
      g_flags.quietMode = true;
      useConsoleErrors();
    } else if (arg == u"-nocheck") {
      g_flags.verifyIntegrity = false;
    }
  }
  logInfo("Init done");
  runLaunchSequence(nullptr);
  return 0;
}

// The C runtime's start-up hands over the command line without the program name.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
  return launcherMain(instance, commandTail);
}
