#include "launcher_main.h"

#include "launch_flags.h"
#include "log.h"

int launcherMain(HINSTANCE instance, const char* /*commandTail*/) {
  g_flags.instance = instance;
  logInfo("Init done");
  return 0;
}

// The C runtime's start-up hands over the command line without the program name.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
  return launcherMain(instance, commandTail);
}
