// The Windows side of the VM launch's platform.
#pragma once
#include "base/launch_state.h"

// The launch whose values the VM launch reads (extraction folder, positions, runtime): the launch
// sequence binds its state before the first variable is expanded; it outlives the process's work.
void bindLaunchState(const LaunchState& state);
