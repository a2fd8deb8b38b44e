#include "base/launch_flags.h"

LaunchFlags g_flags;
int64_t g_configEndPosition = 0;
std::string g_singleInstanceName;
std::string g_tempDir;
int64_t g_unextractedPosition = 0;
