#include "base/launch_flags.h"

LaunchFlags g_flags;
std::string g_singleInstanceName;
