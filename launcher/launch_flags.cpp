#include "launch_flags.h"

LaunchFlags g_flags;
