#include "media/progress_pacer.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ProgressPacer, MovesByWholePercentAtMostOncePerInterval) {
  ProgressPacer pacer = startProgressPacer(1000, 5000);
  EXPECT_EQ(progressToShow(pacer, 100, 5010), -1) << "too soon after the start";
  EXPECT_EQ(progressToShow(pacer, 200, 5050), 20);
  EXPECT_EQ(progressToShow(pacer, 300, 5099), -1) << "too soon after the last move";
  EXPECT_EQ(progressToShow(pacer, 305, 5100), 30);
  EXPECT_EQ(progressToShow(pacer, 309, 5300), -1) << "the same whole percent";
}

TEST(ProgressPacer, TheEndIsAlwaysShown) {
  ProgressPacer pacer = startProgressPacer(1000, 0);
  EXPECT_EQ(progressToShow(pacer, 500, 60), 50);
  EXPECT_EQ(progressToShow(pacer, 1000, 61), 100);
  EXPECT_EQ(progressToShow(pacer, 1000, 200), -1) << "shown once";
}

TEST(ProgressPacer, SurvivesTheWrapOfTheTickCounter) {
  ProgressPacer pacer = startProgressPacer(100, 0xFFFFFFF0u);
  EXPECT_EQ(progressToShow(pacer, 10, 0xFFFFFFFFu), -1);
  EXPECT_EQ(progressToShow(pacer, 20, 0x30u), 20);
}

TEST(ProgressPacer, ASlowCheckOfSixMegabytesMovesAboutAHundredTimes) {
  // 64 KiB slices of 6 MiB, 60 ms apart: the bar moves at nearly every whole percent.
  const int64_t total = 6 << 20;
  ProgressPacer pacer = startProgressPacer(total, 0);
  std::vector<int> shown;
  uint32_t now = 0;
  for (int64_t done = 1 << 16; done <= total; done += 1 << 16) {
    now += 60;
    int percent = progressToShow(pacer, done, now);
    if (percent >= 0) shown.push_back(percent);
  }
  EXPECT_GE(shown.size(), 90u);
  EXPECT_EQ(shown.back(), 100);
  for (std::size_t i = 1; i < shown.size(); ++i) EXPECT_GT(shown[i], shown[i - 1]);
}

TEST(ProgressPacer, AFastCheckShowsOnlyTheEnd) {
  ProgressPacer pacer = startProgressPacer(6 << 20, 0);
  int moves = 0, last = -1;
  for (int64_t done = 1 << 16; done <= (6 << 20); done += 1 << 16) {
    int percent = progressToShow(pacer, done, 10);
    if (percent >= 0) ++moves, last = percent;
  }
  EXPECT_EQ(moves, 1);
  EXPECT_EQ(last, 100);
}

TEST(ProgressPacer, NothingToShowForAnEmptyOrNegativeAmount) {
  ProgressPacer empty = startProgressPacer(0, 0);
  EXPECT_EQ(progressToShow(empty, 0, 1000), -1);
  ProgressPacer pacer = startProgressPacer(100, 0);
  EXPECT_EQ(progressToShow(pacer, -5, 1000), -1);
  EXPECT_EQ(progressToShow(pacer, 500, 1000), 100) << "more than the total counts as the end";
}
