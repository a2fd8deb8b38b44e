#include "media/integrity.h"

#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/launch_flags.h"
#include "base/log.h"
#include "base/win_text.h"
#include "config/configured_messages.h"
#include "config/launcher_config.h"
#include "dialogs.h"
#include "launch_end.h"
#include "media/media_file.h"
#include "media/progress_pacer.h"

namespace {

// Large reads: each is a round trip through Wine. The CRC runs over slices of each block, so
// that the bar can move within a block when the check is slow.
constexpr DWORD kCheckBlockSize = 1 << 20;
constexpr DWORD kCheckSliceSize = 1 << 16;

// CRC-32 of length bytes from the handle's position; progress in whole percent.
uint32_t checksumOf(HANDLE media, int64_t length, HWND progressWindow) {
  std::vector<unsigned char> buffer(kCheckBlockSize);
  unsigned char* block = buffer.data();
  uLong crc = crc32(0L, Z_NULL, 0);
  int64_t done = 0;
  ProgressPacer pacer = startProgressPacer(length, GetTickCount());
  while (done < length) {
    // A Cancel waits for this thread before it removes what was extracted.
    stopIfLauncherEnding();
    DWORD want = static_cast<DWORD>(length - done < kCheckBlockSize ? length - done : kCheckBlockSize);
    DWORD got = 0;
    if (!ReadFile(media, block, want, &got, nullptr) || got == 0) {
      logInfo("check ReadFile failed %lu %lu %lld", GetLastError(), got, static_cast<long long>(done));
      fatalInternalError(InternalError::PayloadNotReadable);
    }
    for (DWORD offset = 0; offset < got; offset += kCheckSliceSize) {
      DWORD slice = got - offset < kCheckSliceSize ? got - offset : kCheckSliceSize;
      crc = crc32(crc, block + offset, slice);
      done += slice;
      if (!progressWindow) continue;
      int percent = progressToShow(pacer, done, GetTickCount());
      if (percent >= 0) setProgressPosition(progressWindow, percent);
    }
  }
  return static_cast<uint32_t>(crc);
}

[[noreturn]] void reportCorrupted(HWND progressWindow) {
  // An unattended installation must not wait on a box nobody sees.
  if (g_flags.quietMode) {
    std::fprintf(stderr, "%s\n", wideToAnsi(asWide(config::corruptedFileText())).c_str());
    std::fflush(stderr);
  } else {
    showWizardMessage(progressWindow, entry::kCorruptedFileText, MB_ICONERROR | MB_OK);
  }
  exitNormally(1);
}

}  // namespace

void verifyMediaIntegrity(HWND progressWindow) {
  FileHandle media = openMediaFile();
  MediaFileSource source(media.h);
  int64_t start = locateAppendedData(source);
  logInfo("starting at %d", static_cast<int>(start));
  SourceReader reader(source, static_cast<uint64_t>(start));
  MediaHeader header = readOrEnd([&] { return readMediaHeader(reader); });
  uint32_t expected = 1, actual = 0;  // a missing magic fails
  if (header.magic == kMediaMagic) {
    expected = 0;
    if (!g_flags.verifyIntegrity || header.checksumFlag == 0) {
      setProgressRange(progressWindow, 100, 400);
      setProgressPosition(progressWindow, 101);
    } else {
      expected = header.storedChecksum;
      int64_t length = header.checkedLength;
      logInfo("verifying integrity length %lld", static_cast<long long>(length));
      if (length < 0) {
        // Not a length any writer produces: the header itself is damaged.
        actual = ~expected;
      } else {
        seekMediaFile(media.h, static_cast<int64_t>(reader.position()));
        actual = checksumOf(media.h, length, progressWindow);
      }
      logInfo("checksums: %u %u %d %d", actual, expected, static_cast<int>(actual), static_cast<int>(expected));
    }
  }
  media.close();
  if (expected == actual) return;
  reportCorrupted(progressWindow);
}
