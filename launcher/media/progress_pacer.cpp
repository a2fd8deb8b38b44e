#include "media/progress_pacer.h"

ProgressPacer startProgressPacer(int64_t total, uint32_t startMs, uint32_t intervalMs) {
  ProgressPacer pacer;
  pacer.total = total;
  pacer.intervalMs = intervalMs;
  pacer.lastMoveMs = startMs;
  return pacer;
}

int progressToShow(ProgressPacer& pacer, int64_t done, uint32_t nowMs) {
  if (pacer.total <= 0 || done < 0) return -1;
  if (done > pacer.total) done = pacer.total;
  int percent = static_cast<int>(done * 100 / pacer.total);
  if (percent <= pacer.lastPercent) return -1;
  bool finished = done == pacer.total;
  // Unsigned difference: right across the wrap of the tick counter.
  if (!finished && nowMs - pacer.lastMoveMs < pacer.intervalMs) return -1;
  pacer.lastPercent = percent;
  pacer.lastMoveMs = nowMs;
  return percent;
}
