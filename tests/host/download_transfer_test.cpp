#include "runtime/download_transfer.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace {

const std::u16string kShippedFormat = u"%.2f MB of %.2f MB (%.1f%%) at %.1f kb/s";

std::string narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

// A scripted body: each read answers with the next planned size (or the rest of the request),
// the clock advances by a fixed step per reading, and every progress refresh is recorded.
struct ScriptedBody : BodyTransfer {
  std::deque<int> plannedReads;  // -1: read error, 0: connection ended, n: at most n bytes
  uint32_t clock = 1000;
  uint32_t tickStep = 100;
  bool writeFails = false;
  std::vector<uint32_t> readSizesAsked;
  std::string written;
  std::vector<std::pair<uint32_t, uint32_t>> refreshes;  // received, elapsed
  unsigned char next = 0;

  bool read(unsigned char* buffer, uint32_t want, uint32_t& got) override {
    readSizesAsked.push_back(want);
    int planned = static_cast<int>(want);
    if (!plannedReads.empty()) {
      planned = plannedReads.front();
      plannedReads.pop_front();
    }
    if (planned < 0) return false;
    got = static_cast<uint32_t>(planned) < want ? static_cast<uint32_t>(planned) : want;
    for (uint32_t i = 0; i < got; ++i) buffer[i] = next++;
    return true;
  }
  bool write(const unsigned char* data, uint32_t n) override {
    if (writeFails) return false;
    written.append(reinterpret_cast<const char*>(data), n);
    return true;
  }
  uint32_t tickCount() override {
    uint32_t now = clock;
    clock += tickStep;
    return now;
  }
  void showProgress(uint32_t received, uint32_t elapsedMillis) override { refreshes.push_back({received, elapsedMillis}); }
};

}  // namespace

TEST(DownloadBody, ABodyOfWholeChunksIsReadInThatManyFullChunks) {
  ScriptedBody body;
  TransferResult result = copyDownloadBody(body, 3 * kDownloadChunkSize, false);
  EXPECT_EQ(result.outcome, TransferOutcome::complete);
  EXPECT_EQ(result.received, 3 * kDownloadChunkSize);
  EXPECT_EQ(body.readSizesAsked, std::vector<uint32_t>(3, kDownloadChunkSize));
  EXPECT_EQ(body.written.size(), 3 * kDownloadChunkSize);
}

TEST(DownloadBody, TheLastReadAsksOnlyForTheRest) {
  ScriptedBody body;
  EXPECT_EQ(copyDownloadBody(body, kDownloadChunkSize + 5, false).outcome, TransferOutcome::complete);
  EXPECT_EQ(body.readSizesAsked, (std::vector<uint32_t>{kDownloadChunkSize, 5}));
}

TEST(DownloadBody, ShortReadsAreAskedAgainUntilTheLengthArrives) {
  ScriptedBody body;
  body.plannedReads = {7, 1, 3};
  TransferResult result = copyDownloadBody(body, 20, false);
  EXPECT_EQ(result.outcome, TransferOutcome::complete);
  EXPECT_EQ(body.readSizesAsked, (std::vector<uint32_t>{20, 13, 12, 9}));
  std::string expected;
  for (int i = 0; i < 20; ++i) expected += static_cast<char>(i);
  EXPECT_EQ(body.written, expected);
}

TEST(DownloadBody, AConnectionEndedBeforeTheLengthFails) {
  ScriptedBody body;
  body.plannedReads = {10, 0};
  TransferResult result = copyDownloadBody(body, 100, false);
  EXPECT_EQ(result.outcome, TransferOutcome::endedEarly);
  EXPECT_EQ(result.received, 10u);
}

TEST(DownloadBody, AReadErrorFails) {
  ScriptedBody body;
  body.plannedReads = {10, -1};
  TransferResult result = copyDownloadBody(body, 100, false);
  EXPECT_EQ(result.outcome, TransferOutcome::readFailed);
  EXPECT_EQ(result.received, 10u);
}

TEST(DownloadBody, AnAnnouncedLengthOfZeroIsNoArchive) {
  ScriptedBody body;
  EXPECT_EQ(copyDownloadBody(body, 0, true).outcome, TransferOutcome::emptyBody);
  EXPECT_TRUE(body.readSizesAsked.empty());
  EXPECT_TRUE(body.refreshes.empty());
}

TEST(DownloadBody, AFailedWriteStopsTheTransfer) {
  ScriptedBody body;
  body.writeFails = true;
  TransferResult result = copyDownloadBody(body, 3 * kDownloadChunkSize, false);
  EXPECT_EQ(result.outcome, TransferOutcome::writeFailed);
  EXPECT_EQ(body.readSizesAsked.size(), 1u);
}

TEST(DownloadBody, TheFirstChunkRefreshesThenAtMostEveryHalfSecond) {
  ScriptedBody body;
  body.tickStep = 200;  // the start and each chunk read the clock once
  copyDownloadBody(body, 6 * kDownloadChunkSize, true);
  // Chunk ticks: 1200, 1400, ..., 2200; refreshes need more than 500 ms since the last one.
  ASSERT_EQ(body.refreshes.size(), 2u);
  EXPECT_EQ(body.refreshes[0], std::make_pair(kDownloadChunkSize, 200u));
  EXPECT_EQ(body.refreshes[1], std::make_pair(4 * kDownloadChunkSize, 800u));
}

TEST(DownloadBody, RefreshesSurviveTheClockWrappingAround) {
  ScriptedBody body;
  body.clock = 0xFFFFFF00u;
  body.tickStep = 600;
  copyDownloadBody(body, 3 * kDownloadChunkSize, true);
  ASSERT_EQ(body.refreshes.size(), 3u);
  EXPECT_EQ(body.refreshes[2].second, 1800u);
}

TEST(DownloadBody, WithoutAWindowNothingIsShown) {
  ScriptedBody body;
  copyDownloadBody(body, 4 * kDownloadChunkSize, false);
  EXPECT_TRUE(body.refreshes.empty());
}

TEST(DownloadBody, AResumedBodyGoesOnFromTheBytesAlreadyReceived) {
  ScriptedBody body;
  body.tickStep = 600;
  body.plannedReads = {kDownloadChunkSize, 0};
  BodyProgress progress;
  uint32_t length = 3 * kDownloadChunkSize;
  TransferResult first = copyDownloadBody(body, length, true, progress);
  EXPECT_EQ(first.outcome, TransferOutcome::endedEarly);
  EXPECT_EQ(progress.received, kDownloadChunkSize);
  TransferResult rest = copyDownloadBody(body, length, true, progress);
  EXPECT_EQ(rest.outcome, TransferOutcome::complete);
  EXPECT_EQ(rest.received, length);
  EXPECT_EQ(body.written.size(), length);
  // The second piece asks only for what is missing, and its refreshes count the first piece's
  // bytes and time: 1000 start, chunks at 1600 (first piece), 2200 and 2800.
  EXPECT_EQ(body.readSizesAsked, (std::vector<uint32_t>{kDownloadChunkSize, kDownloadChunkSize, kDownloadChunkSize,
                                                        kDownloadChunkSize}));
  ASSERT_EQ(body.refreshes.size(), 3u);
  EXPECT_EQ(body.refreshes[1], std::make_pair(2 * kDownloadChunkSize, 1200u));
  EXPECT_EQ(body.refreshes[2], std::make_pair(3 * kDownloadChunkSize, 1800u));
}

TEST(DownloadRetry, OnlyAConnectionThatStoppedIsAskedAgainWithDoublingPauses) {
  EXPECT_TRUE(retriesAfter(TransferOutcome::endedEarly));
  EXPECT_TRUE(retriesAfter(TransferOutcome::readFailed));
  EXPECT_FALSE(retriesAfter(TransferOutcome::writeFailed));
  EXPECT_FALSE(retriesAfter(TransferOutcome::emptyBody));
  EXPECT_FALSE(retriesAfter(TransferOutcome::complete));
  std::vector<uint32_t> pauses;
  for (int retry = 1; retry <= kDownloadRetries; ++retry) pauses.push_back(retryPauseMillis(retry, kRetryPauseMillis));
  EXPECT_EQ(pauses, (std::vector<uint32_t>{1000, 2000, 4000, 8000, 16000}));
  EXPECT_EQ(retryPauseMillis(3, 50), 200u);
  EXPECT_EQ(retryPauseMillis(0, 50), 0u);
  EXPECT_EQ(retryPauseMillis(40, 1000), 0xFFFFFFFFu);
  EXPECT_EQ(firstRetryPauseMillis(nullptr), kRetryPauseMillis);
  EXPECT_EQ(firstRetryPauseMillis("20"), 20u);
  for (const char* unusable : {"", "0", "1001", "-1", "5 "}) {
    EXPECT_EQ(firstRetryPauseMillis(unusable), 1000u) << unusable;
  }
}

TEST(DownloadRetry, TheValidatorIsAStrongETagElseTheDate) {
  const char* date = "Wed, 09 Dec 2026 10:00:00 GMT";
  EXPECT_EQ(ifRangeValidator("\"abc\"", date), "\"abc\"");
  EXPECT_EQ(ifRangeValidator(" \"abc\"\r", ""), "\"abc\"");
  EXPECT_EQ(ifRangeValidator("W/\"abc\"", date), date);
  EXPECT_EQ(ifRangeValidator("abc", date), date);
  EXPECT_EQ(ifRangeValidator("W/\"abc\"", ""), "");
  EXPECT_EQ(ifRangeValidator("", ""), "");
  EXPECT_EQ(ifRangeValidator("\"a\r\nX-Injected: 1\"", date), date);
  EXPECT_EQ(ifRangeValidator("", "Wed\nX: 1"), "");
}

TEST(DownloadRetry, TheAnswerToARangeContinuesRestartsOrFails) {
  struct Case {
    uint32_t status;
    const char* contentRange;
    uint32_t offset;
    ResumeStep step;
  };
  const uint32_t length = 1000;
  for (const Case& c : std::vector<Case>{
           {206, "bytes 500-999/1000", 500, ResumeStep::continueFile},
           {206, "bytes 0-999/1000", 0, ResumeStep::continueFile},
           {206, "bytes 400-999/1000", 500, ResumeStep::fail},   // not where the file stopped
           {206, "bytes 500-899/1000", 500, ResumeStep::fail},   // not to the end
           {206, "bytes 500-1099/1100", 500, ResumeStep::fail},  // another length: another file
           {206, "", 500, ResumeStep::fail},
           {206, " bytes  500-999/1000 ", 500, ResumeStep::continueFile},
           {206, "bytes 500-999/*", 500, ResumeStep::fail},
           {206, "bytes=500-999/1000", 500, ResumeStep::fail},
           {206, "items 500-999/1000", 500, ResumeStep::fail},
           {206, "bytes 5x0-999/1000", 500, ResumeStep::fail},
           {206, "bytes 500-999/4294968296", 500, ResumeStep::fail},  // 2^32 + 1000
           {200, "", 500, ResumeStep::restart},
           {200, "bytes 500-999/1000", 500, ResumeStep::restart},
           {416, "bytes */1000", 500, ResumeStep::fail},
           {404, "", 500, ResumeStep::fail},
           {500, "", 500, ResumeStep::fail},
           {304, "", 500, ResumeStep::fail},
       }) {
    EXPECT_EQ(judgeResumedAnswer(c.status, c.contentRange, c.offset, length), c.step)
        << c.status << " " << c.contentRange << " at " << c.offset;
  }
}

TEST(ProgressText, ShippedFormatShowsMegabytesPercentageAndSpeed) {
  EXPECT_EQ(narrow(formatDownloadProgress(kShippedFormat, 1048576, 4194304, 2048)),
            "1.00 MB of 4.00 MB (25.0%) at 512.0 kb/s");
}

TEST(ProgressText, NoElapsedTimeShowsNoSpeed) {
  EXPECT_EQ(narrow(formatDownloadProgress(kShippedFormat, 16384, 37038080, 0)),
            "0.02 MB of 35.32 MB (0.0%) at 0.0 kb/s");
}

TEST(ProgressText, TheHundredIsShownOnlyForTheWholeBody) {
  uint32_t length = 37038080;
  // 99.96 % would round to "100.0".
  EXPECT_EQ(narrow(formatDownloadProgress(kShippedFormat, length - kDownloadChunkSize, length, 1000)),
            "35.31 MB of 35.32 MB (99.9%) at 37021.7 kb/s");
  EXPECT_EQ(narrow(formatDownloadProgress(u"%.1f %.1f %.1f", length - 1, length, 1)), "35.3 35.3 99.9");
  EXPECT_EQ(narrow(formatDownloadProgress(u"%.0f %.0f %.1f", length, length, 1)), "35 35 100.0");
}

TEST(ProgressText, ConfiguredConversionsOtherThanFloatingPointStandAsWritten) {
  EXPECT_EQ(narrow(formatDownloadProgress(u"%s %d %n %p %ls %3$.1f %*f", 1, 2, 3)), "%s %d %n %p %ls %3$.1f %*f");
  EXPECT_EQ(narrow(formatDownloadProgress(u"%f %f %f %f %f", 0, 1048576, 0)),
            "0.000000 1.000000 0.000000 0.000000 %f");
  EXPECT_EQ(narrow(formatDownloadProgress(u"%999.1f|%.999f|%", 0, 1, 0)), "%999.1f|%.999f|%");
  EXPECT_EQ(narrow(formatDownloadProgress(u"%+08.3e", 1048576, 1, 0)), "+1.000e+00");
}

TEST(ProgressText, TextAroundTheConversionsIsKeptInFull) {
  std::u16string format = u"\u00e4 %.0f \u20ac";
  std::u16string text = formatDownloadProgress(format, 3 * 1048576, 4 * 1048576, 1);
  EXPECT_EQ(text, u"\u00e4 3 \u20ac");
}

TEST(ProgressBar, PositionIsTheIntegerPartOfThePercentage) {
  EXPECT_EQ(downloadBarPosition(0, 100), 0);
  EXPECT_EQ(downloadBarPosition(199, 200), 99);
  EXPECT_EQ(downloadBarPosition(1, 3), 33);
  EXPECT_EQ(downloadBarPosition(0xFFFFFFFFu, 0xFFFFFFFFu), 100);
  EXPECT_EQ(downloadBarPosition(5, 0), 0);
}

TEST(ReceiveTimeout, ProductWaitsAMinuteTestsMayShortenIt) {
  EXPECT_EQ(receiveTimeoutMillis(nullptr), 60000u);
  EXPECT_EQ(receiveTimeoutMillis("2000"), 2000u);
  EXPECT_EQ(receiveTimeoutMillis("60000"), 60000u);
  for (const char* unusable : {"", "0", "-5", " 100", "100ms", "60001", "99999999999999999999"}) {
    EXPECT_EQ(receiveTimeoutMillis(unusable), 60000u) << unusable;
  }
}

TEST(Sha256Text, SixtyFourHexDigitsInEitherCase) {
  Sha256Digest digest{};
  std::string hex = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
  ASSERT_TRUE(parseSha256Hex(" " + hex + "\n", digest));
  EXPECT_EQ(digest[0], 0xBA);
  EXPECT_EQ(digest[31], 0xAD);
  std::string lower = sha256Hex(digest);
  EXPECT_EQ(lower, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  Sha256Digest again{};
  ASSERT_TRUE(parseSha256Hex(lower, again));
  EXPECT_EQ(again, digest);
}

TEST(Sha256Text, AnythingElseIsRefused) {
  Sha256Digest digest{};
  std::string good(64, 'a');
  EXPECT_FALSE(parseSha256Hex("", digest));
  EXPECT_FALSE(parseSha256Hex(good.substr(1), digest));
  EXPECT_FALSE(parseSha256Hex(good + "a", digest));
  EXPECT_FALSE(parseSha256Hex(good.substr(1) + "g", digest));
  EXPECT_FALSE(parseSha256Hex(good.substr(0, 32) + " " + good.substr(33), digest));
  EXPECT_FALSE(parseSha256Hex("0x" + good.substr(2), digest));
}
