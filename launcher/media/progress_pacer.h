// When a long check moves the progress bar: by whole percent of the work done, no more often
// than once per interval (each move is a message to another thread's window), and always at
// the end, so that the bar never stops short of the last value.
#pragma once
#include <cstdint>

struct ProgressPacer {
  int64_t total = 0;          // units of work in all (bytes)
  uint32_t intervalMs = 50;   // least time between two moves
  uint32_t lastMoveMs = 0;    // tick of the last move (or of the start)
  int lastPercent = 0;        // percent last shown
};

// A pacer for total units, started at the tick startMs.
ProgressPacer startProgressPacer(int64_t total, uint32_t startMs, uint32_t intervalMs = 50);

// The percent to show after done units at the tick nowMs (a millisecond counter that may wrap),
// or -1 when the bar stays as it is.
int progressToShow(ProgressPacer& pacer, int64_t done, uint32_t nowMs);
